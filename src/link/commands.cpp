#include "link/commands.h"

#include <iterator>

#include "link/link.h"

namespace {

struct CommandForm {
    std::uint8_t subId2;
    std::uint8_t letter;
    std::uint8_t parameter;
};

CommandForm formOf(Command command, std::uint8_t delay) {
    switch (command) {
        case Command::BeginUpload: return {0x01, 'b', 26};
        case Command::Sync: return {0x01, 's', 26};
        case Command::SyncPermanent: return {0x01, 'S', 26};
        case Command::Midi: return {0x01, 'm', delay};
        case Command::MidiPermanent: return {0x01, 'M', delay};
        case Command::MidiReceive: return {0x03, 'm', 0};
        case Command::MidiReceivePermanent: return {0x03, 'M', 0};
        case Command::BeginReceive: return {0x03, 'b', 0};
    }
    return {0x01, 'b', 26};
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
    const std::uint8_t message[] = {0xF0, 0x7E, 0x54, 0x07, f.subId2,   0x00, 'T',
                                    'P',  'D',  f.letter, f.parameter, 0x00, 0xF7};
    st.outMessage.assign(std::begin(message), std::end(message));
    sendOutMessage(st);
}

void waitForFirstMessage(ProgramState& st) {
    do {
        pollMessage(st);
    } while (st.inMessage.empty());
}

int answerStatus(const Bytes& message) {
    return message.size() >= 8 ? message[7] : -1;
}

void switchSync(ProgramState& st, bool permanent) {
    pause(st, 500);
    st.inMessage.clear();
    pause(st, 500);
    sendCommand(st, permanent ? Command::SyncPermanent : Command::Sync);
    reportSwitch(st, 4, permanent ? "Sync mode activated permanently." : "Sync mode activated.");
}

void switchMidi(ProgramState& st, bool permanent) {
    // A byte of 128 or more inside a System Exclusive message is a status byte: the
    // interface or the handheld would cut the command short and never answer.
    if (st.delay > 0x7F) {
        writeLine(st, "");
        writeLine(st, "The delay must be between 0 and 127; nothing was sent.");
        return;
    }
    st.inMessage.clear();
    pause(st, 500);
    sendCommand(st, permanent ? Command::MidiPermanent : Command::Midi, st.delay);
    reportSwitch(st, 0, permanent ? "MIDI mode activated permanently." : "MIDI mode activated.");
}

void switchMidiReceive(ProgramState& st, bool permanent) {
    st.inMessage.clear();
    pause(st, 500);
    sendCommand(st, permanent ? Command::MidiReceivePermanent : Command::MidiReceive);
    reportSwitch(st, 6,
                 permanent ? "MIDI receive mode activated permanently."
                           : "MIDI receive mode activated.");
}
