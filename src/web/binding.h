// The MIDI seam bound to Web MIDI, for the page: the ports the user chose there, and waits
// that give the browser its one thread back (src/web/midi.js keeps the JavaScript side).
#pragma once

#include "link/link.h"

// Binds the link's seam and its pauses.
void bindWebMidi(Link& link);
