// The one seam between the program and the MIDI library, and the types that cross it.
// The program binds it to RtMidi (src/midi); the tests bind it to the simulated handheld.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

enum class Direction { Input, Output };

// A failure of the MIDI system, in the library's words or the program's: the binding
// turns the library's failures into it, and the link throws it when a port went away.
struct MidiFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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
    // How many of a busy loop's empty polls one empty poll stands for: 1 where poll returns
    // at once; more where it waits a while for a message first (a web page must not spin),
    // so that the silence that ends a bank and the looks around keep their length in time.
    std::uint32_t pollsPerEmptyPoll = 1;
    // The name of a port the program opened that has gone away (an interface unplugged,
    // the client that owned the port closed), or empty while both are there. Asked now
    // and then while the program waits.
    std::function<std::string()> missingPort;
    // Whether the MIDI system has dropped an incoming message since it was last asked
    // (its queue full while the program was held up), or null where it never says so.
    std::function<bool()> dropped;
    // Lets timing clock and Active Sensing messages through the input, which drops them
    // otherwise; null where they cannot be let through.
    std::function<void()> passRealTime;
    // How much of the handheld's stream the MIDI system keeps for a program that does not
    // run at all (stopped, the machine asleep): its buffers' worth at the cable's pace. Null
    // or zero where no more than the least that any system keeps can be counted on.
    std::function<std::chrono::milliseconds()> keptWhileStopped;
};
