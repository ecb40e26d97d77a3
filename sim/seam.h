// The program's MIDI seam bound to an in-process far end, the simulated handheld or a
// loopback cable, for the tests, the fuzz targets and the benchmarks.
#pragma once

#include "cable.h"
#include "handheld.h"
#include "link/seam.h"

// What the program sends reaches the far end; each poll takes its next message, or
// nothing. Ports, creation and teardown are left to the caller.
template <typename FarEnd>
void bindFarEnd(MidiSeam& seam, FarEnd& farEnd) {
    seam.send = [&farEnd](const Bytes& message) { farEnd.receive(message); };
    seam.poll = [&farEnd](Bytes& message) {
        message.clear();
        farEnd.take(message);
    };
}

inline void bindHandheld(MidiSeam& seam, Handheld& handheld) { bindFarEnd(seam, handheld); }
