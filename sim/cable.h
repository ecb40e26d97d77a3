// A cable from the program's MIDI output back to its input, as a user wires an interface's
// OUT to its own IN to try it: what it is sent comes back, intact, or spoiled in the ways
// real interfaces spoil it. Driven like the handheld, in-process and by trackpod-sim.
#pragma once

#include <string>

#include "handheld.h"

struct CableConfig {
    unsigned changeEvery = 0;   // a byte of every N-th message changed
    bool loseTwoOfSix = false;  // two bytes of every six carried lost, as a CH345 chip loses them
    unsigned dropByte = 0;      // the N-th byte carried lost, and every 256th after it
    unsigned cutAt = 0;         // messages longer than N bytes cut to N, the last an F7
    unsigned loseEvery = 0;     // every N-th message lost
    unsigned byteTimeUs = 0;    // each message held for its bytes at this pace: a slow cable
    unsigned sensingEvery = 0;  // an Active Sensing message after every N-th message
};

class Cable {
public:
    explicit Cable(CableConfig config = {}) : config_(config) {}

    void receive(const Bytes& message);
    bool take(Outgoing& message) { return outbox_.take(message); }
    bool take(Bytes& message) { return outbox_.take(message); }
    // A cable takes no data packet; the simulator's summary asks.
    unsigned dataPackets() const { return 0; }
    std::string summary() const;

private:
    // Whether the next byte carried is one that the cable loses.
    bool losesNextByte();

    CableConfig config_;
    Outbox outbox_;
    unsigned messages_ = 0, spoiled_ = 0, lost_ = 0, sensing_ = 0;
    unsigned long long bytes_ = 0;
};
