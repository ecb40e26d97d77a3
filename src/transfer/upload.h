// Byte-stream uploads: every byte of the loaded file in its own data packet.
#pragma once

#include "link/state.h"

// trackpod 2.5 banks: own instructions, Enter, the bytes back to back.
void uploadBank25(ProgramState& st);

// Every other kind: Enter, the bytes with 30 ms before every 128th; the final line
// stays open for the caller.
void uploadPaced(ProgramState& st);
