// The bytes to send, as the run flow loaded them: read, never changed, by the uploads.
#pragma once

#include <cstdint>

struct ImageView {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    std::uint8_t operator[](std::uint32_t i) const { return data[i]; }
};
