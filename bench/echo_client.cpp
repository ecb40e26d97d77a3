// echo_client N: N stop-and-wait round trips of an 11-byte data packet with the
// simulator, in plain RtMidi and nothing else; prints the time per round trip.
#include <RtMidi.h>

#include <chrono>
#include <iostream>
#include <string>

#include "midi/rtmidi_binding.h"

namespace {

// Opens the last port whose name begins with "trackpod", as tpmidi01 finds the simulator's.
bool openTrackpod(RtMidi& object) {
    int found = -1;
    for (unsigned i = 0; i < object.getPortCount(); ++i) {
        if (object.getPortName(i).rfind("trackpod", 0) == 0) found = static_cast<int>(i);
    }
    if (found >= 0) object.openPort(static_cast<unsigned>(found), "RtMidi");
    return found >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned n = argc > 1 ? static_cast<unsigned>(std::stoul(argv[1])) : 1000;
    auto out = createMidiOut("echo client out");
    auto in = createMidiIn("echo client in", *out);
    if (!openTrackpod(*in) || !openTrackpod(*out)) {
        std::cerr << "echo_client: no trackpod ports\n";
        return 1;
    }
    std::vector<unsigned char> packet = {0xF0, 0x7E, 0x00, 0x07, 0x02, 0, 0x01, 0x00, 0x2A, 0x00, 0xF7};
    std::vector<unsigned char> answer;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 1; i <= n; ++i) {
        packet[5] = static_cast<unsigned char>(i & 0x7F);
        out->sendMessage(&packet);
        do {
            in->getMessage(&answer);
        } while (answer.size() < 10 || answer[5] != packet[5]);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "echo_client: " << n << " round trips, " << seconds * 1e6 / n << " us each\n";
    return 0;
}
