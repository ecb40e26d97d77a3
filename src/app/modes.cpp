#include "app/modes.h"

#include <optional>

#include "link/commands.h"

namespace {

// The result between two line breaks: whether the handheld answered with the status the
// switch asks for.
void reportSwitch(Console& console, std::optional<std::uint8_t> answered, std::uint8_t expected, const char* success) {
    writeLine(console, "");
    writeLine(console, answered == expected ? success : "error");
}

}  // namespace

void switchSync(Link& link, Console& console, bool permanent) {
    pause(link, kCommandPauseMs);
    pause(link, kCommandPauseMs);
    const auto answered = switchMode(link, permanent ? Command::SyncPermanent : Command::Sync);
    reportSwitch(console, answered, wire::kStatusSync, permanent ? "Sync mode activated permanently." : "Sync mode activated.");
}

void switchMidi(Link& link, Console& console, bool permanent, std::uint8_t delay) {
    // A byte of 128 or more inside a System Exclusive message is a status byte: the
    // interface or the handheld would cut the command short and never answer.
    if (delay > wire::kDataBits) {
        writeLine(console, "");
        writeLine(console, "The delay must be between 0 and 127; nothing was sent.");
        return;
    }
    pause(link, kCommandPauseMs);
    const auto answered = switchMode(link, permanent ? Command::MidiPermanent : Command::Midi, delay);
    reportSwitch(console, answered, wire::kStatusMidi, permanent ? "MIDI mode activated permanently." : "MIDI mode activated.");
}

void switchMidiReceive(Link& link, Console& console, bool permanent) {
    pause(link, kCommandPauseMs);
    const auto answered = switchMode(link, permanent ? Command::MidiReceivePermanent : Command::MidiReceive);
    reportSwitch(console, answered, wire::kStatusReady,
                 permanent ? "MIDI receive mode activated permanently." : "MIDI receive mode activated.");
}
