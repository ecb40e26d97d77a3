#include "link/link.h"

#include <algorithm>

using namespace wire;

// The link's functions reach its own state through this.
struct LinkAccess {
    static auto& wire(Link& link) { return link.wire_; }
    static auto& wait(Link& link) { return link.wait_; }
};

namespace {

// Some backends hand over several complete System Exclusive messages as one. Split
// them so the link sees each on its own and no byte of a transfer is lost.
bool holdsSeveralMessages(const Bytes& m) {
    if (m.size() < 4 || m[0] != kSysEx) return false;
    auto end = std::find(m.begin(), m.end(), kEndSysEx);
    return end != m.end() && end + 1 != m.end() && end[1] == kSysEx;
}

void splitInto(Link& link, const Bytes& merged) {
    auto& w = LinkAccess::wire(link);
    w.splitMessages.clear();
    w.splitNext = 0;
    auto start = merged.begin();
    while (start != merged.end()) {
        auto end = start;
        if (*start == kSysEx) {
            end = std::find(start, merged.end(), kEndSysEx);
            end = (end == merged.end()) ? end : end + 1;
        } else {
            end = std::find(start + 1, merged.end(), kSysEx);
        }
        w.splitMessages.emplace_back(start, end);
        start = end;
    }
}

// Copied by clear and insert rather than assignment: libstdc++'s copy assignment
// writes past the old end before moving it, which AddressSanitizer's vector checks
// take for an overflow.
void takeSplit(Link& link) {
    auto& w = LinkAccess::wire(link);
    const Bytes& next = w.splitMessages[w.splitNext++];
    w.inMessage.clear();
    w.inMessage.insert(w.inMessage.end(), next.begin(), next.end());
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

// Sends the packet built in the link's outgoing message and polls until the answer
// carrying the same packet number and at least minLength bytes has come: that answer.
const Bytes& sendAndAwait(Link& link, std::size_t minLength) {
    auto& w = LinkAccess::wire(link);
    link.midi.send(w.outMessage);
    w.outMessage.clear();
    for (;;) {
        const Bytes& answer = pollMessage(link, true);
        if (answer.size() >= minLength) w.lastReplyNumber = answer[kNumberAt];
        if (w.lastReplyNumber == w.packetNumber) return answer;
    }
}

// The outgoing message, emptied, begun as the next packet's header.
Bytes& beginPacket(Link& link, std::uint8_t count) {
    auto& w = LinkAccess::wire(link);
    w.packetNumber = static_cast<std::uint8_t>((w.packetNumber + 1) & kNumberMask);
    // What a failed send left is replaced.
    w.outMessage.assign({kSysEx, kNonRealTime, kDataDevice, kFileDump, kDataPacket, w.packetNumber, count});
    return w.outMessage;
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
// What the ALSA sequencer keeps by default for a client that does not read: about 80
// messages, 0.28 s of the handheld's stream, the least of any MIDI system (the binding asks
// it for more, which a kernel may refuse). A longer hold-up while a bank
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
    if (!link.hooks.longestHoldUp) return;
    auto& wait = LinkAccess::wait(link);
    const Clock::duration held = link.hooks.longestHoldUp();
    Clock::duration kept = kLeastKept;
    if (link.midi.keptWhileStopped) kept = std::max<Clock::duration>(kept, link.midi.keptWhileStopped());
    const bool bankOver = wait.silentSince && now - held - *wait.silentSince > kBankOverAfter;
    if (held > kept && !bankOver) wait.holdUps.push_back({held, wait.lastLook, now});
}

// Tells once in a silence that the program waits, and returns the name of an opened port
// that has gone away, or empty.
std::string checkWhileWaiting(Link& link, bool answerAwaited) {
    lookForHoldUp(link);
    auto& wait = LinkAccess::wait(link);
    const Clock::time_point now = wait.lastLook;
    if (!wait.silentSince) wait.silentSince = now;
    if (answerAwaited && !wait.longWaitTold && now - *wait.silentSince >= kWaitTold) {
        if (link.hooks.longWait) link.hooks.longWait->waitingLong();
        wait.longWaitTold = true;
    }
    if (!link.midi.missingPort || now - wait.lastPortLook < kPortLookInterval) return {};
    wait.lastPortLook = now;
    return link.midi.missingPort();
}

// A message came: the silence is over, and every hold-up noticed before the last look
// around was followed by it. Newest first: once one is followed, every older one is too.
void noteArrival(Link& link) {
    auto& wait = LinkAccess::wait(link);
    wait.silentSince.reset();
    wait.longWaitTold = false;
    for (auto h = wait.holdUps.rbegin(); h != wait.holdUps.rend() && !h->followed; ++h) {
        h->followed = wait.lastLook > h->noticed;
    }
}

}  // namespace

void forgetHoldUps(Link& link) {
    if (link.hooks.longestHoldUp) link.hooks.longestHoldUp();
    forgetNotedHoldUps(link);
}

void forgetNotedHoldUps(Link& link) { LinkAccess::wait(link).holdUps.clear(); }

bool lookForHoldUp(Link& link) {
    auto& wait = LinkAccess::wait(link);
    const std::size_t before = wait.holdUps.size();
    const Clock::time_point now = link.now();
    noteHoldUp(link, now);
    wait.lastLook = now;
    return wait.holdUps.size() > before;
}

void pause(Link& link, unsigned ms) {
    if (link.hooks.sleepMs) link.hooks.sleepMs(ms);
}

const Bytes& pollMessage(Link& link, bool answerAwaited) {
    auto& w = LinkAccess::wire(link);
    if (w.splitNext < w.splitMessages.size()) {
        takeSplit(link);
        return w.inMessage;
    }
    link.midi.poll(w.inMessage);
    auto& wait = LinkAccess::wait(link);
    if (w.inMessage.empty() && (wait.emptyPolls += link.midi.pollsPerEmptyPoll) >= kPollsPerLook) {
        wait.emptyPolls = 0;
        const std::string gone = checkWhileWaiting(link, answerAwaited);
        if (!gone.empty()) {
            // What arrived before the port went is still taken; then the wait ends,
            // since nothing more can come.
            link.midi.poll(w.inMessage);
            if (w.inMessage.empty()) throw MidiFailure("the MIDI port \"" + gone + "\" went away");
        }
    }
    if (!w.inMessage.empty()) noteArrival(link);
    if (holdsSeveralMessages(w.inMessage)) {
        splitInto(link, w.inMessage);
        takeSplit(link);
    }
    return w.inMessage;
}

void sendMessage(Link& link, const Bytes& message) { link.midi.send(message); }

std::uint8_t exchangeByte(Link& link, std::uint8_t value) {
    Bytes& packet = beginPacket(link, encodedCount(1));
    putGroup(packet, &value, 1);
    putTrailer(packet);
    return decodeByte(sendAndAwait(link, kByteAnswerLength));
}

std::uint32_t exchangeWord(Link& link, std::uint32_t value) {
    std::uint8_t data[4];
    putWordBytes(data, value);
    Bytes& packet = beginPacket(link, encodedCount(4));
    putGroup(packet, data, 4);
    putTrailer(packet);
    const std::uint8_t* m = sendAndAwait(link, kWordAnswerLength).data() + kDataAt;
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
    Bytes& packet = beginPacket(link, encodedCount(16));
    putGroup(packet, data, kGroupBytes);
    putGroup(packet, data + kGroupBytes, kGroupBytes);
    putGroup(packet, data + 2 * kGroupBytes, 16 - 2 * kGroupBytes);
    putTrailer(packet);
    sendAndAwait(link, kBlockAnswerLength);
}
