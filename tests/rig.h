// Shared by the in-process tests: a run of the program against the simulated
// handheld (the seam bound to the model, console streams in memory, pauses and sends
// recorded in order), and scratch files under UTF-8 names.
#pragma once

#include <RtMidi.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "handheld.h"

struct Rig {
    HandheldConfig config;
    std::unique_ptr<Handheld> handheld;
    ProgramState st;
    std::ostringstream out;
    std::istringstream in;
    // "sleep N", "send HEX", "open in N", "open out N", "destroy", in the order they happened.
    std::vector<std::string> events;
    std::vector<std::string> inputPorts{"trackpod-sim out:from-handheld"};
    std::vector<std::string> outputPorts{"trackpod-sim in:to-handheld"};
    bool createFails = false, openFails = false;
    long sendsBeforeFailure = -1;  // -1: sends never fail

    explicit Rig(HandheldConfig c = {}, const std::string& input = "\n")
        : config(std::move(c)), handheld(std::make_unique<Handheld>(config)), in(input) {
        st.out = &out, st.in = &in, st.receiveIdlePolls = 10000;
        st.sleepMs = [this](unsigned ms) { events.push_back("sleep " + std::to_string(ms)); };
        st.midi.create = [this] {
            if (createFails) throw RtMidiError("no MIDI system", RtMidiError::DRIVER_ERROR);
        };
        st.midi.destroy = [this] { events.push_back("destroy"); };
        st.midi.portNames = [this](Direction d) { return d == Direction::Input ? inputPorts : outputPorts; };
        st.midi.openPort = [this](Direction d, unsigned i) {
            if (openFails) throw RtMidiError("cannot open", RtMidiError::DRIVER_ERROR);
            events.push_back((d == Direction::Input ? "open in " : "open out ") + std::to_string(i));
        };
        st.midi.send = [this](const Bytes& m) {
            if (sendsBeforeFailure == 0) throw RtMidiError("send failed", RtMidiError::WARNING);
            if (sendsBeforeFailure > 0) --sendsBeforeFailure;
            events.push_back("send " + hexLine(m));
            handheld->receive(m);
        };
        st.midi.poll = [this](Bytes& m) { handheld->take(m); };
    }

    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "tpmidi01");
        return runProgram(st, args);
    }

    std::vector<std::string> sends() const {
        std::vector<std::string> result;
        for (const auto& e : events) if (e.rfind("send ", 0) == 0) result.push_back(e.substr(5));
        return result;
    }

    std::size_t count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }
};

// The console text of a run that chose both ports by name, ahead of the option's text.
inline const std::string kPortsOpened =
    "\ntrackpod-sim out:from-handheld opened for input\n"
    "\ntrackpod-sim in:to-handheld opened for output\n";

struct ScratchDir {
    std::filesystem::path root;
    std::string path;
    ScratchDir() {
        std::random_device random;
        do {
            root = std::filesystem::temp_directory_path() / ("tpmidi-test-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(root));
        path = root.u8string();
    }
    ~ScratchDir() { std::filesystem::remove_all(root, ignored); }
    std::error_code ignored;
    std::string name(const std::string& n) const { return path + "/" + n; }
    std::string file(const std::string& n, const Bytes& data) const {
        std::ofstream(std::filesystem::u8path(name(n)), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return name(n);
    }
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
