// Arbitrary first messages after a mode switch: the result is the success text or
// "error", decided without reading past the message.
#include <sstream>

#include "feed.h"
#include "link/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static ProgramState st;
    std::ostringstream out;
    st.out = &out;
    Feed feed(data + 1, size - 1);
    feed.bind(st);
    try {
        switch (data[0] % 3) {
            case 0: switchSync(st, data[0] & 0x80); break;
            case 1: switchMidi(st, data[0] & 0x80); break;
            default: switchMidiReceive(st, data[0] & 0x80); break;
        }
    } catch (const OutOfInput&) {
        return 0;
    }
    const std::string text = out.str();
    if (text != "\nerror\n" && text.find("activated") == std::string::npos) __builtin_trap();
    return 0;
}
