// The one place that knows RtMidi: it binds the program's MIDI seam to the library, and
// gives the simulator and the benchmarks the same ways to make and close its objects.
// Only the binding's own files include RtMidi's header; users of these objects include
// it themselves.
#pragma once

#include <memory>
#include <string>

#include "link/seam.h"

class RtMidiIn;
class RtMidiOut;

// Closes the object's port, with the pauses that JACK needs around it, then deletes it.
struct CloseAndDelete {
    void operator()(RtMidiIn* object) const;
    void operator()(RtMidiOut* object) const;
};
using RtMidiInPtr = std::unique_ptr<RtMidiIn, CloseAndDelete>;
using RtMidiOutPtr = std::unique_ptr<RtMidiOut, CloseAndDelete>;

// Creates an object on the first MIDI system whose object has a port, or else on the
// first that works; the input on the output's system. The library's own choice would stop
// at its first system that cannot start (no ALSA sequencer, as on WSL2 or in containers)
// without trying the others. Both throw MidiFailure, saying what is missing, when no
// system works. The input passes System Exclusive messages and keeps as many as the
// program's queue holds.
RtMidiOutPtr createMidiOut(const std::string& clientName);
RtMidiInPtr createMidiIn(const std::string& clientName, RtMidiOut& sameSystemAs);

// Makes library errors raised on the calling thread, warnings included (some backends
// only warn when a send fails), throw; errors from the library's own threads are printed
// to standard error as the library would.
void throwLibraryErrors(RtMidiIn& object);
void throwLibraryErrors(RtMidiOut& object);

// Binds the seam to RtMidi, which then owns the objects it creates: the library's
// failures reach the program as MidiFailure, in the library's words.
void bindRtMidi(MidiSeam& seam);
