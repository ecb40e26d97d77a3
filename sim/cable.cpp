#include "cable.h"

#include <sstream>

#include "link/protocol.h"

using namespace wire;

namespace {

// The byte that a change hits: the first data byte, or the last before the F7 of a
// message too short to have one.
std::size_t changedAt(const Bytes& m) { return m.size() > kDataAt + 1 ? kDataAt : m.size() - 2; }

}  // namespace

bool Cable::losesNextByte() {
    ++bytes_;
    const bool twoOfSix = config_.loseTwoOfSix && bytes_ % 6 >= 4;
    const bool turn = config_.dropByte != 0 && bytes_ >= config_.dropByte && (bytes_ - config_.dropByte) % 256 == 0;
    return twoOfSix || turn;
}

void Cable::receive(const Bytes& message) {
    ++messages_;
    // An interface senses for itself, whatever the cable carries.
    if (config_.sensingEvery != 0 && messages_ % config_.sensingEvery == 0) {
        outbox_.put({{kActiveSensing}, false, {}});
        ++sensing_;
    }
    if (config_.loseEvery != 0 && messages_ % config_.loseEvery == 0) {
        ++lost_;
        bytes_ += message.size();
        return;
    }
    Bytes in = message;
    if (config_.changeEvery != 0 && messages_ % config_.changeEvery == 0 && in.size() >= 3) in[changedAt(in)] ^= 1;
    Bytes out;
    for (const std::uint8_t byte : in) {
        if (!losesNextByte()) out.push_back(byte);
    }
    if (config_.cutAt != 0 && out.size() > config_.cutAt) {
        out.resize(config_.cutAt);
        out.back() = kEndSysEx;
    }
    spoiled_ += out != message;
    const auto hold = std::chrono::microseconds(config_.byteTimeUs) * message.size();
    if (!out.empty()) outbox_.put({out, false, hold});
}

std::string Cable::summary() const {
    std::ostringstream text;
    text << "loopback cable: " << messages_ << " messages carried, " << spoiled_ << " spoiled, " << lost_
         << " lost, " << sensing_ << " Active Sensing added";
    return text.str();
}
