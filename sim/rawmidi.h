// A raw MIDI device (Linux: /dev/snd/midiC<n>D0) as the simulated handheld's
// cable: a byte stream in both directions, in which System Exclusive messages are
// found by their F0 and F7, optionally at the DIN cable's rate.
#pragma once

#include <chrono>
#include <string>

#include "handheld.h"

class RawMidi {
public:
    // Throws std::runtime_error when the device cannot be opened (or, on Windows,
    // where there are no such devices).
    RawMidi(const std::string& device, bool cablePace);
    ~RawMidi();
    RawMidi(const RawMidi&) = delete;
    RawMidi& operator=(const RawMidi&) = delete;

    // The next complete System Exclusive message, waiting at most `wait`; other
    // bytes (channel and real-time messages, a message cut short) are dropped.
    bool next(Bytes& message, std::chrono::milliseconds wait);
    void send(const Bytes& message);

    // 31250 baud, 10 bits a byte.

private:
    int fd_ = -1;
    bool cablePace_;
    Bytes partial_;
    bool inSysEx_ = false;
    std::chrono::steady_clock::time_point firstByte_;
};
