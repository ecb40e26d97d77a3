#include "app/modes.h"

#include "link/commands.h"

namespace {

// Waits for the handheld's answer and writes the result between two line breaks.
void reportSwitch(Link& link, Console& console, int expectedStatus, const char* success) {
    waitForFirstMessage(link);
    const bool ok = answerStatus(link.inMessage) == expectedStatus;
    writeLine(console, "");
    writeLine(console, ok ? success : "error");
}

}  // namespace

void switchSync(Link& link, Console& console, bool permanent) {
    pause(link, kCommandPauseMs);
    link.inMessage.clear();
    pause(link, kCommandPauseMs);
    sendCommand(link, permanent ? Command::SyncPermanent : Command::Sync);
    reportSwitch(link, console, wire::kStatusSync, permanent ? "Sync mode activated permanently." : "Sync mode activated.");
}

void switchMidi(Link& link, Console& console, bool permanent, std::uint8_t delay) {
    // A byte of 128 or more inside a System Exclusive message is a status byte: the
    // interface or the handheld would cut the command short and never answer.
    if (delay > wire::kDataBits) {
        writeLine(console, "");
        writeLine(console, "The delay must be between 0 and 127; nothing was sent.");
        return;
    }
    link.inMessage.clear();
    pause(link, kCommandPauseMs);
    sendCommand(link, permanent ? Command::MidiPermanent : Command::Midi, delay);
    reportSwitch(link, console, wire::kStatusMidi, permanent ? "MIDI mode activated permanently." : "MIDI mode activated.");
}

void switchMidiReceive(Link& link, Console& console, bool permanent) {
    link.inMessage.clear();
    pause(link, kCommandPauseMs);
    sendCommand(link, permanent ? Command::MidiReceivePermanent : Command::MidiReceive);
    reportSwitch(link, console, wire::kStatusReady,
                 permanent ? "MIDI receive mode activated permanently." : "MIDI receive mode activated.");
}
