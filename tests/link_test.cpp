// Data packets, byte for byte, against a peer whose answers the test writes.
#include <gtest/gtest.h>

#include "link/link.h"
#include "peer.h"
#include "rig.h"

TEST(DataPackets, NumbersRunOnAcrossEveryKindOfPacket) {
    // The bytes of each kind: WorkedExamples (wire_test.cpp).
    Scripted s({}, true);
    // Packet numbers run 1 to 127, then 0, across every kind of operation.
    for (int i = 1; i <= 129; ++i) {
        if (i % 3 == 0) exchangeWord(s.link, 1);
        if (i % 3 == 1) exchangeByte(s.link, 1);
        if (i % 3 == 2) sendBlock(s.link, 1, 2, 3, 4);
    }
    EXPECT_EQ(s.sent[126][5], 127);
    EXPECT_EQ(s.sent[127][5], 0);
    EXPECT_EQ(s.sent[128][5], 1);
}

TEST(DataPackets, OnlyALongEnoughAnswerWithTheNumberCounts) {
    // operation: b byte, w word, k block; polls: taken until the answer.
    struct Case { const char* name; char operation; std::deque<Bytes> answers; std::uint32_t result; unsigned polls; };
    const Case cases[] = {
        {"nine bytes with the right number do not answer a byte; ten do", 'b',
         {{0xF0, 0x7E, 0, 7, 2, 1, 1, 0x40, 0xF7}, {0xF0, 0x7E, 0, 7, 2, 1, 1, 0x40, 0x01, 0xF7}}, 0x81, 2},
        {"a stale answer, an empty poll, a channel message, then the answer (sub-ID, count unread)", 'b',
         {{0xF0, 0x7E, 0, 7, 2, 0x7F, 1, 0, 0x11, 0, 0xF7}, {}, {0x90, 0x3C, 0x40},
          {0xF0, 0x7D, 9, 9, 9, 1, 9, 0x00, 0x22, 0xF7}}, 0x22, 4},
        {"a word needs twelve bytes", 'w',
         {{0xF0, 0x7E, 0, 7, 2, 1, 4, 0x78, 1, 2, 3}, {0xF0, 0x7E, 0, 7, 2, 1, 4, 0x7F, 1, 2, 3, 4}}, 0x81828384u, 2},
        {"a block, six", 'k', {{0xF0, 0x7E, 0, 7, 1}, {0xF0, 0x7E, 0, 7, 3, 1}}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s(c.answers);
        std::uint32_t result = 0;
        if (c.operation == 'b') result = exchangeByte(s.link, 5);
        if (c.operation == 'w') result = exchangeWord(s.link, 0);
        if (c.operation == 'k') sendBlock(s.link, 0, 0, 0, 0);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(s.polls, c.polls);
        EXPECT_EQ(s.link.lastReplyNumber(), 1);
    }
}

TEST(DataPackets, MergedMessagesAreSplitInOrder) {
    // One message too short to answer and the answer; then two answers of the least length.
    const Bytes first = {0xF0, 0x7E, 0, 7, 2, 1, 0xF7, 0xF0, 0x7E, 0, 7, 2, 1, 1, 0, 0x10, 0xF7};
    const Bytes second = {0xF0, 0x7E, 0, 7, 2, 2, 1, 0, 0x20, 0xF7, 0xF0, 0x7E, 0, 7, 2, 3, 1, 0, 0x30, 0xF7};
    Scripted s({first, second});
    for (const std::uint8_t value : {0x10, 0x20, 0x30}) EXPECT_EQ(exchangeByte(s.link, 0), value);
    EXPECT_EQ(s.polls, 2u);
    // Each message taken once: a merge after a merge is split afresh.
    Scripted t({first, second});
    std::vector<Bytes> taken;
    for (int i = 0; i < 4; ++i) taken.push_back(pollMessage(t.link, false));
    EXPECT_EQ(taken, (std::vector<Bytes>{Bytes(first.begin(), first.begin() + 7), Bytes(first.begin() + 7, first.end()),
                                         Bytes(second.begin(), second.begin() + 10), Bytes(second.begin() + 10, second.end())}));
}

TEST(DataPackets, AWaitLooksAroundEvery65536EmptyPolls) {
    // Often enough to notice a port gone within milliseconds, rarely enough that reading the
    // clock costs an exchange nothing; a fresh link counts from its first poll. A poll that
    // waits for a message first stands for as many as its MIDI system says.
    struct Case { std::uint32_t pollsPerEmptyPoll; unsigned pollsPerLook; };
    for (const Case& c : {Case{1, 65536}, Case{40000, 2}, Case{65536, 1}, Case{100000, 1}}) {
        SCOPED_TRACE(c.pollsPerEmptyPoll);
        Scripted s;
        s.link.midi.pollsPerEmptyPoll = c.pollsPerEmptyPoll;
        unsigned looks = 0;
        s.link.hooks.now = [&looks] { return Clock::time_point(std::chrono::seconds(++looks)); };
        for (unsigned poll = 1; poll <= 2 * c.pollsPerLook; ++poll) {
            pollMessage(s.link, true);
            ASSERT_EQ(looks, poll / c.pollsPerLook) << poll;
        }
    }
}
