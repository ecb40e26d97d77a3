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

TEST(ReceiveFile, WhatCountsAsTheAnswerAndAsAByte) {
    // The command's answer status, a message already waiting, messages among the bank's,
    // and empty polls after the answer; then the console and the file.
    ScratchDir dir;
    using Strays = std::vector<std::pair<std::size_t, Bytes>>;
    const Bytes none;
    const std::tuple<std::optional<int>, Bytes, Strays, unsigned, std::string, Bytes> cases[] = {
        // An unrelated nine-byte SysEx message counts; a channel message and eight bytes do not.
        {std::nullopt, none, {{1, {0xF0, 0x7D, 1, 2, 3, 4, 5, 0x40, 0x05}}, {1, {0x90, 0x3C, 0x40}},
                   {1, {0xF0, 0x7E, 0, 7, 2, 0, 0x40, 0xF7}}}, 0, kReady, {1, 0x85, 2}},
        {2, none, {}, 0, "\nerror\n", {1, 2}},
        // Too short to hold a status; the real answer then counts as a byte (0).
        {6, {0x90, 0x3C, 0x40}, {}, 0, "\nerror\n", {0, 1, 2}},
        // A message already waiting is taken as the answer.
        {4, {0xF0, 0x7E, 0, 7, 3, 0, 0, 6, 0, 0xF7}, {}, 0, kReady, {0x00, 1, 2}},
        // The first byte is waited for without limit: three idle limits' worth of silence.
        {std::nullopt, none, {}, 30000, kReady, {1, 2}},
    };
    for (const auto& [status, waiting, strays, silence, text, bytes] : cases) {
        HandheldConfig config;
        config.bank = {1, 2};
        config.bankStrays = strays;
        config.commandStatus = status;
        Rig rig(config);
        if (!waiting.empty()) rig.handheld->queue(waiting);
        unsigned polls = 0;
        auto poll = rig.st.midi.poll;
        rig.st.midi.poll = [&, silence = silence](Bytes& m) { return ++polls > 1 && polls <= 1 + silence ? m.clear() : poll(m); };
        rig.run({"-receive", dir.name("x.tp2")});
        EXPECT_EQ(rig.console.text, kPortsOpened + text + "0k saved... done.\n\n") << bytes.size();
        EXPECT_EQ(readAll(dir.name("x.tp2")), bytes) << bytes.size();
    }
}

TEST(ReceiveFile, NoFileToWriteIsNeverASuccess) {
    ScratchDir dir;
    const std::string askName = "Please enter a file name.\nIt is recommended to use suffixes '.tp1' and '.tp2' "
                                "for trackpod 1.6 and trackpod 2.5 files.\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-receive"}, askName}, {{"-receive", ""}, askName}, {{"-receive", dir.name("no/such/dir")}, askName},
        {{"-receive", dir.path}, askName},
        // A full disk: what arrives cannot be saved.
        {{"-receive", "/dev/full"}, kReady + "\nerror\n\n"}};
    for (const auto& [args, text] : cases) {
        if (args.size() > 1 && args[1] == "/dev/full" && !std::filesystem::exists(args[1])) continue;
        HandheldConfig config;
        config.bank = pattern(100, 1);
        Rig rig(config);
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.console.text, kPortsOpened + text);
        EXPECT_EQ(rig.sends().size(), text == askName ? 0u : 1u);
    }
}
