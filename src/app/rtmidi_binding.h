// Binds the MIDI seam to the real MIDI library.
#pragma once

#include <RtMidi.h>

#include "link/state.h"

#include <chrono>
#include <string>

struct RtMidiObjects {
    RtMidiOut* out = nullptr;
    RtMidiIn* in = nullptr;
    // The names of the ports opened, and the first of them found gone, for good.
    std::string inName, outName, gone;
};

// Messages RtMidi keeps for the program to take; it drops what arrives beyond them.
// A stalled program (a machine busy elsewhere) gets what piled up meanwhile in
// one burst: 100 messages lost bytes of a bank after a second's stall over JACK;
// 1024 hold 3.6 s of the handheld's stream.
constexpr unsigned kInputQueueLimit = 1024;

// The first of the opened ports that the MIDI system no longer lists, or empty; a port
// found gone stays gone.
std::string missingPort(RtMidiObjects& objects);

// Creates an RtMidi object of type T. The library's own choice of API throws when
// its first API cannot start (no ALSA sequencer, as on WSL2 or in containers)
// without trying the others; then each compiled API is tried in turn. `api` other
// than UNSPECIFIED asks for that one first.
template <typename T, typename... Args>
T* createRtMidi(RtMidi::Api api, const std::string& clientName, Args... args) {
    try {
        return new T(api, clientName, args...);
    } catch (const RtMidiError&) {
        std::vector<RtMidi::Api> apis;
        RtMidi::getCompiledApi(apis);
        for (RtMidi::Api candidate : apis) {
            if (candidate == api) continue;
            try {
                return new T(candidate, clientName, args...);
            } catch (const RtMidiError&) {
            }
        }
        throw;
    }
}

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

void bindRtMidi(MidiSeam& seam, RtMidiObjects& objects);
