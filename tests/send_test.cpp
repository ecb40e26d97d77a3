// "-send": loading, kinds, console lines, pauses and the bytes that reach the handheld.
#include <gtest/gtest.h>

#include "rig.h"

// The progress lines of an upload of `length` bytes, then its last line.
static std::string progress(std::uint32_t length, const char* end) {
    std::string text;
    const std::string total = std::to_string(length / 1024) + "k";
    for (std::uint32_t i = 0; i < length; i += 1024) text += std::to_string(i / 1024) + "k of " + total + " sent\r";
    return text + total + " of " + total + end;
}

TEST(SendFile, EachKindHasItsLinesAndUpload) {
    ScratchDir dir;
    const char* paced = " sent... done.";
    const std::string bank16 = "In trackpod, select the bank to overwrite,\n";
    // loaded: after "Loaded "; before: the lines before the progress lines; end: after the last progress line's count;
    // after: the lines after it.
    struct Kind { std::uint8_t first; const char* loaded; std::string before; const char* end; const char* after; };
    const Kind kinds[] = {
        {0xC9, "Game Boy ROM: ", "\n\nIn the trackpod boot screen,\npress SELECT + START or A or B,\nthen press enter here.\n",
         paced, "\n"},
        {0x24, "trackpod 2.5 bank: ", "\n\n" + bank16 + "move the cursor to the very right and\n"
         "press A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n", " sent\ndone\n", "\n"},
        {0xAB, "trackpod 1.6 bank: ", "\n\n" + bank16 + "press A+B+DOWN,\nThen press enter here.\n", paced,
         "\nIn trackpod, press SELECT to save the received bank.\n\n"},
        {0x00, "file: ", "\nPress enter to send.\n", paced, "\n"},
        {0x2F, "file: ", "\nPress enter to send.\n", paced, "\n"},
    };
    for (const std::uint32_t size : {1u, 1024u, 1025u, 3000u, 262144u, 300000u}) {
        for (const Kind& k : kinds) {
            SCOPED_TRACE("first byte " + std::to_string(k.first) + ", " + std::to_string(size) + " bytes");
            const Bytes data = pattern(size, k.first);
            const std::string file = dir.file("in.bin", data);
            const std::uint32_t sent = std::min(size, 262144u);  // the most that is sent
            Rig rig;
            EXPECT_EQ(rig.run({"-send", file}), 0);
            EXPECT_EQ(rig.screen.text, kPortsOpened + "\nLoaded " + k.loaded + file + k.before + progress(sent, k.end) +
                                           k.after);
            EXPECT_EQ(rig.handheld->uploaded(), Bytes(data.begin(), data.begin() + sent));
            // The upload is announced between two pauses, before the first byte.
            EXPECT_EQ(std::vector<std::string>(rig.events.begin() + 2, rig.events.begin() + 5),
                      (std::vector<std::string>{"sleep 500", "send F0 7E 54 07 01 00 54 50 44 62 1A 00 F7", "sleep 500"}));
            EXPECT_EQ(rig.handheld->beginUploads(), 1u);
            EXPECT_EQ(rig.count("sleep 30"), k.first == 0x24 ? 0u : (sent + 127) / 128);
        }
    }
}

TEST(SendFile, EmptyOrUnreadableFiles) {
    ScratchDir dir;
    Rig empty;
    empty.run({"-send", dir.file("empty.bin", {})});
    EXPECT_EQ(empty.screen.text, kPortsOpened + "\nLoaded file: " + dir.name("empty.bin") +
                                   "\nPress enter to send.\n0k of 0k sent... done.\n");
    // The system's reason on the error stream.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-send"}, "tpmidi01: -send needs the name of the file to send\n"},
        {{"-send", ""}, "tpmidi01: -send needs the name of the file to send\n"},
        {{"-send", dir.name("missing")}, "tpmidi01: cannot read " + dir.name("missing") + ": "},
        {{"-send", dir.path}, "tpmidi01: cannot read " + dir.path + ": "}};
    for (const auto& [args, reason] : cases) {
        SCOPED_TRACE(args.back());
        Rig rig;
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + "file not found\n\n");
        EXPECT_TRUE(beginsWith(rig.err.str(), reason)) << rig.err.str();
        EXPECT_TRUE(rig.sends().empty());
    }
}

TEST(SendFile, AJobOfOverHalfAMinuteSaysHowLongItTakes) {
    // At the cable's pace: 22 bytes of 320 us for each byte sent, 30 ms before every 128th of
    // a paced upload; a multiboot's 16372 blocks of 28 + 7 bytes and its 109 words of 14 + 14.
    struct Case { const char* name; std::uint8_t first; std::uint32_t size; std::string said; };
    const auto line = [](const char* bytes, const char* minutes) {
        return std::string("tpmidi01: ") + bytes + " bytes: about " + minutes + " min at the MIDI cable's pace\n";
    };
    const Case cases[] = {
        {"a 256 KiB Game Boy ROM: 1907 s", 0xC9, 262144, line("262144", "32")},
        {"a 32 KiB 2.5 bank: 231 s", 0x24, 32768, line("32768", "4")},
        {"a GBA ROM, always 256 KiB: 184 s", 0x2E, 1000, line("262144", "3")},
        {"an 8 KiB 1.6 bank: 59.6 s", 0xAB, 8192, line("8192", "1")},
        {"4300 bytes of a 2.5 bank: 30.3 s", 0x24, 4300, line("4300", "1")},
        {"a 4 KiB 2.5 bank: 28.8 s", 0x24, 4096, ""},
        {"a 4 KiB file, paced: 29.8 s", 0x41, 4096, ""},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        Rig rig;
        rig.run({"-send", dir.file("in.bin", pattern(c.size, c.first))});
        EXPECT_EQ(rig.err.str(), c.said) << c.name;
    }
}
