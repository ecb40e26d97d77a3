// GBA multiboot: the pure steps, and whole uploads checked by the simulated console.
#include <gtest/gtest.h>

#include "rig.h"
#include "transfer/multiboot.h"

TEST(MultibootSteps, KnownValues) {
    EXPECT_EQ(multibootCrcStep(0xC387, 0x00000000), 0xAEA0u);
    EXPECT_EQ(multibootCrcStep(0xC387, 0xFFFFFFFF), 0xC1AEu);
    EXPECT_EQ(multibootSeed(0x00), 0xFFFF00D1u);
    EXPECT_EQ(multibootSeed(0x5A), 0xFFFF5AD1u);
    const std::uint32_t seed = advanceMultibootSeed(multibootSeed(0x00));
    EXPECT_EQ(seed, 0x8B83D2E4u);
    EXPECT_EQ(encryptMultibootWord(0, seed, 0xC0), 0x355C028Bu);
    const std::pair<std::uint8_t, std::uint32_t> handshakes[] = {{0x00, 0x0F}, {0x5A, 0x69}, {0xF5, 0x04}, {0xF0, 0xFF}};
    for (const auto& [client, handshake] : handshakes) EXPECT_EQ(multibootHandshake(client), handshake);
    // At 320 us a byte: 109 words of 14 bytes, each answered by as many, and 16372 blocks
    // of 28 bytes, each answered by 7.
    EXPECT_EQ(multibootTime(), std::chrono::milliseconds(184343));
}

TEST(MultibootUpload, ConsoleAcceptsTheImage) {
    ScratchDir dir;
    // waits: tries before the console answers; ends: before it confirms the end (-1: never); client: its client
    // byte; faults: every so many answers faulty (0: none).
    struct Case { std::size_t size; unsigned waits; int ends; std::uint8_t client; unsigned faults; };
    const Case cases[] = {
        {1, 1, 1, 0x00, 0}, {192, 3, 7, 0xF1, 0}, {5000, 1, 1025, 0xFF, 0}, {262144, 1, -1, 0x5A, 0},
        {2000, 1, 1, 0xF0, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, " + std::to_string(c.waits) + " waits, " +
                     std::to_string(c.ends) + " ends, client " + std::to_string(c.client));
        const Bytes data = pattern(c.size, 0x2E);
        const std::string file = dir.file("game.gba", data);
        HandheldConfig config;
        config.gba.lengthByte = 0xA7;
        config.gba.waitTries = c.waits;
        config.gba.endTries = c.ends;
        config.gba.clientByte = c.client;
        config.faultEvery = c.faults;
        Rig rig(config);
        EXPECT_EQ(rig.run({"-send", file}), 0);
        // The console model checks the order of every step, the image and its checksum.
        const GbaModel& gba = rig.handheld->gba();
        EXPECT_TRUE(gba.finished() && gba.checksumMatched() && gba.problems().empty()) << gba.verdict();
        Bytes padded = data;
        padded.resize(262144, 0);  // the console always takes 256 KiB
        EXPECT_EQ(gba.image(), padded);
        EXPECT_EQ(rig.screen.text, kPortsOpened + sentText(0x2E, file, c.size, c.ends >= 0));
        // What the console saw: one more 0x6202 after its first answer, every block, and the
        // end asked for until it confirms it, 1025 times at most.
        EXPECT_EQ(gba.waitExchanges(), c.waits + 1);
        EXPECT_EQ(gba.blocksReceived(), 16372u);
        EXPECT_EQ(gba.endExchanges(), c.ends < 0 ? 1025u : static_cast<unsigned>(c.ends));
        // The words up to the body are the worked examples' (wire_test.cpp); after it the
        // end asked for until the console confirms it, the checksum's command, and 0 last.
        const auto sends = rig.sends();
        const std::pair<const char*, long> words[] = {
            {"04 00 00 00 00 65 00 F7", c.ends < 0 ? 1025 : c.ends}, {"04 00 00 00 00 66 00 F7", 1}};
        for (const auto& [word, count] : words) {
            EXPECT_EQ(std::count_if(sends.begin(), sends.end(), [w = word](const std::string& m) { return m.substr(18) == w; }),
                      count) << word;
        }
        EXPECT_EQ(sends.back().substr(18), "04 00 00 00 00 00 00 F7");
        // Each pause comes right before a try.
        EXPECT_EQ(rig.count("sleep 63"), c.waits);
        for (std::size_t i = 0; i + 1 < rig.events.size(); ++i) {
            EXPECT_TRUE(rig.events[i] != "sleep 63" || rig.events[i + 1].substr(26, 14) == "00 00 00 62 02");
        }
    }
}
