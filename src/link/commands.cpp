#include "link/commands.h"

#include <iterator>

#include "link/link.h"

using namespace wire;

namespace {

struct CommandForm {
    std::uint8_t subId2;
    std::uint8_t letter;
    std::uint8_t parameter;
};

CommandForm formOf(Command command, std::uint8_t delay) {
    switch (command) {
        case Command::BeginUpload: return {kDumpHeader, kLetterBegin, kDefaultDelay};
        case Command::Sync: return {kDumpHeader, kLetterSync, kDefaultDelay};
        case Command::SyncPermanent: return {kDumpHeader, kLetterSyncPermanent, kDefaultDelay};
        case Command::Midi: return {kDumpHeader, kLetterMidi, delay};
        case Command::MidiPermanent: return {kDumpHeader, kLetterMidiPermanent, delay};
        case Command::MidiReceive: return {kDumpRequest, kLetterMidi, kNoParameter};
        case Command::MidiReceivePermanent: return {kDumpRequest, kLetterMidiPermanent, kNoParameter};
        case Command::BeginReceive: return {kDumpRequest, kLetterBegin, kNoParameter};
    }
    return {kDumpHeader, kLetterBegin, kDefaultDelay};
}

// Waits for the handheld's answer and writes the result between two line breaks.
void reportSwitch(ProgramState& st, int expectedStatus, const char* success) {
    waitForFirstMessage(st);
    const bool ok = answerStatus(st.inMessage) == expectedStatus;
    writeLine(st, "");
    writeLine(st, ok ? success : "error");
}

}  // namespace

void sendCommand(ProgramState& st, Command command, std::uint8_t delay) {
    const CommandForm f = formOf(command, delay);
    const std::uint8_t message[kCommandLength] = {
        kSysEx, kNonRealTime, kHandheldDevice, kFileDump, f.subId2, 0x00, kTag[0],
        kTag[1], kTag[2],     f.letter,        f.parameter, 0x00, kEndSysEx};
    st.outMessage.assign(std::begin(message), std::end(message));
    sendOutMessage(st);
}

void waitForFirstMessage(ProgramState& st) {
    do {
        pollMessage(st, true);
    } while (st.inMessage.empty());
}

int answerStatus(const Bytes& message) {
    return message.size() > kStatusAt ? message[kStatusAt] : -1;
}

void switchSync(ProgramState& st, bool permanent) {
    pause(st, kCommandPauseMs);
    st.inMessage.clear();
    pause(st, kCommandPauseMs);
    sendCommand(st, permanent ? Command::SyncPermanent : Command::Sync);
    reportSwitch(st, kStatusSync, permanent ? "Sync mode activated permanently." : "Sync mode activated.");
}

void switchMidi(ProgramState& st, bool permanent) {
    // A byte of 128 or more inside a System Exclusive message is a status byte: the
    // interface or the handheld would cut the command short and never answer.
    if (st.delay > kDataBits) {
        writeLine(st, "");
        writeLine(st, "The delay must be between 0 and 127; nothing was sent.");
        return;
    }
    st.inMessage.clear();
    pause(st, kCommandPauseMs);
    sendCommand(st, permanent ? Command::MidiPermanent : Command::Midi, st.delay);
    reportSwitch(st, kStatusMidi, permanent ? "MIDI mode activated permanently." : "MIDI mode activated.");
}

void switchMidiReceive(ProgramState& st, bool permanent) {
    st.inMessage.clear();
    pause(st, kCommandPauseMs);
    sendCommand(st, permanent ? Command::MidiReceivePermanent : Command::MidiReceive);
    reportSwitch(st, kStatusReady,
                 permanent ? "MIDI receive mode activated permanently."
                           : "MIDI receive mode activated.");
}
