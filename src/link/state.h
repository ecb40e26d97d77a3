// The program-wide state of one run: message buffers, packet numbering, the file
// buffer, and the hooks through which the program reaches the MIDI library, the
// console and the clock. The run flow owns one instance and passes it by reference,
// so a test can start every case from a fresh one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/protocol.h"

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFileBufferSize = wire::multiboot::kImageSize;
// Empty polls after the latest byte that end a receive: only silence marks the end of a
// bank.
constexpr std::uint32_t kReceiveIdlePolls = 536870912;  // 2^29

enum class Direction { Input, Output };

// A failure of the MIDI system, in the library's words or the program's: the binding
// turns the library's failures into it, and the link throws it when a port went away.
struct MidiFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The one seam between the program and the MIDI library. In the program it is bound
// to RtMidiOut/RtMidiIn; in tests to the simulated handheld. Failures reach the caller
// as MidiFailure.
struct MidiSeam {
    // Creates the output object, then the input object, and sets the input filter.
    std::function<void()> create;
    // Deletes whatever was created (output first), closing its port.
    std::function<void()> destroy;
    std::function<std::vector<std::string>(Direction)> portNames;
    std::function<void(Direction, unsigned)> openPort;
    // Sends one complete message.
    std::function<void(const Bytes&)> send;
    // Replaces the content of its argument with the next queued message, or leaves it
    // empty when nothing is queued.
    std::function<void(Bytes&)> poll;
    // The name of a port the program opened that has gone away (an interface unplugged,
    // the client that owned the port closed), or empty while both are there. Asked now
    // and then while the program waits.
    std::function<std::string()> missingPort;
    // Whether the MIDI system has dropped an incoming message since it was last asked
    // (its queue full while the program was held up), or null where it never says so.
    std::function<bool()> dropped;
};

struct ProgramState {
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
    bool waitSaid = false;
    // How long the program was held up while it waited (stopped, the machine asleep),
    // when that may have cost messages: noted when it looks around, forgotten once
    // messages come in again at their pace, after a look.
    Clock::duration heldUp{};
    bool lookedSinceHeldUp = false;

    Bytes fileBuffer = Bytes(kFileBufferSize, 0);
    std::uint32_t dataLength = kFileBufferSize;
    std::uint8_t delay = wire::kDefaultDelay;
    // Polls of an empty input after which a receive ends; tests may shorten it.
    std::uint32_t receiveIdlePolls = kReceiveIdlePolls;

    // Said last on the error stream, after any failure's reason: where a receive left
    // its bytes.
    std::string closingNote;

    std::istream* in = &std::cin;
    std::ostream* out = &std::cout;
    // Where the MIDI library's own text goes: the console's error stream.
    std::ostream* err = &std::cerr;
    std::function<void(unsigned ms)> sleepMs;
    // Read only when the program looks around while it waits.
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    // The longest time the process did not run at all since it was last asked (stopped,
    // the machine asleep; not a thread waiting for the processor), or null where that
    // cannot be told.
    std::function<Clock::duration()> longestHoldUp;
    MidiSeam midi;
};

// Writes a text, a line end, and flushes: the shape of every message line.
inline void writeLine(ProgramState& st, const std::string& text) {
    *st.out << text << '\n';
    st.out->flush();
}

inline void pause(ProgramState& st, unsigned ms) {
    if (st.sleepMs) st.sleepMs(ms);
}
