// "--loopback": tries the MIDI interface, cabled OUT to its own IN, with the program's own
// shapes of message, and says whether it carries them.
#pragma once

#include "app/ended.h"
#include "link/link.h"
#include "platform/console.h"
#include "transfer/loopback.h"

// The end of the report: a round cut short, what the interface added, and the verdict;
// the exit status: 0 when the interface passes, 1 when it fails or the check could not tell.
int reportLoopback(Console& console, const LoopbackResult& result);

// Tells the user what to cable, waits for Enter, runs the check and reports it. A port that
// went away ends it as every job: what was counted, then the failure.
Ended checkInterface(Link& link, Console& console);
