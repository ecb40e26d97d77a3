// The least a WinMM program can do with RtMidi, to tell a crash of the program from
// one of the system under it. Each step is chosen by argument:
//   none     only returns
//   count    asks WinMM for the number of MIDI devices, nothing more
//   create   creates an RtMidiIn and an RtMidiOut and deletes them
//   open     also opens input port 0 and output port 0 and closes them first
// Nothing of the program's binding is used, only the library it brings.
#include <RtMidi.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    const char* step = argc > 1 ? argv[1] : "none";
    if (std::strcmp(step, "count") == 0) {
        std::printf("%u inputs, %u outputs\n", midiInGetNumDevs(), midiOutGetNumDevs());
    } else if (std::strcmp(step, "create") == 0 || std::strcmp(step, "open") == 0) {
        auto in = std::make_unique<RtMidiIn>(RtMidi::WINDOWS_MM);
        auto out = std::make_unique<RtMidiOut>(RtMidi::WINDOWS_MM);
        if (std::strcmp(step, "open") == 0 && in->getPortCount() > 0 && out->getPortCount() > 0) {
            in->openPort(0);
            out->openPort(0);
            in->closePort();
            out->closePort();
        }
        in.reset();
        out.reset();
    }
    std::printf("%s: done\n", step);
    std::fflush(stdout);
    return 0;
}
