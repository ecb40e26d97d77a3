// "-receive": the request, the decoding, progress, and what reaches the file.
#include <gtest/gtest.h>

#include "files.h"
#include "rig.h"

namespace {

const std::string kReady = "Ready to receive data.\n\n";

Rig receiving(const Bytes& bank, HandheldConfig config = {}) {
    config.bank = bank;
    Rig rig(config);
    rig.st.receiveIdlePolls = 10000;
    return rig;
}

}  // namespace

TEST(ReceiveFile, SavesEveryByteWithProgress) {
    ScratchDir dir;
    const std::pair<std::uint32_t, std::string> cases[] = {
        {500, "0k saved... done.\n"},
        {1024, "1k saved \r1k saved... done.\n"},
        {2048, "1k saved \r2k saved \r2k saved... done.\n"},
        {2500, "1k saved \r2k saved \r2k saved... done.\n"},
    };
    for (const auto& [size, tail] : cases) {
        const Bytes bank = pattern(size, 0x24);
        HandheldConfig config;
        config.bank = bank;
        Rig rig(config);
        if (size != 500) rig.st.receiveIdlePolls = 10000;  // one case with the real limit
        const std::string file = dir.name("bank.tp2");
        EXPECT_EQ(rig.run({"-receive", file}), 0);
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + kReady + tail + "\n") << size;
        EXPECT_EQ(readAll(file), bank) << size;
        EXPECT_EQ(rig.sends(), std::vector<std::string>{"F0 7E 54 07 03 00 54 50 44 62 00 00 F7"});
        EXPECT_EQ(rig.count("sleep 500"), 1u);
    }
}

TEST(ReceiveFile, DecodesBytesSevenAndEight) {
    ScratchDir dir;
    HandheldConfig config;
    config.bankStrays = {
        {0, {0xF0, 0x7E, 0, 7, 2, 0, 1, 0x40, 0x7F, 0, 0xF7}},
        {0, {0xF0, 0x7E, 0, 7, 2, 0, 1, 0x00, 0x01, 0, 0xF7}},
        {0, {0xF0, 0x7E, 0, 7, 2, 0, 1, 0x7F, 0x00, 0, 0xF7}},
        // An unrelated System Exclusive message of nine bytes or more counts as a byte.
        {1, {0xF0, 0x7D, 1, 2, 3, 4, 5, 0x40, 0x05, 0xF7}},
        // Too short to carry a byte: dropped, not counted.
        {1, {0x90, 0x3C, 0x40}},
        {1, {0xF0, 0x7E, 0, 7, 2, 0, 0x40, 0xF7}},
    };
    Rig rig = receiving({0xAA, 0xBB}, config);
    const std::string file = dir.name("bank.tp1");
    rig.run({"-receive", file});
    EXPECT_EQ(readAll(file), (Bytes{0xFF, 0x01, 0x80, 0xAA, 0x85, 0xBB}));
}

TEST(ReceiveFile, AnswerOtherThanReadyIsReportedAndTheReceiveGoesOn) {
    ScratchDir dir;
    HandheldConfig config;
    config.commandStatus = 2;
    Rig rig = receiving({1, 2, 3}, config);
    const std::string file = dir.name("x.tp2");
    rig.run({"-receive", file});
    EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "\nerror\n0k saved... done.\n\n");
    EXPECT_EQ(readAll(file), (Bytes{1, 2, 3}));

    // Too short to hold a status: also "error".
    HandheldConfig shortAnswer;
    shortAnswer.strayBeforeAnswer = {{0x90, 0x3C, 0x40}};
    Rig other = receiving({7}, shortAnswer);
    other.run({"-receive", file});
    EXPECT_EQ(other.out.str(), std::string(kPortsOpened) + "\nerror\n0k saved... done.\n\n");
    // The real answer came after the stray and counts as a data byte: 6 has no bit 6.
    EXPECT_EQ(readAll(file), (Bytes{0x00, 7}));
}

TEST(ReceiveFile, MessageAlreadyWaitingIsTakenAsTheAnswer) {
    ScratchDir dir;
    Rig rig = receiving({9, 8});
    rig.handheld->queue({0xF0, 0x7E, 0, 7, 3, 0, 0, 6, 0, 0xF7});
    const std::string file = dir.name("x.tp2");
    rig.run({"-receive", file});
    EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + kReady + "0k saved... done.\n\n");
    EXPECT_EQ(readAll(file), (Bytes{0x00, 9, 8}));
}

TEST(ReceiveFile, NoUsableFileNameSendsNothing) {
    ScratchDir dir;
    const std::string hint =
        "Please enter a file name.\nIt is recommended to use suffixes '.tp1' and '.tp2' for "
        "trackpod 1.6 and trackpod 2.5 files.\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-receive"}, {"-receive", ""}, {"-receive", dir.name("no/such/dir")},
          {"-receive", dir.path}}) {
        Rig rig = receiving({1});
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + hint);
        EXPECT_TRUE(rig.sends().empty());
    }
}

TEST(ReceiveFile, FailedWriteIsAnErrorNotSuccess) {
    Rig rig = receiving(pattern(100, 1));
    rig.run({"-receive", "/dev/full"});
    EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + kReady + "\nerror\n\n");
}

TEST(ReceiveFile, BytesReachTheFileAsTheyArrive) {
    // Each byte is in the file before the next message is taken: nothing is held back
    // in a buffer that an interrupted process would lose.
    ScratchDir dir;
    const std::string file = dir.name("live.tp2");
    Rig rig = receiving(pattern(300, 1));
    std::vector<std::size_t> sizes;
    auto poll = rig.st.midi.poll;
    rig.st.midi.poll = [&](Bytes& m) {
        sizes.push_back(readAll(file).size());
        poll(m);
    };
    rig.run({"-receive", file});
    ASSERT_GT(sizes.size(), 300u);
    EXPECT_EQ(sizes[1 + 150], 150u);  // the answer, then 150 bytes written
}
