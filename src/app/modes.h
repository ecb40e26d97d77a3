// The six mode switches: the command, the handheld's answer, and what the user is told.
#pragma once

#include "link/link.h"
#include "platform/console.h"

// `permanent` selects the capital-letter command, the handheld's default from then on.
void switchSync(Link& link, Console& console, bool permanent);
void switchMidi(Link& link, Console& console, bool permanent, std::uint8_t delay);
void switchMidiReceive(Link& link, Console& console, bool permanent);
