// The simulated handheld, or a loopback cable, for the web page's tests: the same model that
// trackpod-sim and the in-process tests drive, behind a stand-in for Web MIDI in JavaScript.
#include <emscripten.h>

#include <memory>

#include "cable.h"
#include "handheld.h"

namespace {

std::unique_ptr<Handheld> handheld;
std::unique_ptr<Cable> cable;
Outgoing next;
bool held = false;

// Takes the far end's next message into `next`, once.
bool ahead() {
    if (!held) held = cable ? cable->take(next) : handheld && handheld->take(next);
    return held;
}

}  // namespace

extern "C" {

// A handheld with this bank to stream, with `holeAfter` messages of it left out after that
// byte (0: none) as a MIDI system that falls behind drops them; silent after answering
// `answerPackets` data packets (0: never).
EMSCRIPTEN_KEEPALIVE void sim_handheld(const std::uint8_t* bank, int length, int holeAfter, int answerPackets) {
    HandheldConfig config;
    config.bank.assign(bank, bank + length);
    if (holeAfter > 0) config.bankHoles = {{static_cast<std::size_t>(holeAfter), 3}};
    if (answerPackets > 0) config.answerPackets = static_cast<unsigned>(answerPackets);
    cable.reset();
    handheld = std::make_unique<Handheld>(config);
    held = false;
}

// A loopback cable, intact (0) or changing a byte of every N-th message.
EMSCRIPTEN_KEEPALIVE void sim_cable(int changeEvery) {
    CableConfig config;
    config.changeEvery = static_cast<unsigned>(changeEvery);
    handheld.reset();
    cable = std::make_unique<Cable>(config);
    held = false;
}

EMSCRIPTEN_KEEPALIVE void sim_receive(const std::uint8_t* message, int length) {
    const Bytes m(message, message + length);
    if (cable) cable->receive(m);
    if (handheld) handheld->receive(m);
}

// The length of the far end's next message, 0 when it has none; then the message itself.
EMSCRIPTEN_KEEPALIVE int sim_next_length() { return ahead() ? static_cast<int>(next.bytes.size()) : 0; }
EMSCRIPTEN_KEEPALIVE void sim_take(std::uint8_t* out) {
    std::copy(next.bytes.begin(), next.bytes.end(), out);
    held = false;
}

// What the last upload delivered, and the command messages taken.
EMSCRIPTEN_KEEPALIVE int sim_uploaded_length() { return handheld ? static_cast<int>(handheld->uploaded().size()) : 0; }
EMSCRIPTEN_KEEPALIVE const std::uint8_t* sim_uploaded() { return handheld ? handheld->uploaded().data() : nullptr; }
EMSCRIPTEN_KEEPALIVE int sim_commands() { return handheld ? static_cast<int>(handheld->commands()) : 0; }

}
