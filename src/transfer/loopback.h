// The loopback check: messages of every shape the program sends or takes, sent through a
// MIDI interface cabled OUT to its own IN, and every copy that comes back compared with
// what left. It returns what it counted; the run flow says what that means.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"

enum class Round { StopAndWait, Stream };
constexpr std::size_t kRounds = 2;

// One shape of message: a length of the program's own, and its header as the program's
// messages have it, with the non-commercial ID where they have the universal one.
struct ProbeShape {
    const char* name;
    std::size_t length;
    std::uint8_t device, subId2;  // bytes 2 and 4
};
// The program's three data packets and its command; the handheld's answers at the least
// lengths that can carry them.
const std::vector<ProbeShape>& probeShapes();

// Exchanges one at a time, the shapes in turn: every shape at least 128 times, so that every
// 7-bit value comes in every position after the header, the packet number's among them.
constexpr std::uint32_t kStopAndWaitExchanges = 1024;
// So many lost end the stop-and-wait round early: the verdict is clear, and each cost a wait.
constexpr std::uint32_t kMostMissing = 32;
// One-byte packets at the cable's pace, as a bank comes: 32 turns of the numbering.
constexpr std::uint32_t kStreamMessages = 4096;

// The message of exchange `index` (from 0) of the stop-and-wait round, and of the stream.
Bytes stopAndWaitMessage(std::uint32_t index);
Bytes streamMessage(std::uint32_t index);
// The shape of exchange `index` of a round.
const ProbeShape& shapeOf(Round round, std::uint32_t index);

enum class CopyState { Pending, Intact, OutOfOrder, Changed, Missing };

// What left, and what became of it.
struct SentProbe {
    Bytes bytes;
    Round round;
    std::uint32_t index;  // in its round, from 0
    CopyState state = CopyState::Pending;
};

enum class LoopFault { Changed, Missing, OutOfOrder, Extra, Slow };

// A fault, placed among the messages sent: `sent` is the message it befell, or for an extra
// message the count sent before it came, or before it was found out. `copy` is what came
// back for a changed message, or the extra message itself.
struct FaultEvent {
    LoopFault kind;
    std::size_t sent;
    Bytes copy;
};

// Where a copy first differs from what was sent; nothing past a message's end.
struct Difference {
    std::size_t at = 0;
    std::optional<std::uint8_t> sent, received;
};
Difference firstDifference(const Bytes& sent, const Bytes& received);

struct RoundCounts {
    std::uint32_t sent = 0, intact = 0, changed = 0, missing = 0, outOfOrder = 0, extra = 0;
};

// Every message sent, every copy taken, in order. A copy is the one it equals; one that
// equals nothing sent and still awaited is taken for the likeliest of the messages awaited
// next, changed; anything else, or a second copy, is extra.
struct Tally {
    std::vector<SentProbe> sent;
    std::array<std::uint32_t, kRounds> sentIn{};
    std::vector<std::size_t> awaited;  // indices into `sent`, oldest first
    std::vector<FaultEvent> faults;
    std::array<std::uint32_t, kRounds> extra{};
    std::size_t latestCopied = 0;  // one past the latest message that came back intact
    std::uint32_t copies = 0, activeSensing = 0, clocks = 0;
    // A message in the handheld's own header (the universal ID, which the check never sends).
    bool handheldAnswered = false;
};

std::size_t noteSent(Tally& tally, Round round, Bytes message);
// Notes a message that came in, during `round`.
void noteReceived(Tally& tally, Round round, const Bytes& message);
// A message whose copy has not come: missing from now on, and a copy that comes later is
// none of its round's business.
void giveUp(Tally& tally, std::size_t sent);
RoundCounts countRound(const Tally& tally, Round round);
// The first fault among the messages sent, or null.
const FaultEvent* firstFault(const Tally& tally);

enum class LoopbackEnd {
    Finished,
    NothingCameBack,   // no message at all within the first wait
    HandheldAnswered,  // what came back has the handheld's header
    PortGone,          // the MIDI system's failure, in `midiFailure`
};

struct LoopbackResult {
    LoopbackEnd end = LoopbackEnd::Finished;
    Tally tally;
    // The stop-and-wait round's round trips, in microseconds, sorted.
    std::vector<std::int64_t> roundTripsUs;
    // The stream's pace as sent and as it came back, in bytes a second, 0 where unknown.
    double sentRate = 0, copyRate = 0;
    // The MIDI system said it dropped messages that came in: the computer lost them.
    bool dropped = false;
    std::string midiFailure;
    // The rounds that ran to their end.
    std::array<bool, kRounds> over{};
};

// Where the check is: messages done of the round's, for a progress line, and each round
// that has run to its end, with what was counted so far.
struct LoopbackProgress {
    virtual ~LoopbackProgress() = default;
    virtual void reached(Round round, std::uint32_t done, std::uint32_t total) = 0;
    virtual void roundOver(Round round, const LoopbackResult& soFar) = 0;
};

// The pace of the stream: one one-byte packet in the time the cable carries it.
constexpr auto kStreamPace = wire::kBytePacketLength * wire::kByteTime;
// A copy that came back this much slower than the stream left came through an interface
// slower than the cable.
constexpr double kSlowestPace = 0.9;

// Runs both rounds through the link's ports; the input must pass real-time messages for
// an interface's own to be counted.
LoopbackResult checkLoopback(Link& link, LoopbackProgress& progress);
