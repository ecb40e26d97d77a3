#include "link/link.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kSysEx = 0xF0;
constexpr std::uint8_t kEndSysEx = 0xF7;

// Some backends hand over several complete System Exclusive messages as one. Split
// them so the link sees each on its own and no byte of a transfer is lost.
bool holdsSeveralMessages(const Bytes& m) {
    if (m.size() < 4 || m[0] != kSysEx) return false;
    auto end = std::find(m.begin(), m.end(), kEndSysEx);
    return end != m.end() && end + 1 != m.end() && end[1] == kSysEx;
}

void splitInto(ProgramState& st, const Bytes& merged) {
    st.splitMessages.clear();
    st.splitNext = 0;
    auto start = merged.begin();
    while (start != merged.end()) {
        auto end = start;
        if (*start == kSysEx) {
            end = std::find(start, merged.end(), kEndSysEx);
            end = (end == merged.end()) ? end : end + 1;
        } else {
            end = std::find(start + 1, merged.end(), kSysEx);
        }
        st.splitMessages.emplace_back(start, end);
        start = end;
    }
}

// Copied by clear and insert rather than assignment: libstdc++'s copy assignment
// writes past the old end before moving it, which AddressSanitizer's vector checks
// take for an overflow.
void takeSplit(ProgramState& st) {
    const Bytes& next = st.splitMessages[st.splitNext++];
    st.inMessage.clear();
    st.inMessage.insert(st.inMessage.end(), next.begin(), next.end());
}

void putHeader(Bytes& m, std::uint8_t number, std::uint8_t count) {
    m.insert(m.end(), {kSysEx, 0x7E, 0x00, 0x07, 0x02, number, count});
}

void putTrailer(Bytes& m) {
    m.push_back(0x00);  // checksum byte, never computed
    m.push_back(kEndSysEx);
}

// Appends one 7-bit group: a flag byte holding bit 7 of each byte, then the bytes.
void putGroup(Bytes& m, const std::uint8_t* data, int n) {
    std::uint8_t flag = 0;
    for (int i = 0; i < n; ++i) flag |= static_cast<std::uint8_t>((data[i] >> 7) << (6 - i));
    m.push_back(flag);
    for (int i = 0; i < n; ++i) m.push_back(data[i] & 0x7F);
}

void putWordBytes(std::uint8_t* out, std::uint32_t w) {
    out[0] = static_cast<std::uint8_t>(w >> 24);
    out[1] = static_cast<std::uint8_t>(w >> 16);
    out[2] = static_cast<std::uint8_t>(w >> 8);
    out[3] = static_cast<std::uint8_t>(w);
}

// Sends the packet built in outMessage and polls until the answer carrying the
// same packet number and at least minLength bytes is in inMessage.
void sendAndAwait(ProgramState& st, std::size_t minLength) {
    st.inMessage.clear();
    sendOutMessage(st);
    while (st.lastReplyNumber != st.packetNumber) {
        pollMessage(st);
        if (st.inMessage.size() >= minLength) st.lastReplyNumber = st.inMessage[5];
    }
}

std::uint8_t nextPacketNumber(ProgramState& st) {
    st.packetNumber = static_cast<std::uint8_t>((st.packetNumber + 1) & 0x7F);
    return st.packetNumber;
}

}  // namespace

void pollMessage(ProgramState& st) {
    if (st.splitNext < st.splitMessages.size()) {
        takeSplit(st);
        return;
    }
    st.midi.poll(st.inMessage);
    if (holdsSeveralMessages(st.inMessage)) {
        splitInto(st, st.inMessage);
        takeSplit(st);
    }
}

void sendOutMessage(ProgramState& st) {
    st.midi.send(st.outMessage);
    st.outMessage.clear();
}

std::uint8_t exchangeByte(ProgramState& st, std::uint8_t value) {
    putHeader(st.outMessage, nextPacketNumber(st), 0x01);
    putGroup(st.outMessage, &value, 1);
    putTrailer(st.outMessage);
    sendAndAwait(st, 10);
    return decodeByte(st.inMessage);
}

std::uint32_t exchangeWord(ProgramState& st, std::uint32_t value) {
    std::uint8_t data[4];
    putWordBytes(data, value);
    putHeader(st.outMessage, nextPacketNumber(st), 0x04);
    putGroup(st.outMessage, data, 4);
    putTrailer(st.outMessage);
    sendAndAwait(st, 12);
    const Bytes& m = st.inMessage;
    const std::uint32_t flags = m[7];
    return ((flags & 0x40u) << 25) | (std::uint32_t(m[8] & 0x7F) << 24) |  //
           ((flags & 0x20u) << 18) | (std::uint32_t(m[9] & 0x7F) << 16) |  //
           ((flags & 0x10u) << 11) | (std::uint32_t(m[10] & 0x7F) << 8) |  //
           ((flags & 0x08u) << 4) | std::uint32_t(m[11] & 0x7F);
}

void sendBlock(ProgramState& st, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2,
               std::uint32_t w3) {
    std::uint8_t data[16];
    putWordBytes(data, w0);
    putWordBytes(data + 4, w1);
    putWordBytes(data + 8, w2);
    putWordBytes(data + 12, w3);
    st.outMessage.clear();
    putHeader(st.outMessage, nextPacketNumber(st), 0x12);
    putGroup(st.outMessage, data, 7);
    putGroup(st.outMessage, data + 7, 7);
    putGroup(st.outMessage, data + 14, 2);
    putTrailer(st.outMessage);
    sendAndAwait(st, 6);
}
