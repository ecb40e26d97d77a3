#include "link/link.h"

#include <algorithm>

using namespace wire;

namespace {

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
    m.insert(m.end(), {kSysEx, kNonRealTime, kDataDevice, kFileDump, kDataPacket, number, count});
}

void putTrailer(Bytes& m) {
    m.push_back(kChecksum);
    m.push_back(kEndSysEx);
}

// Appends one 7-bit group: a flag byte holding bit 7 of each byte, then the bytes.
void putGroup(Bytes& m, const std::uint8_t* data, int n) {
    std::uint8_t flag = 0;
    for (int i = 0; i < n; ++i) flag |= static_cast<std::uint8_t>((data[i] >> 7 ? kFirstFlagBit : 0) >> i);
    m.push_back(flag);
    for (int i = 0; i < n; ++i) m.push_back(data[i] & kDataBits);
}

// The count byte: the length of the data in 7-bit groups, minus one.
constexpr std::uint8_t encodedCount(int bytes) {
    return static_cast<std::uint8_t>(bytes + (bytes + kGroupBytes - 1) / kGroupBytes - 1);
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
        pollMessage(st, true);
        if (st.inMessage.size() >= minLength) st.lastReplyNumber = st.inMessage[kNumberAt];
    }
}

std::uint8_t nextPacketNumber(ProgramState& st) {
    st.packetNumber = static_cast<std::uint8_t>((st.packetNumber + 1) & kNumberMask);
    return st.packetNumber;
}

// While the program waits, it looks around every so many empty polls: about 2 ms of
// waiting, yet rare enough that reading the clock costs an exchange nothing where the
// clock is slow (25 % of each exchange at 1024 polls in an emulated machine whose clock
// is the HPET).
constexpr std::uint32_t kPollsPerLook = 65536;
// How often it asks the MIDI system for its ports: without that, a wait for an
// interface that was unplugged would last for ever.
constexpr auto kPortLookInterval = std::chrono::milliseconds(250);
// How long the handheld may stay silent, while it owes an answer, before the user is told.
constexpr auto kWaitTold = std::chrono::seconds(3);
// A hold-up that may cost messages: the ALSA sequencer keeps about 80 for a client that
// does not read, 0.28 s of the handheld's stream (RtMidi's queue over JACK, far more).
// Only the process stopped or the machine asleep counts: a poll loop that merely waits for
// the processor leaves the MIDI library's thread taking messages into its queue, and that
// queue says when it overflows.
constexpr auto kHeldUpLimit = std::chrono::milliseconds(250);

// Notes how long the program was held up since it last looked around; a note stands
// until messages come in again after a look that found no hold-up.
void noteHoldUp(ProgramState& st) {
    if (!st.longestHoldUp) return;
    const Clock::duration held = st.longestHoldUp();
    if (held > kHeldUpLimit) {
        st.heldUp = std::max(st.heldUp, held);
        st.lookedSinceHeldUp = false;
    } else {
        st.lookedSinceHeldUp = true;
    }
}

// Says once in a silence that the program waits, and returns the name of an opened port
// that has gone away, or empty.
std::string lookAround(ProgramState& st, bool answerAwaited) {
    const Clock::time_point now = st.now();
    noteHoldUp(st);
    if (!st.silentSince) st.silentSince = now;
    if (answerAwaited && !st.waitSaid && now - *st.silentSince >= kWaitTold) {
        *st.err << "tpmidi01: waiting for the handheld (is trackpod on, in the right mode, and the cable "
                   "plugged in both ways?); Ctrl-C ends\n";
        st.err->flush();
        st.waitSaid = true;
    }
    if (!st.midi.missingPort || now - st.lastPortLook < kPortLookInterval) return {};
    st.lastPortLook = now;
    return st.midi.missingPort();
}

}  // namespace

void pollMessage(ProgramState& st, bool answerAwaited) {
    if (st.splitNext < st.splitMessages.size()) {
        takeSplit(st);
        return;
    }
    st.midi.poll(st.inMessage);
    if (st.inMessage.empty() && ++st.emptyPolls >= kPollsPerLook) {
        st.emptyPolls = 0;
        const std::string gone = lookAround(st, answerAwaited);
        if (!gone.empty()) {
            // What arrived before the port went is still taken; then the wait ends,
            // since nothing more can come.
            st.midi.poll(st.inMessage);
            if (st.inMessage.empty()) {
                throw MidiFailure("the MIDI port \"" + gone + "\" went away");
            }
        }
    }
    if (!st.inMessage.empty()) {
        st.silentSince.reset();
        st.waitSaid = false;
        if (st.lookedSinceHeldUp) st.heldUp = {};
    }
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
    putHeader(st.outMessage, nextPacketNumber(st), encodedCount(1));
    putGroup(st.outMessage, &value, 1);
    putTrailer(st.outMessage);
    sendAndAwait(st, kByteAnswerLength);
    return decodeByte(st.inMessage);
}

std::uint32_t exchangeWord(ProgramState& st, std::uint32_t value) {
    std::uint8_t data[4];
    putWordBytes(data, value);
    putHeader(st.outMessage, nextPacketNumber(st), encodedCount(4));
    putGroup(st.outMessage, data, 4);
    putTrailer(st.outMessage);
    sendAndAwait(st, kWordAnswerLength);
    const std::uint8_t* m = st.inMessage.data() + kDataAt;
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t high = (m[0] & (kFirstFlagBit >> i)) != 0 ? 0x80u : 0u;
        word = (word << 8) | high | (m[1 + i] & kDataBits);
    }
    return word;
}

void sendBlock(ProgramState& st, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2,
               std::uint32_t w3) {
    std::uint8_t data[16];
    putWordBytes(data, w0);
    putWordBytes(data + 4, w1);
    putWordBytes(data + 8, w2);
    putWordBytes(data + 12, w3);
    st.outMessage.clear();
    putHeader(st.outMessage, nextPacketNumber(st), encodedCount(16));
    putGroup(st.outMessage, data, kGroupBytes);
    putGroup(st.outMessage, data + kGroupBytes, kGroupBytes);
    putGroup(st.outMessage, data + 2 * kGroupBytes, 16 - 2 * kGroupBytes);
    putTrailer(st.outMessage);
    sendAndAwait(st, kBlockAnswerLength);
}
