// Binds the MIDI seam to the real MIDI library.
#pragma once

#include <RtMidi.h>

#include "link/state.h"
#include "platform/platform.h"

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <vector>

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
    RtMidiOut* out = nullptr;
    RtMidiIn* in = nullptr;
    // The names of the ports opened, and the first of them found gone, for good.
    std::string inName, outName, gone;
    DropWatch watch{std::cerr.rdbuf()};
};

// Messages RtMidi keeps for the program to take; it drops what arrives beyond them.
// A stalled program (a machine busy elsewhere) gets what piled up meanwhile in
// one burst: 100 messages lost bytes of a bank after a second's stall over JACK;
// 1024 hold 3.6 s of the handheld's stream.
constexpr unsigned kInputQueueLimit = 1024;

// The first of the opened ports that the MIDI system no longer lists, or empty; a port
// found gone stays gone.
std::string missingPort(RtMidiObjects& objects);

// Makes library errors raised on the calling thread, warnings included (some
// backends only warn when a send fails), throw RtMidiError; errors from the
// library's own threads are printed to standard error as the library would.
void throwLibraryErrors(RtMidi& object);

// Closes the port and deletes the object. The JACK backend of RtMidi 5.0 frees its
// send buffer while its process callback may still read it, so the callback is
// given a moment after the port is closed.
// JACK (1.9.21) announces each change of its graph to every client on a thread that
// walks the client's ports with no lock against one being closed meanwhile, and
// can crash the process. A change is announced a cycle after it is made (the other
// object's client just closed, another program just ended), so those announcements
// are given time to end before the port is closed.
constexpr std::chrono::milliseconds kCallbackSettle{20}, kJackSettle{50};
void closeBeforeDelete(RtMidi& object, RtMidi::Api api);

template <typename T>
void deleteRtMidi(T* object) {
    if (object == nullptr) return;
    closeBeforeDelete(*object, object->getCurrentApi());
    delete object;
}

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
T* createRtMidi(RtMidi::Api api, const std::string& clientName, Args... args) {
    std::string missing;
    RtMidiError noSystem("no MIDI system", RtMidiError::NO_DEVICES_FOUND);
    T* portless = nullptr;
    for (const RtMidi::Api system : systemsToTry(api, missing)) {
        T* object = nullptr;
        int ports = -1;
        std::string failure;
        {
            QuietErrorStream quiet;
            try {
                object = new T(system, clientName, args...);
                ports = portCount(*object, failure);
            } catch (const RtMidiError& error) {
                failure = error.getMessage();
            }
            if (ports < 0) deleteRtMidi(object);
        }
        if (ports < 0) {
            noSystem = noMidiSystem(system, failure, missing);
        } else if (ports > 0) {
            deleteRtMidi(portless);
            return object;
        } else if (portless == nullptr) {
            portless = object;
        } else {
            deleteRtMidi(object);
        }
    }
    if (portless == nullptr) throw noSystem;
    return portless;
}

void bindRtMidi(MidiSeam& seam, RtMidiObjects& objects);
