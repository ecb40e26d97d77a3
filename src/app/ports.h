// Choosing and opening the MIDI interface's input and output ports.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/state.h"

// The port to open without asking: the only port, or else the highest-numbered port
// whose name begins with "trackpod". Nothing when the user must be asked.
std::optional<unsigned> pickPortByName(const std::vector<std::string>& names);

enum class PortAnswer { Number, NotNumber, EndOfInput };

// Reads one answer line from the prompt. A number (optionally signed; negative values
// wrap as an unsigned read does, values too large saturate) fills `number`; the rest
// of the line is always consumed.
PortAnswer readPortAnswer(std::istream& in, std::uint32_t& number);

// Opens one port on the object of the given direction. False when the object has no
// port, or when standard input ended at the prompt.
bool choosePort(ProgramState& st, Direction direction);
