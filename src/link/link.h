// The link to the handheld: its state, and data packets (numbered System Exclusive
// messages with 7-bit packing, each answered before the next one goes out).
#pragma once

#include <optional>

#include "link/protocol.h"
#include "link/seam.h"

// Empty polls after the latest byte that end a receive: only silence marks the end of a
// bank.
constexpr std::uint32_t kReceiveIdlePolls = 536870912;  // 2^29

struct HoldUp {
    Clock::duration length;             // as the watch measured it
    Clock::time_point since, noticed;   // the look around before it, and the one that noticed it
    bool followed = false;              // messages came in after a later look
};

// Everything the link keeps for one run; a test starts each case from a fresh one.
struct Link {
    MidiSeam midi;
    // The message being built and the one last taken from the input.
    Bytes outMessage;
    Bytes inMessage;
    // Complete messages split off a merged incoming message, waiting to be taken.
    std::vector<Bytes> splitMessages;
    std::size_t splitNext = 0;

    std::uint8_t packetNumber = 0;
    std::uint8_t lastReplyNumber = 0;

    // While the program waits: empty polls since it last looked around, when it last
    // looked for the ports, since when nothing has come, and whether it said it waits.
    std::uint32_t emptyPolls = 0;
    Clock::time_point lastPortLook{};
    std::optional<Clock::time_point> silentSince;
    bool longWaitTold = false;
    // Each time the program did not run at all while it waited (stopped, the machine
    // asleep) for longer than the MIDI system keeps messages for it, having begun before
    // the handheld fell silent: messages may have been lost unseen. Whether one could
    // hide a loss is for the receive to judge from the bank's own messages.
    std::vector<HoldUp> holdUps;
    Clock::time_point lastLook{};
    // Polls of an empty input after which a bank has ended; tests shorten it.
    std::uint32_t bankEndPolls = kReceiveIdlePolls;

    std::function<void(unsigned ms)> sleepMs;
    // Read only when the program looks around while it waits.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // The longest time the process did not run at all since it was last asked (stopped,
    // the machine asleep; not a thread waiting for the processor), or null where that
    // cannot be told.
    std::function<Clock::duration()> longestHoldUp;
    // Called once in a silence of some seconds while the handheld owes an answer.
    std::function<void()> longWait;
    // Asks the system to stay awake while a job runs, with the job as the reason: a handle
    // for allowSleep, or -1 where nothing can be asked. Null in the tests' own runs.
    std::function<long long(const std::string& reason)> preventSleep;
    std::function<void(long long handle)> allowSleep;
};

void pause(Link& link, unsigned ms);

// Forgets what the program was held up for so far: a stream about to begin owes it nothing.
void forgetHoldUps(Link& link);

// Takes the next incoming message into link.inMessage, or leaves it empty. `answerAwaited`:
// the handheld owes an answer, so a long silence is worth telling the user of.
void pollMessage(Link& link, bool answerAwaited = false);

// Sends link.outMessage as one message and empties it.
void sendOutMessage(Link& link);

std::uint8_t exchangeByte(Link& link, std::uint8_t value);
std::uint32_t exchangeWord(Link& link, std::uint32_t value);
void sendBlock(Link& link, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3);

// The data byte carried in bytes 7 and 8 of a one-byte packet or answer.
inline std::uint8_t decodeByte(const Bytes& m) {
    return static_cast<std::uint8_t>(((m[wire::kDataAt] & wire::kFirstFlagBit) << 1) | m[wire::kDataAt + 1]);
}
