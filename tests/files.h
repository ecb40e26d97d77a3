// Scratch files for tests, removed with the fixture. Names are UTF-8 on every
// system, as the program takes them.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "link/state.h"

struct ScratchDir {
    std::filesystem::path root;
    std::string path;
    ScratchDir() {
        std::random_device random;
        do {
            root = std::filesystem::temp_directory_path() /
                   ("tpmidi-test-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(root));
        path = root.u8string();
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::string file(const std::string& name, const Bytes& data) const {
        std::ofstream(std::filesystem::u8path(this->name(name)), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return this->name(name);
    }
    std::string name(const std::string& n) const { return path + "/" + n; }
};

inline Bytes readAll(const std::string& name) {
    std::ifstream file(std::filesystem::u8path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Bytes with the given first byte, then a pattern that exercises bit 7.
inline Bytes pattern(std::size_t size, std::uint8_t first) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
    if (size > 0) data[0] = first;
    return data;
}
