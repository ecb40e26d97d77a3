// The worked examples of the wire: what the program sends, and what the simulated handheld
// answers, each held against the bytes written out by hand in wire.h.
#include <gtest/gtest.h>

#include "peer.h"
#include "rig.h"
#include "transfer/loopback.h"
#include "wire.h"

namespace {

// The word a word packet carries, read here rather than by either side's own unpacking.
std::uint32_t wordIn(const Bytes& packet) {
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        const bool high = (packet[7] & (0x40 >> i)) != 0;
        word = (word << 8) | (packet[8 + static_cast<std::size_t>(i)] | (high ? 0x80u : 0u));
    }
    return word;
}

std::vector<std::string> answersTo(Handheld& handheld, const Bytes& message) {
    handheld.receive(message);
    std::vector<std::string> answers;
    for (Bytes m; handheld.take(m);) answers.push_back(hexLine(m));
    return answers;
}

}  // namespace

TEST(WorkedExamples, TheProgramSendsThem) {
    // The transfers' commands, and the delay of the MIDI mode's.
    ScratchDir dir;
    const std::pair<std::vector<std::string>, const char*> runs[] = {
        {{"-send", dir.file("bank.tp2", {0x24})}, "BeginUpload"}, {{"-receive", dir.name("r.tp2")}, "BeginReceive"},
        {{"-midi", "30"}, "Midi 30"}, {{"-MIDI", "16"}, "MidiPermanent 16"}};
    HandheldConfig bank;
    bank.bank = {0x24};
    for (const auto& [args, command] : runs) {
        Rig rig(bank);
        rig.run(args);
        ASSERT_FALSE(rig.sends().empty()) << command;
        EXPECT_EQ(rig.sends()[0], wireExample(command));
    }
    // Data packets, and their numbers across the wrap; the answers decoded.
    Scripted s({}, true);
    EXPECT_EQ(exchangeByte(s.link, 0xAB), 0xAB);
    exchangeWord(s.link, 0x6202);
    EXPECT_EQ(exchangeWord(s.link, 0x80FF0102), 0x80FF0102u);
    sendBlock(s.link, 0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210);
    Scripted wrap({}, true, Link(kReceiveIdlePolls, 126));
    for (const std::uint8_t value : {0x80, 0x7F, 0x01}) EXPECT_EQ(exchangeByte(wrap.link, value), value);
    const std::vector<Bytes> sent = {s.sent[0], s.sent[1], s.sent[2], s.sent[3], wrap.sent[0], wrap.sent[1], wrap.sent[2]};
    const char* names[] = {"byte AB, packet 1",   "word 6202, packet 2", "word 80FF0102, packet 3",
                           "block 01234567 89ABCDEF FEDCBA98 76543210, packet 4",
                           "byte 80, packet 127", "byte 7F, packet 0",   "byte 01, packet 1"};
    for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(hexLine(sent[i]), wireExample(names[i]));
    Scripted answered({wireBytes("word answer 72026202, packet 2")}, false, Link(kReceiveIdlePolls, 1));
    EXPECT_EQ(exchangeWord(answered.link, 0x6202), 0x72026202u);
    // The interface check's stream, a value of 128 and more among them.
    for (const std::uint32_t index : {0u, 4u, 128u}) {
        EXPECT_EQ(hexLine(streamMessage(index)), wireExample("stream message " + std::to_string(index)));
    }
}

TEST(WorkedExamples, TheProgramBootsAConsoleWordByWord) {
    ScratchDir dir;
    HandheldConfig config;
    config.gba.lengthByte = 0xA7;
    Rig rig(config);
    rig.run({"-send", dir.file("tiny.gba", {0x2E, 0x00, 0x00, 0xEA})});
    std::vector<std::uint32_t> expected, words;
    for (const MultibootStep& step : kMultibootHandshake) expected.insert(expected.end(), step.times, step.sent);
    const std::vector<std::string> sends = rig.sends();
    ASSERT_GT(sends.size(), expected.size() + 1);
    EXPECT_EQ(sends[0], wireExample("BeginUpload"));
    std::size_t at = 1;
    for (; at < sends.size() && sends[at].size() == 14 * 3 - 1; ++at) {
        words.push_back(wordIn(bytesOfHex(sends[at])));
    }
    EXPECT_EQ(words, expected);
    EXPECT_EQ(sends[at], wireExample("first encrypted block"));
}

TEST(WorkedExamples, TheSimulatedHandheldAnswersThem) {
    struct Case { const char* sent; std::vector<const char*> answers; };
    const Case cases[] = {
        {"Sync", {"sync mode on"}},
        {"SyncPermanent", {"sync mode on"}},
        {"Midi 26", {"MIDI mode on"}},
        {"MidiPermanent 16", {"MIDI mode on"}},
        {"MidiReceive", {"ready"}},
        {"MidiReceivePermanent", {"ready"}},
        {"BeginUpload", {}},
        {"BeginReceive", {"ready", "bank byte 24, number 0", "bank byte FF, number 1"}},
        {"byte AB, packet 1", {"byte AB, packet 1"}},
        {"word 6202, packet 2", {"word answer 72026202, packet 2"}},
        {"block 01234567 89ABCDEF FEDCBA98 76543210, packet 4", {"block acknowledged, packet 4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        HandheldConfig config;
        config.bank = {0x24, 0xFF};
        Handheld handheld(config);
        std::vector<std::string> expected;
        for (const char* answer : c.answers) expected.push_back(wireExample(answer));
        EXPECT_EQ(answersTo(handheld, wireBytes(c.sent)), expected);
    }
    // The console's side of the multiboot's start.
    GbaConfig console;
    console.lengthByte = 0xA7;
    GbaModel gba(console);
    for (const MultibootStep& step : kMultibootHandshake) {
        for (unsigned i = 0; i < step.times; ++i) EXPECT_EQ(gba.exchange(step.sent), step.answer) << step.what;
    }
    EXPECT_TRUE(gba.problems().empty()) << gba.verdict();
}
