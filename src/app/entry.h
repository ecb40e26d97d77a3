// The whole run on RtMidi, as main starts it.
#pragma once

int runWithRtMidi(int argc, char** argv);
