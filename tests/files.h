// Scratch files for tests, removed with the fixture.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "link/state.h"

struct ScratchDir {
    std::string path;
    ScratchDir() {
        char name[] = "/tmp/tpmidi-test-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~ScratchDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const std::string& name, const Bytes& data) const {
        const std::string full = path + "/" + name;
        std::ofstream(full, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return full;
    }
    std::string name(const std::string& n) const { return path + "/" + n; }
};

inline Bytes readAll(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Bytes with the given first byte, then a pattern that exercises bit 7.
inline Bytes pattern(std::size_t size, std::uint8_t first) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
    if (size > 0) data[0] = first;
    return data;
}
