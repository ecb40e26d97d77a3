#include "transfer/loopback.h"

#include <algorithm>

#include "link/commands.h"

using namespace wire;

namespace {

// The first header bytes every probe carries as it is; the rest, up to the closing F7,
// takes every value in turn.
constexpr std::size_t kHeaderLength = kNumberAt;

// How many of the messages awaited next a changed copy may be taken for.
constexpr std::size_t kLikelyCopies = 8;
// The waits of the stop-and-wait round. The first copy gets two seconds, and one more
// exchange a moment: an interface that lost the first one's end holds it until another end
// comes. Once copies come, a few of their round trips, within a second.
constexpr auto kFirstCopyWait = std::chrono::seconds(2);
constexpr auto kNothingYetWait = std::chrono::milliseconds(250);
constexpr int kTriesBeforeNothing = 2;
constexpr auto kLeastCopyWait = std::chrono::milliseconds(250);
constexpr auto kMostCopyWait = std::chrono::seconds(1);
constexpr int kRoundTripsWaited = 10;
// After the stream has left: how long the copies may stop coming, and how long they may take.
constexpr auto kStreamTailSilence = std::chrono::seconds(1);
constexpr auto kStreamTailLimit = std::chrono::seconds(30);
constexpr std::uint32_t kProgressEvery = 64;
// How far the stream may fall behind its pace before it stops catching up.
constexpr std::uint32_t kBehindMost = 4;
// A nap of the stream's after so many empty polls: the program's look for ports gone, which
// counts polls, still comes every few tens of milliseconds.
constexpr unsigned kStreamNapMs = 1;
constexpr std::uint32_t kPollsPerNap = 1024;

bool isRealTime(const Bytes& m) { return m.size() == 1 && m[0] >= kFirstRealTime; }

// A message that can be a spoiled copy of a System Exclusive message: one of its ends is there.
bool mayBeCopy(const Bytes& m) { return m.front() == kSysEx || m.back() == kEndSysEx; }

// How like each other two messages are: the bytes in the same place, counted from the start
// or from the end, whichever finds more (a copy may have lost either).
std::size_t likeness(const Bytes& a, const Bytes& b) {
    std::size_t fromStart = 0, fromEnd = 0;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        fromStart += a[i] == b[i];
        fromEnd += a[a.size() - 1 - i] == b[b.size() - 1 - i];
    }
    return std::max(fromStart, fromEnd);
}

void removeAwaited(Tally& tally, std::size_t sent) {
    tally.awaited.erase(std::find(tally.awaited.begin(), tally.awaited.end(), sent));
}

// The sent message, in the given state, that the message equals.
std::optional<std::size_t> equalIn(const Tally& tally, CopyState state, const Bytes& m) {
    for (std::size_t i = 0; i < tally.sent.size(); ++i) {
        if (tally.sent[i].state == state && tally.sent[i].bytes == m) return i;
    }
    return std::nullopt;
}

void noteExtra(Tally& tally, Round round, const Bytes& m) {
    ++tally.extra[static_cast<std::size_t>(round)];
    tally.faults.push_back({LoopFault::Extra, tally.sent.size(), m});
}

// Its own copy came: intact, or out of order when a later one came first.
void noteCopy(Tally& tally, std::size_t sent) {
    const bool late = sent + 1 < tally.latestCopied;
    tally.sent[sent].state = late ? CopyState::OutOfOrder : CopyState::Intact;
    ++tally.copies;
    if (late) tally.faults.push_back({LoopFault::OutOfOrder, sent, {}});
    tally.latestCopied = std::max(tally.latestCopied, sent + 1);
}

// A copy that equals nothing sent: taken for the awaited message it is most like.
void noteChanged(Tally& tally, Round round, const Bytes& m) {
    const std::size_t likely = std::min(kLikelyCopies, tally.awaited.size());
    if (likely == 0 || !mayBeCopy(m)) return noteExtra(tally, round, m);
    const auto best = std::max_element(tally.awaited.begin(), tally.awaited.begin() + static_cast<std::ptrdiff_t>(likely),
                                       [&](std::size_t a, std::size_t b) {
                                           return likeness(tally.sent[a].bytes, m) < likeness(tally.sent[b].bytes, m);
                                       });
    const std::size_t sent = *best;
    tally.awaited.erase(best);
    tally.sent[sent].state = CopyState::Changed;
    ++tally.copies;
    tally.faults.push_back({LoopFault::Changed, sent, m});
}

}  // namespace

const std::vector<ProbeShape>& probeShapes() {
    static const std::vector<ProbeShape> shapes = {
        {"data packet", kBytePacketLength, kDataDevice, kDataPacket},
        {"word packet", kWordPacketLength, kDataDevice, kDataPacket},
        {"block packet", kBlockPacketLength, kDataDevice, kDataPacket},
        {"command", kCommandLength, kHandheldDevice, kDumpHeader},
        // Its status, then its end.
        {"status answer", kStatusAt + 3, kHandheldDevice, kDumpHeader},
        {"byte answer", kByteMessageLength, kDataDevice, kDataPacket},
        {"block acknowledgement", kBlockAckLength, kDataDevice, kDataPacket},
    };
    return shapes;
}

const ProbeShape& shapeOf(Round round, std::uint32_t index) {
    const std::vector<ProbeShape>& shapes = probeShapes();
    return round == Round::Stream ? shapes[0] : shapes[index % shapes.size()];
}

Bytes stopAndWaitMessage(std::uint32_t index) {
    const ProbeShape& shape = shapeOf(Round::StopAndWait, index);
    const std::uint32_t use = index / static_cast<std::uint32_t>(probeShapes().size());
    Bytes m = {kSysEx, kNonCommercial, shape.device, kFileDump, shape.subId2};
    // Each position steps through every 7-bit value as the shape comes round again.
    for (std::size_t at = kHeaderLength; at + 1 < shape.length; ++at) {
        m.push_back(static_cast<std::uint8_t>((use + 17 * at) & kDataBits));
    }
    m.push_back(kEndSysEx);
    return m;
}

Bytes streamMessage(std::uint32_t index) {
    const auto value = static_cast<std::uint8_t>(index * 37 + (index >> 7));
    return {kSysEx, kNonCommercial, kDataDevice, kFileDump, kDataPacket,
            static_cast<std::uint8_t>(index & kNumberMask), 1,
            static_cast<std::uint8_t>((value >> 1) & kFirstFlagBit), static_cast<std::uint8_t>(value & kDataBits),
            kChecksum, kEndSysEx};
}

Difference firstDifference(const Bytes& sent, const Bytes& received) {
    Difference d;
    while (d.at < sent.size() && d.at < received.size() && sent[d.at] == received[d.at]) ++d.at;
    if (d.at < sent.size()) d.sent = sent[d.at];
    if (d.at < received.size()) d.received = received[d.at];
    return d;
}

std::size_t noteSent(Tally& tally, Round round, Bytes message) {
    tally.sent.push_back({std::move(message), round, tally.sentIn[static_cast<std::size_t>(round)]++});
    tally.awaited.push_back(tally.sent.size() - 1);
    return tally.sent.size() - 1;
}

void noteReceived(Tally& tally, Round round, const Bytes& message) {
    // Active Sensing and clocks may come between any two bytes, inside a System Exclusive
    // message too: the interface's own, counted and taken out.
    Bytes m;
    for (const std::uint8_t byte : message) {
        if (byte == kActiveSensing || byte == kTimingClock) {
            ++(byte == kActiveSensing ? tally.activeSensing : tally.clocks);
        } else {
            m.push_back(byte);
        }
    }
    if (m.empty()) return;
    // The check never sends the universal ID: before any copy came, that is the handheld
    // answering, and the check ends; after, a copy changed there.
    if (tally.copies == 0 && m.size() > 1 && m[0] == kSysEx && m[1] == kNonRealTime) {
        return void(tally.handheldAnswered = true);
    }
    for (const std::size_t sent : tally.awaited) {
        if (tally.sent[sent].bytes == m) {
            removeAwaited(tally, sent);
            return noteCopy(tally, sent);
        }
    }
    // Its own copy after all: what was taken for it came from elsewhere.
    if (const auto sent = equalIn(tally, CopyState::Changed, m)) {
        const auto wrong = std::find_if(tally.faults.begin(), tally.faults.end(), [&](const FaultEvent& f) {
            return f.kind == LoopFault::Changed && f.sent == *sent;
        });
        wrong->kind = LoopFault::Extra;
        wrong->sent = tally.sent.size();
        ++tally.extra[static_cast<std::size_t>(tally.sent[*sent].round)];
        return noteCopy(tally, *sent);
    }
    // A copy that came after it was given up: late, as on a busy machine, and not lost.
    if (const auto sent = equalIn(tally, CopyState::Missing, m)) {
        tally.faults.erase(std::find_if(tally.faults.begin(), tally.faults.end(), [&](const FaultEvent& f) {
            return f.kind == LoopFault::Missing && f.sent == *sent;
        }));
        return noteCopy(tally, *sent);
    }
    if (equalIn(tally, CopyState::Intact, m) || equalIn(tally, CopyState::OutOfOrder, m)) {
        return noteExtra(tally, round, m);
    }
    noteChanged(tally, round, m);
}

void giveUp(Tally& tally, std::size_t sent) {
    if (tally.sent[sent].state != CopyState::Pending) return;
    removeAwaited(tally, sent);
    tally.sent[sent].state = CopyState::Missing;
    tally.faults.push_back({LoopFault::Missing, sent, {}});
}

RoundCounts countRound(const Tally& tally, Round round) {
    RoundCounts c;
    for (const SentProbe& p : tally.sent) {
        if (p.round != round) continue;
        ++c.sent;
        c.intact += p.state == CopyState::Intact;
        c.changed += p.state == CopyState::Changed;
        c.missing += p.state == CopyState::Missing;
        c.outOfOrder += p.state == CopyState::OutOfOrder;
    }
    c.extra = tally.extra[static_cast<std::size_t>(round)];
    return c;
}

const FaultEvent* firstFault(const Tally& tally) {
    const auto first = std::min_element(tally.faults.begin(), tally.faults.end(),
                                        [](const FaultEvent& a, const FaultEvent& b) { return a.sent < b.sent; });
    return first == tally.faults.end() ? nullptr : &*first;
}

namespace {

// Sends a probe through the link, noted as sent.
std::size_t sendProbe(Link& link, Tally& tally, Round round, Bytes message) {
    const std::size_t sent = noteSent(tally, round, std::move(message));
    sendMessage(link, tally.sent[sent].bytes);
    return sent;
}

// Takes what came in, if anything: true when a message did that is not real-time.
bool takeIncoming(Link& link, Tally& tally, Round round) {
    const Bytes& message = pollMessage(link);
    if (message.empty()) return false;
    noteReceived(tally, round, message);
    return !isRealTime(message);
}

// How long a copy is waited for, after `exchanges` of which anything came back or not.
Clock::duration copyWait(std::uint32_t exchanges, bool anyCame, const std::vector<std::int64_t>& trips) {
    if (!anyCame) return exchanges == 0 ? Clock::duration(kFirstCopyWait) : Clock::duration(kNothingYetWait);
    std::vector<std::int64_t> sorted = trips;
    std::int64_t median = 0;
    if (!sorted.empty()) {
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2), sorted.end());
        median = sorted[sorted.size() / 2];
    }
    const Clock::duration trips10 = std::chrono::microseconds(median * kRoundTripsWaited);
    return std::clamp<Clock::duration>(trips10, kLeastCopyWait, kMostCopyWait);
}

// One message out, its copy back (or a bounded wait), then the next.
void stopAndWait(Link& link, LoopbackProgress& progress, LoopbackResult& result) {
    Tally& tally = result.tally;
    bool anyCame = false;
    std::uint32_t missing = 0;
    for (std::uint32_t i = 0; i < kStopAndWaitExchanges && missing < kMostMissing; ++i) {
        const Clock::duration wait = copyWait(i, anyCame, result.roundTripsUs);
        const std::size_t sent = sendProbe(link, tally, Round::StopAndWait, stopAndWaitMessage(i));
        Clock::time_point start = link.now(), now = start;
        while (tally.sent[sent].state == CopyState::Pending) {
            anyCame = takeIncoming(link, tally, Round::StopAndWait) || anyCame;
            now = link.now();
            if (tally.handheldAnswered) return void(result.end = LoopbackEnd::HandheldAnswered);
            if (now - start <= wait) continue;
            // A machine that froze meanwhile, the cable's far end with it, owes the wait that time.
            if (!lookForHoldUp(link)) break;
            start += link.holdUps().back().length;
        }
        giveUp(tally, sent);
        if (tally.sent[sent].state == CopyState::Missing) {
            ++missing;
        } else {
            result.roundTripsUs.push_back(std::chrono::duration_cast<std::chrono::microseconds>(now - start).count());
        }
        if (!anyCame && i + 1 == kTriesBeforeNothing) return void(result.end = LoopbackEnd::NothingCameBack);
        if ((i + 1) % kProgressEvery == 0) progress.reached(Round::StopAndWait, i + 1, kStopAndWaitExchanges);
    }
}

double bytesPerSecond(std::uint32_t messages, Clock::duration span) {
    const double seconds = std::chrono::duration<double>(span).count();
    return messages < 2 || seconds <= 0 ? 0 : (messages - 1) * double(kBytePacketLength) / seconds;
}

void sortTrips(LoopbackResult& result) { std::sort(result.roundTripsUs.begin(), result.roundTripsUs.end()); }

bool streamAwaited(const Tally& tally) {
    return std::any_of(tally.awaited.begin(), tally.awaited.end(),
                       [&](std::size_t i) { return tally.sent[i].round == Round::Stream; });
}

// The one-byte packets at the cable's pace, the input read all the while as a receive reads it.
void stream(Link& link, LoopbackProgress& progress, LoopbackResult& result) {
    Tally& tally = result.tally;
    const Clock::time_point start = link.now();
    Clock::time_point paced = start, lastSend = start, firstCopy{}, lastCopy{};
    std::uint32_t next = 0, copies = 0, emptyPolls = 0;
    for (;;) {
        const Clock::time_point now = link.now();
        // A loop held up goes on at the pace from where it is: a burst would overrun the interface.
        if (now > paced + (next + kBehindMost) * kStreamPace) paced = now - next * kStreamPace;
        const bool due = next < kStreamMessages && now >= paced + next * kStreamPace;
        if (due) {
            sendProbe(link, tally, Round::Stream, streamMessage(next));
            lastSend = now;
            if (++next % (4 * kProgressEvery) == 0) progress.reached(Round::Stream, next, kStreamMessages);
        }
        if (takeIncoming(link, tally, Round::Stream)) {
            if (copies++ == 0) firstCopy = now;
            lastCopy = now;
        } else if (!due && ++emptyPolls % kPollsPerNap == 0) {
            // A moment's nap now and then: the MIDI library queues what comes meanwhile, and a
            // stream of 15 s need not take a whole processor from the rest of the machine.
            pause(link, kStreamNapMs);
        }
        if (tally.handheldAnswered) return void(result.end = LoopbackEnd::HandheldAnswered);
        if (next == kStreamMessages &&
            (!streamAwaited(tally) || now - std::max(lastSend, lastCopy) > kStreamTailSilence ||
             now - lastSend > kStreamTailLimit)) {
            break;
        }
    }
    for (std::size_t i = 0; i < tally.sent.size(); ++i) giveUp(tally, i);
    result.sentRate = bytesPerSecond(kStreamMessages, lastSend - start);
    result.copyRate = bytesPerSecond(copies, lastCopy - firstCopy);
    if (result.copyRate > 0 && result.copyRate < kSlowestPace * result.sentRate) {
        tally.faults.push_back({LoopFault::Slow, tally.sent.size(), {}});
    }
}

}  // namespace

LoopbackResult checkLoopback(Link& link, LoopbackProgress& progress) {
    LoopbackResult result;
    // The MIDI system joins the ports just opened a moment later (JACK at a later cycle of
    // its graph, on a busy machine later still): a first message sent at once can be lost,
    // and would count against the interface. Every job pauses so before its first message.
    pause(link, kCommandPauseMs);
    if (link.midi.passRealTime) link.midi.passRealTime();
    // What the MIDI system dropped before the check is none of its business.
    if (link.midi.dropped) link.midi.dropped();
    try {
        for (const Round round : {Round::StopAndWait, Round::Stream}) {
            (round == Round::StopAndWait ? stopAndWait : stream)(link, progress, result);
            if (result.end != LoopbackEnd::Finished) break;
            result.over[static_cast<std::size_t>(round)] = true;
            if (round == Round::StopAndWait) sortTrips(result);
            progress.roundOver(round, result);
        }
    } catch (const MidiFailure& failure) {
        result.end = LoopbackEnd::PortGone;
        result.midiFailure = failure.what();
    }
    result.dropped = link.midi.dropped && link.midi.dropped();
    sortTrips(result);
    return result;
}
