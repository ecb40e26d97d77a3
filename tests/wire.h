// Every kind of message on the wire, written out by hand as a protocol analyser shows it.
// The program's output and the simulated handheld's answers are both held against these,
// so that a number the two share cannot agree with itself: nothing here uses a name of
// the wire.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "link/seam.h"

inline const std::map<std::string, std::string>& wireExamples() {
    static const std::map<std::string, std::string> examples = {
        // The commands, "TPD" and a letter: a dump header (01) or request (03).
        {"BeginUpload", "F0 7E 54 07 01 00 54 50 44 62 1A 00 F7"},
        {"Sync", "F0 7E 54 07 01 00 54 50 44 73 1A 00 F7"},
        {"SyncPermanent", "F0 7E 54 07 01 00 54 50 44 53 1A 00 F7"},
        {"Midi 26", "F0 7E 54 07 01 00 54 50 44 6D 1A 00 F7"},
        {"MidiPermanent 26", "F0 7E 54 07 01 00 54 50 44 4D 1A 00 F7"},
        {"Midi 30", "F0 7E 54 07 01 00 54 50 44 6D 1E 00 F7"},
        {"MidiPermanent 16", "F0 7E 54 07 01 00 54 50 44 4D 10 00 F7"},
        {"MidiReceive", "F0 7E 54 07 03 00 54 50 44 6D 00 00 F7"},
        {"MidiReceivePermanent", "F0 7E 54 07 03 00 54 50 44 4D 00 00 F7"},
        {"BeginReceive", "F0 7E 54 07 03 00 54 50 44 62 00 00 F7"},
        // The handheld's answers to them: its status in byte 7.
        {"sync mode on", "F0 7E 54 07 7F 00 00 04 00 F7"},
        {"MIDI mode on", "F0 7E 54 07 7F 00 00 00 00 F7"},
        {"ready", "F0 7E 54 07 7F 00 00 06 00 F7"},
        // Data packets, numbered, their bytes in 7-bit groups behind a flag byte; a byte
        // answered by its echo, a block by an acknowledgement of its number.
        {"byte AB, packet 1", "F0 7E 00 07 02 01 01 40 2B 00 F7"},
        {"byte 80, packet 127", "F0 7E 00 07 02 7F 01 40 00 00 F7"},
        {"byte 7F, packet 0", "F0 7E 00 07 02 00 01 00 7F 00 F7"},
        {"byte 01, packet 1", "F0 7E 00 07 02 01 01 00 01 00 F7"},
        {"word 6202, packet 2", "F0 7E 00 07 02 02 04 00 00 00 62 02 00 F7"},
        {"word 80FF0102, packet 3", "F0 7E 00 07 02 03 04 60 00 7F 01 02 00 F7"},
        {"block 01234567 89ABCDEF FEDCBA98 76543210, packet 4",
         "F0 7E 00 07 02 04 12 07 01 23 45 67 09 2B 4D 7C 6F 7E 5C 3A 18 76 54 00 32 10 00 F7"},
        {"word answer 72026202, packet 2", "F0 7E 00 07 02 02 04 00 72 02 62 02 00 F7"},
        {"block acknowledged, packet 4", "F0 7E 00 07 03 04 F7"},
        // A bank as the handheld streams it, one byte a message, numbered from 0.
        {"bank byte 24, number 0", "F0 7E 00 07 02 00 01 00 24 00 F7"},
        {"bank byte FF, number 1", "F0 7E 00 07 02 01 01 40 7F 00 F7"},
        // A multiboot's first encrypted block: a zero body from client byte 0, packet 106.
        {"first encrypted block", "F0 7E 00 07 02 6A 12 0A 35 5C 02 0B 55 24 60 0E 7E 7C 60 11 6F 03 0E 40 2A 72 00 F7"},
        // The interface check's stream: another maker's ID (7D) in a one-byte packet's
        // shape, its value index * 37 + index / 128.
        {"stream message 0", "F0 7D 00 07 02 00 01 00 00 00 F7"},
        {"stream message 4", "F0 7D 00 07 02 04 01 40 14 00 F7"},
        {"stream message 128", "F0 7D 00 07 02 00 01 40 01 00 F7"},
    };
    return examples;
}

inline std::string wireExample(const std::string& name) {
    const auto found = wireExamples().find(name);
    if (found == wireExamples().end()) {
        ADD_FAILURE() << "no worked example " << name;
        return {};
    }
    return found->second;
}

inline Bytes bytesOfHex(const std::string& text) {
    std::istringstream hex(text);
    Bytes bytes;
    for (unsigned byte = 0; hex >> std::hex >> byte;) bytes.push_back(static_cast<std::uint8_t>(byte));
    return bytes;
}

inline Bytes wireBytes(const std::string& name) { return bytesOfHex(wireExample(name)); }

// A multiboot from a 4-byte image (2E 00 00 EA) to a console that answers at the first try,
// with client byte 0 and 0xA7 for the length: each word sent, what the console answers,
// how many times, in order, up to the first encrypted block.
struct MultibootStep { const char* what; std::uint32_t sent, answer; unsigned times; };
inline const MultibootStep kMultibootHandshake[] = {
    {"is a console there?", 0x6202, 0x72026202, 1},
    {"once more", 0x6202, 0x72026202, 1},
    {"the header follows", 0x6102, 0x72026102, 1},
    {"halfword 0", 0x002E, 0x72020000, 1},
    {"halfword 1", 0xEA00, 0x72020000, 1},
    {"halfwords 2 to 95", 0x0000, 0x72020000, 94},
    {"the header's end", 0x6200, 0x72026200, 1},
    {"waiting again", 0x6202, 0x72026202, 1},
    {"the client byte", 0x63D1, 0x730063D1, 2},
    {"the handshake, 0x6400 + 0 + 0x0F", 0x640F, 0x7300640F, 1},
    {"the length, (0x40000 - 400) / 4", 0xFF9C, 0x73A7FF9C, 1},
};
