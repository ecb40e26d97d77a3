// Shared by the fuzz targets: a fresh state whose MIDI input is the fuzz input cut into
// messages (a length byte, 0 to 31, then the bytes), each in a vector of exactly its size
// so that a read past its end hits the red zone; after the input, `silence` empty polls.
#pragma once

#include <algorithm>
#include <sstream>

#include "link/state.h"

struct OutOfInput {};

struct Feed {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    unsigned silence, silentPolls = 0;
    ProgramState st;
    std::ostringstream out;

    Feed(const std::uint8_t* d, std::size_t n, unsigned silentLimit = 0) : data(d), size(n), silence(silentLimit) {
        st.out = &out;
        st.midi.send = [](const Bytes&) {};
        st.midi.poll = [this](Bytes& m) {
            if (at >= size) {
                m.clear();
                if (++silentPolls > silence) throw OutOfInput{};
                return;
            }
            const std::size_t wanted = data[at++] & 0x1F, length = std::min(wanted, size - at);
            Bytes(data + at, data + at + length).swap(m);
            at += length;
        };
    }
};

#define FUZZ_CHECK(condition) \
    if (!(condition)) __builtin_trap()
