// RtMidi says on std::cerr, from its input thread, when it drops an incoming message:
// its queue full ("message queue limit reached"), or the ALSA sequencer's input overrun
// (said as "input buffer overrun", or as an "unknown MIDI input error" followed by the
// system's "Resource temporarily unavailable", which goes around std::cerr and shows).
// That is the only sign of messages lost at the end of a stream, where no gap in their
// numbers can show. The watch notes it, keeps those messages (one per message dropped)
// off the console, and lets everything else through.
#pragma once

#include <atomic>
#include <mutex>
#include <streambuf>

class DropWatch : public std::streambuf {
public:
    explicit DropWatch(std::streambuf* through) : through_(through) {}
    // Whether a drop was said since the last call.
    bool dropped() { return dropped_.exchange(false); }
    std::streambuf* through() const { return through_; }

protected:
    std::streamsize xsputn(const char* text, std::streamsize n) override;
    int_type overflow(int_type c) override;
    int sync() override;

private:
    std::streambuf* through_;
    std::mutex mutex_;
    std::atomic<bool> dropped_{false};
};
