#include "link/commands.h"

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

}  // namespace

void sendCommand(Link& link, Command command, std::uint8_t delay) {
    const CommandForm f = formOf(command, delay);
    const Bytes message = {kSysEx,  kNonRealTime, kHandheldDevice, kFileDump, f.subId2, 0x00, kTag[0],
                           kTag[1], kTag[2],      f.letter,        f.parameter, 0x00,   kEndSysEx};
    sendMessage(link, message);
}

const Bytes& waitForFirstMessage(Link& link) {
    for (;;) {
        const Bytes& message = pollMessage(link, true);
        if (!message.empty()) return message;
    }
}

std::optional<std::uint8_t> switchMode(Link& link, Command command, std::uint8_t delay) {
    sendCommand(link, command, delay);
    return answerStatus(waitForFirstMessage(link));
}

std::optional<std::uint8_t> answerStatus(const Bytes& message) {
    if (message.size() <= kStatusAt) return std::nullopt;
    return message[kStatusAt];
}
