// How a job ends, for the run flow.
#pragma once

#include <string>

#include "platform/console.h"

// The exit status a job asks for, or that the MIDI system cut it short. A job cut short
// has said so, and its line is closed: the run ends there.
struct Ended {
    int status = 0;
    bool cutShort = false;
};

// The run's end after the MIDI system failed: "error" on the console, the reason on the
// error stream.
void reportMidiFailure(Console& console, const std::string& reason);

// A job cut short by the MIDI system: its line closed, then the run's end as above.
Ended cutShort(Console& console, const std::string& reason);
