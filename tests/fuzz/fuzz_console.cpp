// Arbitrary console input at the port prompt and arbitrary delay arguments: the
// chosen port is always one that exists, and the delay is the low byte of the
// number as the C library reads it.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "app/ports.h"
#include "app/run.h"

namespace {

std::uint8_t referenceDelay(const std::string& text) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return static_cast<std::uint8_t>(static_cast<unsigned long long>(v) & 0xFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (parseDelay(text) != referenceDelay(text)) __builtin_trap();

    static ProgramState st;
    std::ostringstream out;
    std::istringstream in(text);
    st.out = &out;
    st.in = &in;
    const unsigned count = data[0] % 6;
    std::vector<std::string> names;
    for (unsigned i = 0; i < count; ++i) names.push_back((data[0] & 0x80) && i == 1 ? "trackpod" : "port");
    long opened = -1;
    st.midi.portNames = [&](Direction) { return names; };
    st.midi.openPort = [&](Direction, unsigned index) { opened = index; };
    const bool ok = choosePort(st, Direction::Input);
    if (ok != (opened >= 0)) __builtin_trap();
    if (ok && static_cast<unsigned>(opened) >= count) __builtin_trap();
    return 0;
}
