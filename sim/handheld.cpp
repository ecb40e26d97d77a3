#include "handheld.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "link/protocol.h"

using namespace wire;

namespace {

constexpr std::uint8_t kEnd = kEndSysEx;
// The handheld's own sub-IDs, which the program never reads: its answer to a command,
// and its acknowledgement of a block.
constexpr std::uint8_t kStatusSubId = 0x7F;
constexpr std::uint8_t kBlockAckSubId = 0x03;
// Another maker's System Exclusive.
constexpr std::uint8_t kOtherMaker = kNonCommercial;

bool isCommand(const Bytes& m) {
    return m.size() == kCommandLength && m[0] == kSysEx && m[1] == kNonRealTime &&
           m[2] == kHandheldDevice && m[3] == kFileDump && m[6] == kTag[0] && m[7] == kTag[1] &&
           m[8] == kTag[2] && m.back() == kEnd;
}

bool isDataPacket(const Bytes& m) {
    return m.size() >= kBytePacketLength && m[0] == kSysEx && m[1] == kNonRealTime &&
           m[3] == kFileDump && m[4] == kDataPacket && m.back() == kEnd;
}

// Packs bytes into 7-bit groups: a flag byte with the high bits, then the low bits.
void pack(Bytes& out, const std::vector<std::uint8_t>& data) {
    for (std::size_t start = 0; start < data.size(); start += kGroupBytes) {
        const std::size_t n = std::min<std::size_t>(kGroupBytes, data.size() - start);
        std::uint8_t flag = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if (data[start + i] & 0x80) flag |= static_cast<std::uint8_t>(kFirstFlagBit >> i);
        }
        out.push_back(flag);
        for (std::size_t i = 0; i < n; ++i) out.push_back(data[start + i] & kDataBits);
    }
}

Bytes dataMessage(std::uint8_t number, const std::vector<std::uint8_t>& data) {
    Bytes m = {kSysEx, kNonRealTime, kDataDevice, kFileDump, kDataPacket, number, 0};
    pack(m, data);
    m[kCountAt] = static_cast<std::uint8_t>(m.size() - kDataAt - 1);
    m.push_back(kChecksum);
    m.push_back(kEnd);
    return m;
}

Bytes statusMessage(int status) {
    return {kSysEx, kNonRealTime, kHandheldDevice, kFileDump, kStatusSubId, 0x00, 0x00,
            static_cast<std::uint8_t>(status), 0x00, kEnd};
}

std::size_t minimumAnswer(std::size_t payload) {
    return payload == 1 ? kByteAnswerLength : payload == 4 ? kWordAnswerLength : kBlockAnswerLength;
}

}  // namespace

std::vector<std::uint8_t> unpackPayload(const Bytes& packet) {
    std::vector<std::uint8_t> data;
    if (packet.size() < 10) return data;
    const std::size_t end = packet.size() - 2;  // checksum byte, then 0xF7
    std::size_t i = kDataAt;
    while (i < end) {
        const std::uint8_t flag = packet[i++];
        for (int k = 0; k < kGroupBytes && i < end; ++k, ++i) {
            const bool high = (flag & (kFirstFlagBit >> k)) != 0;
            data.push_back(static_cast<std::uint8_t>(packet[i] | (high ? 0x80 : 0)));
        }
    }
    return data;
}

Bytes byteMessage(std::uint8_t number, std::uint8_t value) {
    return dataMessage(number, {value});
}

Bytes strayMessage(const std::string& kind) {
    if (kind == "channel") return {0x90, 0x3C, 0x40};
    if (kind == "short") return {kSysEx, kNonRealTime, kEnd};
    if (kind == "sysex") return {kSysEx, kOtherMaker, 0x00, 0x01, 0x02, 0x7F, 0x01, 0x02, 0x03, 0x04, kEnd};
    if (kind == "identity") {
        // To every device (7F), general information (06), identity reply (02), a maker
        // (41), its family, model and version.
        return {kSysEx, kNonRealTime, 0x7F, 0x06, 0x02, 0x41, 0x00, 0x00, 0x19, 0x00, 0x01, 0x00, 0x00, kEnd};
    }
    throw std::invalid_argument("unknown stray kind: " + kind);
}

std::string hexLine(const Bytes& m) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < m.size(); ++i) {
        if (i) text += ' ';
        text += digits[m[i] >> 4];
        text += digits[m[i] & 0xF];
    }
    return text;
}

Handheld::Handheld(HandheldConfig config) : config_(std::move(config)), gba_(config_.gba) {}

void Handheld::receive(const Bytes& message) {
    ++messagesReceived_;
    if (isCommand(message)) {
        ++commands_;
        answerCommand(message);
    } else if (isDataPacket(message)) {
        answerData(message);
    }
}

void Handheld::answerCommand(const Bytes& m) {
    const bool request = m[kKindAt] == kDumpRequest;
    const std::uint8_t letter = m[kLetterAt];
    const bool midi = letter == kLetterMidi || letter == kLetterMidiPermanent;
    int status = -1;
    if (letter == kLetterBegin && !request) {
        ++beginUploads_;
        uploaded_.clear();
        multiboot_ = false;
        return;  // an upload announcement is never answered
    }
    if (letter == kLetterBegin) status = kStatusReady;
    if ((letter == kLetterSync || letter == kLetterSyncPermanent) && !request) status = kStatusSync;
    if (midi && !request) status = kStatusMidi;
    if (midi && request) status = kStatusReady;
    if (status < 0 || config_.silent) return;

    for (const Bytes& stray : config_.strayBeforeAnswer) emit(stray);
    emit(statusMessage(config_.commandStatus.value_or(status)));
    if (letter != kLetterBegin) return;
    for (std::size_t i = 0; i < config_.bank.size(); ++i) {
        for (const auto& stray : config_.bankStrays) {
            if (stray.first == i) emit(stray.second, true);
        }
        const bool left = std::any_of(config_.bankHoles.begin(), config_.bankHoles.end(), [i](const auto& hole) {
            return i >= hole.first && i < hole.first + hole.second;
        });
        const auto number = config_.bankNumber.value_or(static_cast<std::uint8_t>(i & kNumberMask));
        if (!left) emit(byteMessage(number, config_.bank[i]), true);
    }
}

namespace {

std::uint32_t wordAt(const std::vector<std::uint8_t>& payload, std::size_t at) {
    return (std::uint32_t(payload[at]) << 24) | (std::uint32_t(payload[at + 1]) << 16) |
           (std::uint32_t(payload[at + 2]) << 8) | payload[at + 3];
}

}  // namespace

void Handheld::answerData(const Bytes& m) {
    ++dataPackets_;
    if (dataPackets_ > config_.answerPackets) return;
    const std::uint8_t number = m[kNumberAt];
    const std::vector<std::uint8_t> payload = unpackPayload(m);
    Bytes answer = answerFor(number, payload);
    if (answer.empty()) return;
    bytesUploaded_ += payload.size();
    multiboot_ = payload.size() != 1;
    emitWithFault(answer, minimumAnswer(payload.size()));
    lastAnswer_ = answer;
}

// A byte is echoed, a word exchanged with the console, a block acknowledged; any
// other payload gets no answer (empty).
Bytes Handheld::answerFor(std::uint8_t number, const std::vector<std::uint8_t>& payload) {
    if (payload.size() == 1) {
        uploaded_.push_back(payload[0]);
        return byteMessage(number, payload[0]);
    }
    if (payload.size() == 4) {
        const std::uint32_t reply = gba_.exchange(wordAt(payload, 0));
        return dataMessage(number, {static_cast<std::uint8_t>(reply >> 24), static_cast<std::uint8_t>(reply >> 16),
                                    static_cast<std::uint8_t>(reply >> 8), static_cast<std::uint8_t>(reply)});
    }
    if (payload.size() == 16) {
        std::uint32_t words[4];
        for (std::size_t w = 0; w < 4; ++w) words[w] = wordAt(payload, 4 * w);
        gba_.block(words);
        return {kSysEx, kNonRealTime, kDataDevice, kFileDump, kBlockAckSubId, number, kEnd};
    }
    return {};
}

// The answer, with this packet's fault, if it gets one, ahead of it or instead of it.
void Handheld::emitWithFault(const Bytes& answer, std::size_t shortest) {
    Fault fault = Fault::None;
    if (config_.faultEvery != 0 && dataPackets_ % config_.faultEvery == 0 && !config_.faultKinds.empty()) {
        fault = config_.faultKinds[faultsInjected_++ % config_.faultKinds.size()];
    }
    const std::uint8_t otherNumber = static_cast<std::uint8_t>((answer[kNumberAt] + 64) & kNumberMask);
    switch (fault) {
        case Fault::WrongNumber: {
            Bytes wrong = answer;
            wrong[kNumberAt] = otherNumber;
            emit(wrong);
            break;
        }
        case Fault::Stale:
            if (!lastAnswer_.empty()) emit(lastAnswer_);
            break;
        case Fault::Short: emit(Bytes(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(shortest) - 1)); break;
        case Fault::Channel: emit(strayMessage("channel")); break;
        case Fault::UnrelatedSysEx:
            emit({kSysEx, kOtherMaker, 0x00, 0x01, 0x02, otherNumber, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, kEnd});
            break;
        case Fault::None:
        case Fault::Duplicate: break;
    }
    emit(answer);
    if (fault == Fault::Duplicate) emit(answer);
}

std::string Handheld::summary() const {
    std::ostringstream text;
    text << messagesReceived_ << " messages received, " << commands_ << (commands_ == 1 ? " command, " : " commands, ")
         << dataPackets_ << " data packets, " << beginUploads_
         << (beginUploads_ == 1 ? " upload of " : " uploads of ") << bytesUploaded_ << " bytes in all, "
         << faultsInjected_ << " faults injected";
    return text.str();
}
