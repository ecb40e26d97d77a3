// The run from start to exit: MIDI objects, port choice, one option, teardown.
#pragma once

#include <string>
#include <vector>

#include "link/link.h"
#include "platform/console.h"

// The delay byte of "-midi"/"-MIDI": the argument read as a signed 32-bit decimal
// (leading space skipped, optional sign, digits up to the first other character,
// clamped to the 32-bit range), low 8 bits kept.
std::uint8_t parseDelay(const std::string& text);

// Every option the program takes, in the order of its table.
std::vector<std::string> optionNames();

// Runs the program for the given arguments (the program name first) over the link's
// seam, speaking on the console; `portWanted`: the value of TPMIDI01_PORT, or empty.
// Returns the exit status: 0 on every path of the jobs; the loopback check's says whether
// the interface passed.
// `ownWindow`: the console closes with the program (a double-clicked program), so its last
// words wait for Enter.
int runProgram(Link& link, Console& console, const std::vector<std::string>& args,
               const std::string& portWanted = "", bool ownWindow = false);
