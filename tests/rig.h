// Shared by the in-process tests: a run of the program against the simulated handheld,
// console and events recorded, and scratch files under UTF-8 names.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "handheld.h"
#include "seam.h"

// What the user sees of standard output: its text, and whether every visible character
// written has been flushed.
struct Screen : std::streambuf {
    std::string text;
    bool shown = true;
    int_type overflow(int_type c) override { return xsputn(std::string(1, static_cast<char>(c)).data(), 1), c; }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text.append(s, static_cast<std::size_t>(n));
        shown = shown && std::all_of(s, s + n, [](char c) { return c == '\r'; });
        return n;
    }
    int sync() override { return shown = true, 0; }
};

struct Rig {
    HandheldConfig config;
    std::unique_ptr<Handheld> handheld;
    std::unique_ptr<Cable> cable;
    // The far end's own seam: the handheld's, or a loopback cable's in its place.
    MidiSeam farEnd;
    Link link;
    Screen screen;
    std::ostream out{&screen};
    std::ostringstream err;
    std::istringstream in;
    Console console{&in, &out, &err, {}};
    // "sleep N", "send HEX", "open in N", "open out N", "destroy", in the order they happened.
    std::vector<std::string> events;
    // Times the program went on (paused, sent, polled, ended) with text the user could not yet see.
    std::size_t unflushed = 0;
    // The asks to stay awake, "held REASON" and "given back", each with the count of
    // events before it; whether the system grants them.
    std::vector<std::pair<std::string, std::size_t>> sleepLocks;
    bool awakeGranted = true;
    std::vector<std::string> inputPorts{"trackpod-sim out:from-handheld"};
    std::vector<std::string> outputPorts{"trackpod-sim in:to-handheld"};
    bool createFails = false, openFails = false, sendFails = false;

    void record(const std::string& event) {
        unflushed += !screen.shown;
        events.push_back(event);
    }
    static void failIf(bool fails, const char* what) {
        if (fails) throw MidiFailure(what);
    }

    // `bankEndPolls`: the link's, shorter than the program's own 2^29 (kReceiveIdlePolls).
    explicit Rig(HandheldConfig c = {}, const std::string& input = "\n", std::uint32_t bankEndPolls = 10000)
        : config(std::move(c)), handheld(std::make_unique<Handheld>(config)), link(bankEndPolls), in(input) {
        link.hooks.sleepMs = [this](unsigned ms) { record("sleep " + std::to_string(ms)); };
        link.hooks.preventSleep = [this](const std::string& reason) {
            sleepLocks.emplace_back("held " + reason, events.size());
            return awakeGranted ? 7LL : -1LL;
        };
        link.hooks.allowSleep = [this](long long handle) {
            sleepLocks.emplace_back("given back " + std::to_string(handle), events.size());
        };
        bindHandheld(farEnd, *handheld);
        link.midi.create = [this] { failIf(createFails, "no MIDI system"); };
        link.midi.destroy = [this] { record("destroy"); };
        link.midi.portNames = [this](Direction d) { return d == Direction::Input ? inputPorts : outputPorts; };
        link.midi.openPort = [this](Direction d, unsigned i) {
            failIf(openFails, "cannot open");
            record((d == Direction::Input ? "open in " : "open out ") + std::to_string(i));
        };
        link.midi.send = [this](const Bytes& m) {
            failIf(sendFails, "send failed");
            record("send " + hexLine(m));
            farEnd.send(m);
        };
        link.midi.poll = [this](Bytes& m) {
            unflushed += !screen.shown;
            farEnd.poll(m);
        };
    }
    // A loopback cable where the handheld was.
    void cableInstead(CableConfig c = {}) {
        cable = std::make_unique<Cable>(c);
        bindFarEnd(farEnd, *cable);
    }
    ~Rig() { EXPECT_EQ(unflushed, 0u) << "text not flushed before the program went on"; }

    // `portWanted`: as TPMIDI01_PORT would give it; `ownWindow`: as a double click would start it.
    int run(std::vector<std::string> args, const std::string& portWanted = "", bool ownWindow = false) {
        args.insert(args.begin(), "tpmidi01");
        return runProgram(link, console, args, portWanted, ownWindow);
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

// A fresh folder named in three scripts: every file test also tries a name beyond ASCII.
struct ScratchDir {
    const std::filesystem::path root = std::filesystem::temp_directory_path() /
        std::filesystem::u8path("tpmidi-\xD0\xB6\xD1\x83\xD0\xBA-b\xC3\xA4nk-\xE6\x9B\xB2-" + std::to_string(std::random_device()()));
    const std::string path = (std::filesystem::create_directory(root), root.u8string());
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::string name(const std::string& n) const { return path + "/" + n; }
    std::string file(const std::string& n, const Bytes& data) const {
        std::ofstream(std::filesystem::u8path(name(n)), std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return name(n);
    }
};

// Whether the error stream begins with the line given, or with its start and the system's reason:
// a line ending in ": " must be followed by some.
inline bool beginsWith(const std::string& err, const std::string& line) {
    return err.compare(0, line.size(), line) == 0 && (line.back() == '\n' || err.find('\n', line.size()) > line.size());
}

// What the error stream says as a receive into `file` starts, and at its end when the bank
// took the file's place.
inline std::string receivingInto(const std::string& file) {
    return "tpmidi01: receiving into " + file + ".part, which becomes " + file + " once the whole bank has arrived\n";
}
inline std::string saved(const std::string& file, std::size_t bytes) {
    return receivingInto(file) + "tpmidi01: " + std::to_string(bytes) + " bytes saved in " + file + "\n";
}

inline Bytes readAll(const std::string& name) {
    std::ifstream file(std::filesystem::u8path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The texts of tests/console.texts by name, their escapes undone: read once, and built in,
// so that no file need be found under Wine.
inline const std::map<std::string, std::string>& consoleTexts() {
    static const std::map<std::string, std::string> texts = [] {
        std::map<std::string, std::string> read;
        std::istringstream lines(
#include "console_texts.inc"
        );
        for (std::string line; std::getline(lines, line);) {
            const std::size_t equals = line.find(" = ");
            if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
            std::string& text = read[line.substr(0, equals)];
            for (std::size_t i = equals + 3; i < line.size(); ++i) {
                if (line[i] != '\\' || i + 1 == line.size()) {
                    text += line[i];
                    continue;
                }
                const char escaped = line[++i];
                text += escaped == 'n' ? '\n' : escaped == 'r' ? '\r' : escaped;
            }
        }
        return read;
    }();
    return texts;
}

// A console text of tests/console.texts, its {file}, {k} and {n} filled in.
inline std::string consoleText(const std::string& name, const std::string& file = "", std::uint32_t k = 0,
                               std::uint32_t n = 0) {
    const auto found = consoleTexts().find(name);
    if (found == consoleTexts().end()) {
        ADD_FAILURE() << "no console text " << name;
        return {};
    }
    std::string text = found->second;
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{file}", file}, {"{k}", std::to_string(k)},
                                      {"{n}", std::to_string(n)}}) {
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size())) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}

// The console text of a file of `size` bytes sent, after the ports' lines: a GBA ROM's
// multiboot (always the whole 256 KiB) as the console took the image or not.
inline std::string sentText(std::uint8_t first, const std::string& file, std::uint32_t size, bool accepted = true) {
    if (first == 0x2E) {
        std::string text = consoleText("multiboot.before", file);
        for (std::uint32_t k = 1; k <= 256; ++k) text += consoleText("multiboot.progress", "", k);
        return text + consoleText(accepted ? "multiboot.accepted" : "multiboot.rejected");
    }
    // The kinds by their first byte: a Game Boy ROM, a 2.5 bank, a 1.6 bank; any other file.
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", first);
    const std::string kind = first == 0xC9 || first == 0x24 || first == 0xAB ? std::string("send.") + hex : "send.other";
    std::string text = consoleText(kind + ".before", file);
    const std::uint32_t n = size / 1024;
    for (std::uint32_t done = 0; done < size; done += 1024) text += consoleText("send.progress", "", done / 1024, n);
    return text + consoleText("send.done", "", 0, n) + consoleText(kind + ".after");
}

// The console text of a receive of `count` bytes, after the ports' lines, as the whole bank
// was saved or not.
inline std::string receivedText(std::uint32_t count, bool whole = true) {
    std::string text = consoleText("receive.ready");
    for (std::uint32_t k = 1; k <= count / 1024; ++k) text += consoleText("receive.progress", "", k);
    return text + (whole ? consoleText("receive.done", "", count / 1024) : consoleText("receive.error"));
}

// Bytes with the given first byte, then a pattern that exercises bit 7.
inline Bytes pattern(std::size_t size, std::uint8_t first) {
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
    if (size > 0) data[0] = first;
    return data;
}
