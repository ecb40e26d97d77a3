// GBA multiboot: the pure steps against known values, and whole uploads checked by
// the simulated console, which decrypts the body and verifies the checksum itself.
#include <gtest/gtest.h>

#include "files.h"
#include "rig.h"
#include "transfer/multiboot.h"

namespace {

const std::string kWord6202 = " 04 00 00 00 62 02 00 F7";

std::string expectedConsole(const std::string& file, bool accepted = true) {
    std::string text = std::string(kPortsOpened) + "\nLoaded GBA ROM: " + file + "\n\n" +
                       "Start GBA and press START + SELECT, so that the Nintendo logo disappears.\n\n\r"
                       "Connection OK, logo should re-appear now.\n\n\r"
                       "Sending ROM (press ctrl-c to cancel):\n\n\r";
    for (int k = 1; k <= 256; ++k) text += "\r" + std::to_string(k) + "k of 256k sent";
    if (!accepted) return text + "\nerror\n\n";
    return text +
           "\nTransfer complete.\n\n\rThe trackpod logo should appear now.\n\n\r"
           "Keep B pressed and press START + SELECT to install the update.\n"
           "After a successful update, trackpod will re-start.\n\n\n";
}

struct Counts {
    std::size_t words = 0, blocks = 0, waits = 0, ends = 0;
};

Counts countPackets(const Rig& rig) {
    Counts c;
    for (const std::string& s : rig.sends()) {
        const std::size_t bytes = (s.size() + 1) / 3;
        c.words += bytes == 14;
        c.blocks += bytes == 28;
        c.waits += bytes == 14 && s.compare(17, std::string::npos, kWord6202) == 0;
        c.ends += bytes == 14 && s.compare(17, std::string::npos, " 04 00 00 00 00 65 00 F7") == 0;
    }
    return c;
}

Bytes padded(Bytes data) {
    data.resize(kFileBufferSize, 0);
    return data;
}

}  // namespace

TEST(MultibootSteps, KnownValues) {
    EXPECT_EQ(multibootCrcStep(0xC387, 0x00000000), 0xAEA0u);
    EXPECT_EQ(multibootCrcStep(0xC387, 0xFFFFFFFF), 0xC1AEu);

    EXPECT_EQ(multibootSeed(0x00), 0xFFFF00D1u);
    EXPECT_EQ(multibootHandshake(0x00), 0x0Fu);
    const std::uint32_t seed = advanceMultibootSeed(multibootSeed(0x00));
    EXPECT_EQ(seed, 0x8B83D2E4u);
    EXPECT_EQ(encryptMultibootWord(0, seed, 0xC0), 0x355C028Bu);

    EXPECT_EQ(multibootSeed(0x5A), 0xFFFF5AD1u);
    EXPECT_EQ(multibootHandshake(0x5A), 0x69u);
    EXPECT_EQ(0x6400 + multibootHandshake(0xF5), 0x6404u);
    EXPECT_EQ(0x6400 + multibootHandshake(0xF0), 0x64FFu);
}

TEST(MultibootUpload, ConsoleAcceptsTheImage) {
    ScratchDir dir;
    for (std::size_t size : {std::size_t(1), std::size_t(192), std::size_t(5000), std::size_t(kFileBufferSize)}) {
        const Bytes data = pattern(size, 0x2E);
        const std::string file = dir.file("game.gba", data);
        HandheldConfig config;
        config.gba.lengthByte = 0xA7;
        Rig rig(config);
        EXPECT_EQ(rig.run({"-send", file}), 0);
        const GbaModel& gba = rig.handheld->gba();
        EXPECT_TRUE(gba.accepted()) << size << ": " << gba.verdict();
        EXPECT_EQ(gba.image(), padded(data)) << size;
        EXPECT_EQ(rig.out.str(), expectedConsole(file)) << size;

        const Counts c = countPackets(rig);
        EXPECT_EQ(c.blocks, 16372u);
        EXPECT_EQ(c.words, 2u + 1 + 96 + 4 + 1 + 1 + 1 + 3);
        EXPECT_EQ(rig.count("sleep 63"), 1u);
        EXPECT_EQ(rig.st.dataLength, kFileBufferSize);
    }
}

TEST(MultibootUpload, WaitsForTheConsole) {
    ScratchDir dir;
    const std::string file = dir.file("game.gba", pattern(300, 0x2E));
    HandheldConfig config;
    config.gba.waitTries = 3;
    Rig rig(config);
    rig.run({"-send", file});
    EXPECT_TRUE(rig.handheld->gba().accepted()) << rig.handheld->gba().verdict();
    EXPECT_EQ(rig.count("sleep 63"), 3u);
    EXPECT_EQ(countPackets(rig).waits, 4u + 1);  // 4 to connect, 1 more in the handshake
    // Each pause comes right before a try.
    std::size_t pausesBeforeTries = 0;
    for (std::size_t i = 0; i + 1 < rig.events.size(); ++i) {
        pausesBeforeTries += rig.events[i] == "sleep 63" &&
                             rig.events[i + 1].compare(22, std::string::npos, kWord6202) == 0;
    }
    EXPECT_EQ(pausesBeforeTries, 3u);
}

TEST(MultibootUpload, EveryClientByte) {
    ScratchDir dir;
    const Bytes data = pattern(2000, 0x2E);
    const std::string file = dir.file("game.gba", data);
    std::vector<int> clientBytes = {0x00, 0x5A, 0xF0};
    for (int cc = 0xF1; cc <= 0xFF; ++cc) clientBytes.push_back(cc);
    for (int cc : clientBytes) {
        HandheldConfig config;
        config.gba.clientByte = static_cast<std::uint8_t>(cc);
        config.gba.lengthByte = 0xFF;
        Rig rig(config);
        rig.run({"-send", file});
        EXPECT_TRUE(rig.handheld->gba().accepted()) << cc << ": " << rig.handheld->gba().verdict();
        EXPECT_EQ(rig.handheld->gba().image(), padded(data)) << cc;
    }
}

TEST(MultibootUpload, EndHandshake) {
    ScratchDir dir;
    const std::string file = dir.file("game.gba", pattern(64, 0x2E));
    for (int tries : {1, 7, 1025, -1}) {
        HandheldConfig config;
        config.gba.endTries = tries;
        Rig rig(config);
        rig.run({"-send", file});
        const Counts c = countPackets(rig);
        EXPECT_EQ(c.ends, tries < 0 ? 1025u : static_cast<std::size_t>(tries));
        const GbaModel& gba = rig.handheld->gba();
        EXPECT_TRUE(gba.finished());
        EXPECT_TRUE(gba.checksumMatched()) << gba.verdict();
        // 0x66, the checksum and 0 follow in every case.
        const std::vector<std::string> sends = rig.sends();
        EXPECT_EQ(sends[sends.size() - 3].substr(17), " 04 00 00 00 00 66 00 F7");
        EXPECT_EQ(sends.back().substr(17), " 04 00 00 00 00 00 00 F7");
        EXPECT_EQ(rig.out.str(), expectedConsole(file, tries >= 0)) << tries;
    }
}

TEST(MultibootUpload, FaultyLinkStillDeliversTheImage) {
    ScratchDir dir;
    const Bytes data = pattern(4096, 0x2E);
    const std::string file = dir.file("game.gba", data);
    HandheldConfig config;
    config.faultEvery = 5;
    config.gba.clientByte = 0x33;
    Rig rig(config);
    rig.run({"-send", file});
    EXPECT_TRUE(rig.handheld->gba().accepted()) << rig.handheld->gba().verdict();
    EXPECT_EQ(rig.handheld->gba().image(), padded(data));
}
