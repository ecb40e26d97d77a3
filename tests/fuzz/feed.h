// Turns fuzz input into a sequence of incoming MIDI messages: a length byte (0 to 31),
// then that many bytes, again and again. Every message is handed over in a vector of
// exactly its size, so a read past its end lands in the sanitizer's red zone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/state.h"

struct OutOfInput {};

struct Feed {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    Feed(const std::uint8_t* d, std::size_t n) : data(d), size(n) {}

    bool next(Bytes& message) {
        if (at >= size) return false;
        const std::size_t wanted = data[at++] & 0x1F;
        const std::size_t length = std::min(wanted, size - at);
        Bytes fresh(data + at, data + at + length);
        at += length;
        message.swap(fresh);
        return true;
    }

    // A seam poll that ends the run (by throwing) once the input is used up.
    void bind(ProgramState& st) {
        st.midi.send = [](const Bytes&) {};
        st.midi.poll = [this](Bytes& m) {
            if (!next(m)) throw OutOfInput{};
        };
    }
};
