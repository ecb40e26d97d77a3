#include <chrono>
#include <thread>

#include "midi/rtmidi_binding.h"
#include "app/run.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
#ifndef TPMIDI_DEFAULT_TIMER  // defined only by a benchmark's build of the program
    RunScope platform;
#endif
    ProgramState st;
    RtMidiObjects objects;
    bindRtMidi(st.midi, objects);
    st.sleepMs = [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    HoldUpWatch watch;
    st.longestHoldUp = [&watch] { return Clock::duration(watch.longestSinceAsked()); };
    return runProgram(st, programArguments(argc, argv));
}
