// "-send": loading, kinds, console lines, pauses and the bytes that reach the handheld.
#include <gtest/gtest.h>

#include "files.h"
#include "transfer/upload.h"
#include "rig.h"

namespace {

const std::string kBeginUpload = "F0 7E 54 07 01 00 54 50 44 62 1A 00 F7";

// The progress lines of an upload of `length` bytes, each ended by a carriage return.
std::string progress(std::uint32_t length) {
    std::string text;
    for (std::uint32_t i = 0; i < length; i += 1024) {
        text += std::to_string(i / 1024) + "k of " + std::to_string(length / 1024) + "k sent\r";
    }
    return text;
}

std::string kb(std::uint32_t length) { return std::to_string(length / 1024); }

}  // namespace

TEST(SendFile, EachKindHasItsLinesAndUpload) {
    ScratchDir dir;
    struct Case {
        std::uint8_t first;
        std::string before;  // after the file name
        std::string after;   // after the progress lines
    };
    const std::uint32_t n = 1500;
    const std::string paced = kb(n) + "k of " + kb(n) + "k sent... done.";
    const Case cases[] = {
        {0xC9, "\n\nIn the trackpod boot screen,\npress SELECT + START or A or B,\nthen press enter here.\n",
         paced + "\n"},
        {0x24,
         "\n\nIn trackpod, select the bank to overwrite,\nmove the cursor to the very right and\n"
         "press A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n",
         "1k of 1k sent\ndone\n\n"},
        {0xAB, "\n\nIn trackpod, select the bank to overwrite,\npress A+B+DOWN,\nThen press enter here.\n",
         paced + "\nIn trackpod, press SELECT to save the received bank.\n\n"},
        {0x00, "\nPress enter to send.\n", paced + "\n"},
        {0x2F, "\nPress enter to send.\n", paced + "\n"},
    };
    const char* names[] = {"Game Boy ROM: ", "trackpod 2.5 bank: ", "trackpod 1.6 bank: ",
                           "file: ", "file: "};
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        const Bytes data = pattern(n, c.first);
        const std::string file = dir.file("in.bin", data);
        Rig rig;
        EXPECT_EQ(rig.run({"-send", file}), 0);
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "\nLoaded " + names[k] + file + c.before +
                                     progress(n) + c.after)
            << int(c.first);
        EXPECT_EQ(rig.handheld->uploaded(), data);
        EXPECT_EQ(rig.handheld->beginUploads(), 1u);
        EXPECT_EQ(rig.count("sleep 30"), c.first == 0x24 ? 0u : 12u);
    }
}

TEST(SendFile, AnnouncesTheUploadBetweenTwoPausesBeforeNamingTheFile) {
    ScratchDir dir;
    const std::string file = dir.file("bank.tp2", pattern(10, 0x24));
    Rig rig;
    std::vector<std::size_t> consoleAtPause;
    rig.st.sleepMs = [&](unsigned ms) {
        rig.events.push_back("sleep " + std::to_string(ms));
        consoleAtPause.push_back(rig.out.str().size());
    };
    rig.run({"-send", file});
    const std::vector<std::string> start(rig.events.begin() + 2, rig.events.begin() + 6);
    EXPECT_EQ(start, (std::vector<std::string>{"sleep 500", "send " + kBeginUpload, "sleep 500",
                                               "send F0 7E 00 07 02 01 01 00 24 00 F7"}));
    ASSERT_EQ(consoleAtPause.size(), 2u);
    EXPECT_EQ(consoleAtPause[1], std::string(kPortsOpened).size());
}

TEST(SendFile, SizesProgressAndPauses) {
    ScratchDir dir;
    for (std::uint32_t size : {0u, 1u, 1024u, 1025u, 262144u, 300000u}) {
        const Bytes data = pattern(size, 0x01);
        const std::string file = dir.file("f.bin", data);
        const std::uint32_t sent = std::min(size, kFileBufferSize);
        Rig rig;
        rig.run({"-send", file});
        EXPECT_EQ(rig.handheld->uploaded(), Bytes(data.begin(), data.begin() + sent)) << size;
        EXPECT_EQ(rig.count("sleep 30"), (sent + 127) / 128) << size;
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "\nLoaded file: " + file +
                                     "\nPress enter to send.\n" + progress(sent) + kb(sent) +
                                     "k of " + kb(sent) + "k sent... done.\n")
            << size;
    }
}

TEST(SendFile, Bank25ProgressExactly) {
    ScratchDir dir;
    for (std::uint32_t size : {1u, 1024u, 1025u, 262144u}) {
        const std::string file = dir.file("b.tp2", pattern(size, 0x24));
        Rig rig;
        rig.run({"-send", file});
        const std::string text = rig.out.str();
        const std::string tail = progress(size) + kb(size) + "k of " + kb(size) + "k sent\ndone\n\n";
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << size;
        EXPECT_EQ(rig.count("sleep 30"), 0u);
    }
}

TEST(SendFile, EmptyBank25StillAsksAndReports) {
    // An empty file is never a 2.5 bank, but the upload itself copes with length 0.
    Rig rig;
    rig.st.dataLength = 0;
    uploadBank25(rig.st);
    EXPECT_EQ(rig.out.str(),
              "In trackpod, select the bank to overwrite,\nmove the cursor to the very right and\n"
              "press A+B+DOWN so that a status bar appears on the bottom.\nThen press enter here.\n"
              "0k of 0k sent\ndone\n");
    EXPECT_TRUE(rig.sends().empty());
}

TEST(SendFile, UnreadableFilesSendNothing) {
    ScratchDir dir;
    const std::string missing = dir.name("missing.tp2");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-send"}, {"-send", missing}, {"-send", dir.path}, {"-send", ""}}) {
        Rig rig;
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "file not found\n\n");
        EXPECT_TRUE(rig.sends().empty());
        EXPECT_EQ(rig.st.dataLength, kFileBufferSize);
    }
}

TEST(SendFile, EnterWaitTakesOneCharacterOnly) {
    ScratchDir dir;
    const std::string file = dir.file("f.bin", pattern(4, 0x01));
    Rig rig({}, "xyz\nmore\n");
    rig.run({"-send", file});
    EXPECT_EQ(rig.handheld->uploaded().size(), 4u);
    std::string rest;
    std::getline(rig.in, rest);
    EXPECT_EQ(rest, "yz");

    // End of input ends the wait at once; the upload goes on.
    Rig closed({}, "");
    closed.run({"-send", file});
    EXPECT_EQ(closed.handheld->uploaded().size(), 4u);
}

TEST(SendFile, PortAnswerLineIsNotTakenForEnter) {
    // The line that chose a port is consumed whole, so the wait reads the next line.
    ScratchDir dir;
    const std::string file = dir.file("f.bin", pattern(4, 0x01));
    Rig rig({}, "1\nq\n");
    rig.inputPorts = {"A", "B"};
    rig.run({"-send", file});
    EXPECT_EQ(rig.in.get(), '\n');
}

TEST(SendFile, FaultyAnswersStillDeliverEveryByte) {
    ScratchDir dir;
    const Bytes data = pattern(3000, 0x24);
    const std::string file = dir.file("b.tp2", data);
    HandheldConfig config;
    config.faultEvery = 3;
    Rig rig(config);
    rig.run({"-send", file});
    EXPECT_EQ(rig.handheld->uploaded(), data);
    EXPECT_NE(rig.out.str().find("2k of 2k sent\ndone\n"), std::string::npos);
}
