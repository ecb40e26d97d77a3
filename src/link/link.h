// The link to the handheld: its state, and data packets (numbered System Exclusive
// messages with 7-bit packing, each answered before the next one goes out).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// Told once in a silence of some seconds while the handheld owes an answer: the run flow
// says so to the user.
class LongWait {
public:
    virtual void waitingLong() = 0;

protected:
    ~LongWait() = default;
};

// What the system the link runs on gives it; each may be left null (the tests' own runs).
struct LinkHooks {
    std::function<void(unsigned ms)> sleepMs;
    // Read only when the program looks around while it waits.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // The longest time the process did not run at all since it was last asked (stopped,
    // the machine asleep; not a thread waiting for the processor), or null where that
    // cannot be told.
    std::function<Clock::duration()> longestHoldUp;
    LongWait* longWait = nullptr;
    // Asks the system to stay awake while a job runs, with the job as the reason: a handle
    // for allowSleep, or -1 where nothing can be asked.
    std::function<long long(const std::string& reason)> preventSleep;
    std::function<void(long long handle)> allowSleep;
};

// Everything the link keeps for one run; a test starts each case from a fresh one. The
// seam and the hooks are given; the rest is the link's own, kept by its functions.
class Link {
public:
    // `bankEndPolls`: polls of an empty input after which a bank has ended (tests shorten
    // it); `lastPacketNumber`: the number before the first packet's.
    explicit Link(std::uint32_t bankEndPolls = kReceiveIdlePolls, std::uint8_t lastPacketNumber = 0)
        : bankEndPolls_(bankEndPolls) {
        wire_.packetNumber = wire_.lastReplyNumber = lastPacketNumber;
    }

    MidiSeam midi;
    LinkHooks hooks;

    std::uint32_t bankEndPolls() const { return bankEndPolls_; }
    Clock::time_point now() const { return hooks.now(); }
    // Each time the program did not run at all while it waited (stopped, the machine
    // asleep) for longer than the MIDI system keeps messages for it, having begun before
    // the handheld fell silent: messages may have been lost unseen. Whether one could
    // hide a loss is for the receive to judge from the bank's own messages.
    const std::vector<HoldUp>& holdUps() const { return wait_.holdUps; }
    // The number of the last packet sent, and of the last answer taken.
    std::uint8_t packetNumber() const { return wire_.packetNumber; }
    std::uint8_t lastReplyNumber() const { return wire_.lastReplyNumber; }

private:
    friend struct LinkAccess;  // for the link's functions alone

    // The message being built and the one last taken from the input; complete messages
    // split off a merged incoming one, waiting to be taken; the numbering.
    struct Wire {
        Bytes outMessage, inMessage;
        std::vector<Bytes> splitMessages;
        std::size_t splitNext = 0;
        std::uint8_t packetNumber = 0, lastReplyNumber = 0;
    } wire_;
    // While the program waits: empty polls since it last looked around, when it last
    // looked for the ports and around, since when nothing has come, whether it said it
    // waits, and the hold-ups noted.
    struct Wait {
        std::uint32_t emptyPolls = 0;
        Clock::time_point lastPortLook{}, lastLook{};
        std::optional<Clock::time_point> silentSince;
        bool longWaitTold = false;
        std::vector<HoldUp> holdUps;
    } wait_;
    std::uint32_t bankEndPolls_;
};

void pause(Link& link, unsigned ms);

// Forgets what the program was held up for so far: a stream about to begin owes it nothing.
void forgetHoldUps(Link& link);
// Forgets only the hold-ups already noted, not one the watch has yet to tell of.
void forgetNotedHoldUps(Link& link);
// Looks at once for a hold-up since the last look, as a wait does now and then: whether it
// noted one (the newest of holdUps()).
bool lookForHoldUp(Link& link);

// The next incoming message, or an empty one: a view into the link's buffer, good until
// the link next takes one. `answerAwaited`: the handheld owes an answer, so a long silence
// is worth telling the user of.
const Bytes& pollMessage(Link& link, bool answerAwaited = false);

// Sends one message as it is.
void sendMessage(Link& link, const Bytes& message);

std::uint8_t exchangeByte(Link& link, std::uint8_t value);
std::uint32_t exchangeWord(Link& link, std::uint32_t value);
void sendBlock(Link& link, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3);

// The data byte carried in bytes 7 and 8 of a one-byte packet or answer.
inline std::uint8_t decodeByte(const Bytes& m) {
    return static_cast<std::uint8_t>(((m[wire::kDataAt] & wire::kFirstFlagBit) << 1) | m[wire::kDataAt + 1]);
}
