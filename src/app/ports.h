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

// How one side's port is chosen from the names its MIDI system lists, and `wanted`, the
// value of TPMIDI01_PORT (empty when it is not set). When it is set, the ports whose
// names contain it, in any letter case, come first: exactly one is opened without asking,
// several are offered at the prompt; with none, the user is told and every port is
// offered. When it is not set, pickPortByName decides, or every port is offered.
struct PortChoice {
    std::optional<unsigned> chosen;
    std::vector<unsigned> offered;
    bool wantedMatchesNothing = false;
};
PortChoice choosePortByName(const std::vector<std::string>& names, const std::string& wanted);

// Opens one port on the object of the given direction. False when the object has no
// port, or when standard input ended at the prompt.
bool choosePort(MidiSeam& midi, Console& console, Direction direction, const std::string& wanted);

// Lists one side's ports as the prompt would, and marks the one that would be opened
// without asking; opens nothing.
void listPorts(MidiSeam& midi, Console& console, Direction direction, const std::string& wanted);
