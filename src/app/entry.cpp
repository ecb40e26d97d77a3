#include "app/entry.h"

#include <chrono>
#include <thread>

#include "app/run.h"
#include "midi/rtmidi_binding.h"
#include "platform/platform.h"

int runWithRtMidi(int argc, char** argv) {
    HoldUpWatch watch;
    Link link;
    Console console;
    bindRtMidi(link.midi);
    link.hooks.sleepMs = [](unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    link.hooks.longestHoldUp = [&watch] { return Clock::duration(watch.longestSinceAsked()); };
    link.hooks.preventSleep = preventSleep;
    link.hooks.allowSleep = allowSleep;
    return runProgram(link, console, programArguments(argc, argv), environmentVariable("TPMIDI01_PORT"),
                      consoleIsOwnAlone());
}
