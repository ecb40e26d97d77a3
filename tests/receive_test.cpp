// "-receive": the request, the decoding, progress, and what reaches the file.
#include <gtest/gtest.h>

#include "rig.h"

static const std::string kReady = "Ready to receive data.\n\n";

TEST(ReceiveFile, SavesEveryByteWithProgress) {
    ScratchDir dir;
    const std::pair<std::uint32_t, std::string> cases[] = {
        {500, "0k saved... done.\n"},
        {1024, "1k saved \r1k saved... done.\n"},
        {2500, "1k saved \r2k saved \r2k saved... done.\n"},
    };
    for (const auto& [size, tail] : cases) {
        HandheldConfig config;
        config.bank = pattern(size, 0x24);
        Rig rig(config);
        if (size == 500) rig.st.receiveIdlePolls = kReceiveIdlePolls;  // one case with the real limit
        const std::string file = dir.name("bank.tp2");
        EXPECT_EQ(rig.run({"-receive", file}), 0);
        EXPECT_EQ(rig.console.text, kPortsOpened + kReady + tail + "\n") << size;
        EXPECT_EQ(readAll(file), config.bank) << size;
        // A bank the user can open afterwards (the tests may run as root, who could anyway).
        const auto rw = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
        EXPECT_EQ(std::filesystem::status(std::filesystem::u8path(file)).permissions() & rw, rw);
        EXPECT_EQ(rig.events, (std::vector<std::string>{"open in 0", "open out 0", "sleep 500",
                                                        "send F0 7E 54 07 03 00 54 50 44 62 00 00 F7", "destroy"}));
    }
}

TEST(ReceiveFile, MessagesOfNineBytesOrMoreCarryAByte) {
    // An unrelated nine-byte SysEx message counts; a channel message and eight bytes do not.
    ScratchDir dir;
    HandheldConfig config;
    config.bank = {0xAA, 0xBB};
    config.bankStrays = {{1, {0xF0, 0x7D, 1, 2, 3, 4, 5, 0x40, 0x05}}, {1, {0x90, 0x3C, 0x40}},
                         {1, {0xF0, 0x7E, 0, 7, 2, 0, 0x40, 0xF7}}};
    Rig rig(config);
    rig.run({"-receive", dir.name("bank.tp1")});
    EXPECT_EQ(readAll(dir.name("bank.tp1")), (Bytes{0xAA, 0x85, 0xBB}));
}

TEST(ReceiveFile, TheFirstMessageIsTheAnswerAndTheReceiveGoesOn) {
    ScratchDir dir;
    const std::tuple<int, Bytes, std::string, Bytes> cases[] = {
        {2, {}, "\nerror\n", {1, 2}},
        // Too short to hold a status; the real answer then counts as a byte (0).
        {6, {0x90, 0x3C, 0x40}, "\nerror\n", {0, 1, 2}},
        // A message already waiting is taken as the answer.
        {4, {0xF0, 0x7E, 0, 7, 3, 0, 0, 6, 0, 0xF7}, kReady, {0x00, 1, 2}},
    };
    for (const auto& [status, waiting, text, bytes] : cases) {
        HandheldConfig config;
        config.bank = {1, 2};
        config.commandStatus = status;
        Rig rig(config);
        if (!waiting.empty()) rig.handheld->queue(waiting);
        rig.run({"-receive", dir.name("x.tp2")});
        EXPECT_EQ(rig.console.text, kPortsOpened + text + "0k saved... done.\n\n") << status;
        EXPECT_EQ(readAll(dir.name("x.tp2")), bytes) << status;
    }
}

TEST(ReceiveFile, WaitsForTheFirstByteWithoutLimit) {
    ScratchDir dir;
    HandheldConfig config;
    config.bank = {7, 8};
    Rig rig(config);
    // After the answer, three idle limits' worth of empty polls, then the bank.
    unsigned polls = 0;
    auto poll = rig.st.midi.poll;
    rig.st.midi.poll = [&](Bytes& m) { return ++polls > 1 && polls < 30000 ? m.clear() : poll(m); };
    rig.run({"-receive", dir.name("x.tp2")});
    EXPECT_EQ(readAll(dir.name("x.tp2")), (Bytes{7, 8}));
}

TEST(ReceiveFile, NoUsableFileNameSendsNothing) {
    ScratchDir dir;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-receive"}, {"-receive", ""},
                                                 {"-receive", dir.name("no/such/dir")}, {"-receive", dir.path}}) {
        Rig rig;
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.console.text, kPortsOpened + "Please enter a file name.\nIt is recommended to use suffixes "
                                                "'.tp1' and '.tp2' for trackpod 1.6 and trackpod 2.5 files.\n");
        EXPECT_TRUE(rig.sends().empty());
    }
}

TEST(ReceiveFile, FailedWriteIsAnErrorNotSuccess) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    HandheldConfig config;
    config.bank = pattern(100, 1);
    Rig rig(config);
    rig.run({"-receive", "/dev/full"});
    EXPECT_EQ(rig.console.text, kPortsOpened + kReady + "\nerror\n\n");
}
