// "-send": load a file, announce the upload, recognise the kind, send it.
#pragma once

#include "link/state.h"

void sendFile(ProgramState& st, const char* fileName);
