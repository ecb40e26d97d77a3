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

void splitInto(Link& link, const Bytes& merged) {
    link.splitMessages.clear();
    link.splitNext = 0;
    auto start = merged.begin();
    while (start != merged.end()) {
        auto end = start;
        if (*start == kSysEx) {
            end = std::find(start, merged.end(), kEndSysEx);
            end = (end == merged.end()) ? end : end + 1;
        } else {
            end = std::find(start + 1, merged.end(), kSysEx);
        }
        link.splitMessages.emplace_back(start, end);
        start = end;
    }
}

// Copied by clear and insert rather than assignment: libstdc++'s copy assignment
// writes past the old end before moving it, which AddressSanitizer's vector checks
// take for an overflow.
void takeSplit(Link& link) {
    const Bytes& next = link.splitMessages[link.splitNext++];
    link.inMessage.clear();
    link.inMessage.insert(link.inMessage.end(), next.begin(), next.end());
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
void sendAndAwait(Link& link, std::size_t minLength) {
    link.inMessage.clear();
    sendOutMessage(link);
    while (link.lastReplyNumber != link.packetNumber) {
        pollMessage(link, true);
        if (link.inMessage.size() >= minLength) link.lastReplyNumber = link.inMessage[kNumberAt];
    }
}

std::uint8_t nextPacketNumber(Link& link) {
    link.packetNumber = static_cast<std::uint8_t>((link.packetNumber + 1) & kNumberMask);
    return link.packetNumber;
}

// While the program waits, it looks around every so many empty polls: about 2 ms of
// waiting, yet rare enough that reading the clock costs an exchange nothing, even where
// the clock is slow to read.
constexpr std::uint32_t kPollsPerLook = 65536;
// How often it asks the MIDI system for its ports: without that, a wait for an
// interface that was unplugged would last for ever.
constexpr auto kPortLookInterval = std::chrono::milliseconds(250);
// How long the handheld may stay silent, while it owes an answer, before the run flow is told.
constexpr auto kWaitTold = std::chrono::seconds(3);
// What the ALSA sequencer keeps for a client that does not read: about 80 messages, 0.28 s
// of the handheld's stream, the least of any MIDI system. A longer hold-up while a bank
// streams may have lost messages. Only the process stopped or the machine asleep counts:
// a poll loop that merely waits for the processor leaves the MIDI library's thread taking
// messages into its queue, and that queue says when it overflows.
constexpr auto kLeastKept = std::chrono::milliseconds(250);
// The handheld streams a bank without a pause: a silence this long before a hold-up
// began means the bank had ended, and the hold-up cost nothing (a machine that froze
// during the closing silence).
constexpr auto kBankOverAfter = std::chrono::seconds(1);

// Notes the longest hold-up since the program last looked around, when it may have cost
// messages.
void noteHoldUp(Link& link, Clock::time_point now) {
    if (!link.longestHoldUp) return;
    const Clock::duration held = link.longestHoldUp();
    Clock::duration kept = kLeastKept;
    if (link.midi.keptWhileStopped) kept = std::max<Clock::duration>(kept, link.midi.keptWhileStopped());
    const bool bankOver = link.silentSince && now - held - *link.silentSince > kBankOverAfter;
    if (held > kept && !bankOver) link.holdUps.push_back({held, link.lastLook, now});
}

// Tells once in a silence that the program waits, and returns the name of an opened port
// that has gone away, or empty.
std::string checkWhileWaiting(Link& link, bool answerAwaited) {
    const Clock::time_point now = link.now();
    noteHoldUp(link, now);
    link.lastLook = now;
    if (!link.silentSince) link.silentSince = now;
    if (answerAwaited && !link.longWaitTold && now - *link.silentSince >= kWaitTold) {
        if (link.longWait) link.longWait();
        link.longWaitTold = true;
    }
    if (!link.midi.missingPort || now - link.lastPortLook < kPortLookInterval) return {};
    link.lastPortLook = now;
    return link.midi.missingPort();
}

}  // namespace

void forgetHoldUps(Link& link) {
    if (link.longestHoldUp) link.longestHoldUp();
    link.holdUps.clear();
}

void pause(Link& link, unsigned ms) {
    if (link.sleepMs) link.sleepMs(ms);
}

void pollMessage(Link& link, bool answerAwaited) {
    if (link.splitNext < link.splitMessages.size()) {
        takeSplit(link);
        return;
    }
    link.midi.poll(link.inMessage);
    if (link.inMessage.empty() && ++link.emptyPolls >= kPollsPerLook) {
        link.emptyPolls = 0;
        const std::string gone = checkWhileWaiting(link, answerAwaited);
        if (!gone.empty()) {
            // What arrived before the port went is still taken; then the wait ends,
            // since nothing more can come.
            link.midi.poll(link.inMessage);
            if (link.inMessage.empty()) {
                throw MidiFailure("the MIDI port \"" + gone + "\" went away");
            }
        }
    }
    if (!link.inMessage.empty()) {
        link.silentSince.reset();
        link.longWaitTold = false;
        // Newest first: once one is followed, every older one is too.
        for (auto h = link.holdUps.rbegin(); h != link.holdUps.rend() && !h->followed; ++h) {
            h->followed = link.lastLook > h->noticed;
        }
    }
    if (holdsSeveralMessages(link.inMessage)) {
        splitInto(link, link.inMessage);
        takeSplit(link);
    }
}

void sendOutMessage(Link& link) {
    link.midi.send(link.outMessage);
    link.outMessage.clear();
}

std::uint8_t exchangeByte(Link& link, std::uint8_t value) {
    putHeader(link.outMessage, nextPacketNumber(link), encodedCount(1));
    putGroup(link.outMessage, &value, 1);
    putTrailer(link.outMessage);
    sendAndAwait(link, kByteAnswerLength);
    return decodeByte(link.inMessage);
}

std::uint32_t exchangeWord(Link& link, std::uint32_t value) {
    std::uint8_t data[4];
    putWordBytes(data, value);
    putHeader(link.outMessage, nextPacketNumber(link), encodedCount(4));
    putGroup(link.outMessage, data, 4);
    putTrailer(link.outMessage);
    sendAndAwait(link, kWordAnswerLength);
    const std::uint8_t* m = link.inMessage.data() + kDataAt;
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t high = (m[0] & (kFirstFlagBit >> i)) != 0 ? 0x80u : 0u;
        word = (word << 8) | high | (m[1 + i] & kDataBits);
    }
    return word;
}

void sendBlock(Link& link, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2,
               std::uint32_t w3) {
    std::uint8_t data[16];
    putWordBytes(data, w0);
    putWordBytes(data + 4, w1);
    putWordBytes(data + 8, w2);
    putWordBytes(data + 12, w3);
    link.outMessage.clear();
    putHeader(link.outMessage, nextPacketNumber(link), encodedCount(16));
    putGroup(link.outMessage, data, kGroupBytes);
    putGroup(link.outMessage, data + kGroupBytes, kGroupBytes);
    putGroup(link.outMessage, data + 2 * kGroupBytes, 16 - 2 * kGroupBytes);
    putTrailer(link.outMessage);
    sendAndAwait(link, kBlockAnswerLength);
}
