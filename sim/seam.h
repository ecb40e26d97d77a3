// The program's MIDI seam bound to the in-process handheld, for the tests, the fuzz
// targets and the benchmarks.
#pragma once

#include "handheld.h"
#include "link/seam.h"

// What the program sends reaches the handheld; each poll takes its next message, or
// nothing. Ports, creation and teardown are left to the caller.
void bindHandheld(MidiSeam& seam, Handheld& handheld);
