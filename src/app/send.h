// "-send": load a file, announce the upload, recognise the kind, send it.
#pragma once

#include "link/state.h"

enum class FileKind { GameBoyRom, GbaRom, Bank25, Bank16, Other };

FileKind kindOf(std::uint8_t firstByte);

// Reads at most 262144 bytes of the file into the file buffer and sets the data
// length. False when there is no name or the file cannot be opened or read.
bool loadFile(ProgramState& st, const char* fileName);

void sendFile(ProgramState& st, const char* fileName);
