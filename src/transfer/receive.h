// "-receive": ask the handheld for a bank and save every byte it sends.
#pragma once

#include "link/state.h"

void receiveFile(ProgramState& st, const char* fileName);
