// Choosing and opening the MIDI interface's input and output ports.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/seam.h"
#include "platform/console.h"

// The port to open without asking: the only port, or else the highest-numbered port
// whose name begins with "trackpod". Nothing when the user must be asked.
std::optional<unsigned> pickPortByName(const std::vector<std::string>& names);

// Opens one port on the object of the given direction. False when the object has no
// port, or when standard input ended at the prompt.
bool choosePort(MidiSeam& midi, Console& console, Direction direction);
