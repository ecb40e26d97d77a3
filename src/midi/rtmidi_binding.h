// The one place that knows RtMidi: it binds the program's MIDI seam to the library, and
// gives the simulator and the benchmarks the same ways to make, find and close its objects.
#pragma once

#include <RtMidi.h>

#include "link/state.h"
#include "platform/platform.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

// Closes the object's port, with the pauses that JACK needs around it.
void closeBeforeDelete(RtMidi& object, RtMidi::Api api);

template <typename T>
struct CloseAndDelete {
    void operator()(T* object) const {
        closeBeforeDelete(*object, object->getCurrentApi());
        delete object;
    }
};
// An RtMidi object that closes its port before it is deleted.
template <typename T>
using RtMidiPtr = std::unique_ptr<T, CloseAndDelete<T>>;

// RtMidi says on std::cerr, from its input thread, when it drops an incoming message:
// its queue full ("message queue limit reached"), or the ALSA sequencer's input overrun.
// That is the only sign of messages lost at the end of a stream, where no gap in their
// numbers can show. The watch notes it, keeps those messages (one per message dropped)
// off the console, and lets everything else through.
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

struct RtMidiObjects {
    DropWatch watch{std::cerr.rdbuf()};
    // The seam's destroy deletes the output first, then the input; declared in this
    // order, they are deleted so too when the objects go out of scope.
    RtMidiPtr<RtMidiIn> in;
    RtMidiPtr<RtMidiOut> out;
    // The names of the ports opened, and the first of them found gone, for good.
    std::string inName, outName, gone;
};

// Messages RtMidi keeps for the program to take; it drops what arrives beyond them.
// A stalled program (a machine busy elsewhere) gets what piled up meanwhile in
// one burst: 100 messages lost bytes of a bank after a second's stall over JACK;
// 1024 hold 3.6 s of the handheld's stream.
constexpr unsigned kInputQueueLimit = 1024;

// Makes library errors raised on the calling thread, warnings included (some
// backends only warn when a send fails), throw RtMidiError; errors from the
// library's own threads are printed to standard error as the library would.
void throwLibraryErrors(RtMidi& object);

// The MIDI systems to try for `api` (UNSPECIFIED: every one compiled in, in the library's
// order). Without its device the ALSA sequencer is not tried: its library and RtMidi
// would print their complaints, then fail. What is missing is added to `missing`.
std::vector<RtMidi::Api> systemsToTry(RtMidi::Api api, std::string& missing);
// The object's port count, or -1 when its MIDI system failed (RtMidi's JACK backend only
// warns when it finds no server, and then counts none); the library's text in `failure`.
int portCount(RtMidi& object, std::string& failure);
// The failure that says in plain words which MIDI systems are missing, and what to start.
RtMidiError noMidiSystem(RtMidi::Api system, const std::string& failure, std::string& missing);

// Creates an object on the first MIDI system whose object has a port, or else on the
// first that works. The library's own choice would stop at its first system that cannot
// start (no ALSA sequencer, as on WSL2 or in containers) without trying the others.
// Throws, saying what is missing, when no system works.
template <typename T, typename... Args>
RtMidiPtr<T> createRtMidi(RtMidi::Api api, const std::string& clientName, Args... args) {
    std::string missing;
    RtMidiError noSystem("no MIDI system", RtMidiError::NO_DEVICES_FOUND);
    RtMidiPtr<T> portless;
    for (const RtMidi::Api system : systemsToTry(api, missing)) {
        RtMidiPtr<T> object;
        int ports = -1;
        std::string failure;
        {
            QuietErrorStream quiet;
            try {
                object.reset(new T(system, clientName, args...));
                ports = portCount(*object, failure);
            } catch (const RtMidiError& error) {
                failure = error.getMessage();
            }
            if (ports < 0) object.reset();
        }
        if (ports < 0) {
            noSystem = noMidiSystem(system, failure, missing);
        } else if (ports > 0) {
            return object;
        } else if (!portless) {
            portless = std::move(object);
        }
    }
    if (!portless) throw noSystem;
    return portless;
}

// Binds the seam to RtMidi: the library's failures reach the program as MidiFailure,
// in the library's words.
void bindRtMidi(MidiSeam& seam, RtMidiObjects& objects);
