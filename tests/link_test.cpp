// Data packets and command messages, byte for byte, against scripted answers.
#include <gtest/gtest.h>

#include <deque>

#include "link/commands.h"
#include "link/link.h"
#include "rig.h"

namespace {

// A peer whose answers the test writes: every send is recorded, every poll takes the
// next scripted message, and `answer` builds a reply to the packet just sent.
struct Scripted {
    ProgramState st;
    std::vector<Bytes> sent;
    std::deque<Bytes> queued;
    std::function<void(const Bytes&)> answer;
    unsigned polls = 0;

    Scripted() {
        st.midi.send = [this](const Bytes& m) {
            sent.push_back(m);
            if (answer) answer(m);
        };
        st.midi.poll = [this](Bytes& m) {
            ++polls;
            m.clear();
            if (queued.empty()) return;
            m = queued.front();
            queued.pop_front();
        };
    }
    void echo() {
        answer = [this](const Bytes& m) { queued.push_back(m); };
    }
};

Bytes bytes(std::initializer_list<int> values) {
    Bytes m;
    for (int v : values) m.push_back(static_cast<std::uint8_t>(v));
    return m;
}

}  // namespace

TEST(DataPackets, WorkedExamples) {
    Scripted s;
    s.echo();
    EXPECT_EQ(exchangeByte(s.st, 0xAB), 0xAB);
    EXPECT_EQ(hexLine(s.sent[0]), "F0 7E 00 07 02 01 01 40 2B 00 F7");

    EXPECT_EQ(exchangeWord(s.st, 0x6202), 0x6202u);
    EXPECT_EQ(hexLine(s.sent[1]), "F0 7E 00 07 02 02 04 00 00 00 62 02 00 F7");

    Scripted t;
    t.echo();
    exchangeByte(t.st, 0);
    EXPECT_EQ(exchangeWord(t.st, 0x80FF0102), 0x80FF0102u);
    EXPECT_EQ(hexLine(t.sent[1]), "F0 7E 00 07 02 02 04 60 00 7F 01 02 00 F7");

    sendBlock(t.st, 0x01234567, 0x89ABCDEF, 0xFEDCBA98, 0x76543210);
    EXPECT_EQ(hexLine(t.sent[2]),
              "F0 7E 00 07 02 03 12 07 01 23 45 67 09 2B 4D 7C 6F 7E 5C 3A 18 76 54 00 32 10 00 F7");
    EXPECT_TRUE(t.st.outMessage.empty());
}

TEST(DataPackets, HighAndLowBitOfAByte) {
    Scripted s;
    s.echo();
    exchangeByte(s.st, 0x80);
    exchangeByte(s.st, 0x7F);
    EXPECT_EQ(s.sent[0][7], 0x40);
    EXPECT_EQ(s.sent[0][8], 0x00);
    EXPECT_EQ(s.sent[1][7], 0x00);
    EXPECT_EQ(s.sent[1][8], 0x7F);
}

TEST(DataPackets, NumbersWrapAfter127AcrossOperations) {
    Scripted s;
    s.echo();
    for (int i = 1; i <= 129; ++i) {
        if (i % 3 == 0) {
            exchangeWord(s.st, 1);
        } else if (i % 3 == 1) {
            exchangeByte(s.st, 1);
        } else {
            sendBlock(s.st, 1, 2, 3, 4);
        }
    }
    EXPECT_EQ(s.sent[0][5], 1);
    EXPECT_EQ(s.sent[126][5], 127);
    EXPECT_EQ(s.sent[127][5], 0);
    EXPECT_EQ(s.sent[128][5], 1);
}

TEST(DataPackets, AnswerMustBeLongEnoughAndCarryTheNumber) {
    // Byte: a 9-byte message with the right number does not count, a 10-byte one does.
    Scripted s;
    s.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 2, 1, 1, 0x40, 0xF7}));
    s.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 2, 1, 1, 0x40, 0x01, 0xF7}));
    EXPECT_EQ(exchangeByte(s.st, 5), 0x81);
    EXPECT_EQ(s.polls, 2u);

    // Word: 11 bytes do not count, 12 do.
    Scripted w;
    w.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 2, 1, 4, 0x78, 1, 2, 3, 0xF7}));
    w.queued.back().pop_back();
    w.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 2, 1, 4, 0x78, 1, 2, 3, 4}));
    EXPECT_EQ(exchangeWord(w.st, 0), 0x81828384u);
    EXPECT_EQ(w.polls, 2u);

    // Block: six bytes acknowledge it; five do not.
    Scripted b;
    b.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 1}));
    b.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 3, 1}));
    sendBlock(b.st, 0, 0, 0, 0);
    EXPECT_EQ(b.polls, 2u);
}

TEST(DataPackets, StaleAnswersAndOtherNumbersAreDropped) {
    Scripted s;
    // Left over from an earlier exchange, an empty poll, a channel message, then
    // the answer, whose sub-ID and count are not looked at.
    s.queued.push_back(bytes({0xF0, 0x7E, 0, 7, 2, 0x7F, 1, 0, 0x11, 0, 0xF7}));
    s.queued.push_back({});
    s.queued.push_back(bytes({0x90, 0x3C, 0x40}));
    s.queued.push_back(bytes({0xF0, 0x7D, 9, 9, 9, 1, 9, 0x00, 0x22, 0xF7}));
    EXPECT_EQ(exchangeByte(s.st, 0), 0x22);
    EXPECT_EQ(s.polls, 4u);
    EXPECT_EQ(s.st.lastReplyNumber, 1);
}

TEST(DataPackets, MergedMessagesAreSplitInOrder) {
    Scripted s;
    Bytes merged = bytes({0xF0, 0x7E, 0, 7, 2, 1, 1, 0, 0x10, 0, 0xF7});
    const Bytes second = bytes({0xF0, 0x7E, 0, 7, 2, 2, 1, 0, 0x20, 0, 0xF7});
    merged.insert(merged.end(), second.begin(), second.end());
    s.queued.push_back(merged);
    EXPECT_EQ(exchangeByte(s.st, 0), 0x10);
    EXPECT_EQ(exchangeByte(s.st, 0), 0x20);
    EXPECT_EQ(s.polls, 1u);
}

TEST(Commands, BytesOnTheWire) {
    Scripted s;
    sendCommand(s.st, Command::Sync);
    sendCommand(s.st, Command::MidiReceive);
    sendCommand(s.st, Command::Midi, 30);
    sendCommand(s.st, Command::BeginUpload);
    sendCommand(s.st, Command::BeginReceive);
    sendCommand(s.st, Command::SyncPermanent);
    sendCommand(s.st, Command::MidiPermanent, 16);
    sendCommand(s.st, Command::MidiReceivePermanent);
    EXPECT_EQ(hexLine(s.sent[0]), "F0 7E 54 07 01 00 54 50 44 73 1A 00 F7");
    EXPECT_EQ(hexLine(s.sent[1]), "F0 7E 54 07 03 00 54 50 44 6D 00 00 F7");
    EXPECT_EQ(hexLine(s.sent[2]), "F0 7E 54 07 01 00 54 50 44 6D 1E 00 F7");
    EXPECT_EQ(hexLine(s.sent[3]), "F0 7E 54 07 01 00 54 50 44 62 1A 00 F7");
    EXPECT_EQ(hexLine(s.sent[4]), "F0 7E 54 07 03 00 54 50 44 62 00 00 F7");
    EXPECT_EQ(hexLine(s.sent[5]), "F0 7E 54 07 01 00 54 50 44 53 1A 00 F7");
    EXPECT_EQ(hexLine(s.sent[6]), "F0 7E 54 07 01 00 54 50 44 4D 10 00 F7");
    EXPECT_EQ(hexLine(s.sent[7]), "F0 7E 54 07 03 00 54 50 44 4D 00 00 F7");
    EXPECT_EQ(s.st.packetNumber, 0);
    EXPECT_TRUE(s.st.outMessage.empty());
}

TEST(Commands, StatusNeedsEightBytes) {
    EXPECT_EQ(answerStatus(bytes({0x90, 0x3C, 0x40})), -1);
    EXPECT_EQ(answerStatus(bytes({0xF0, 1, 2, 3, 4, 5, 6})), -1);
    EXPECT_EQ(answerStatus(bytes({0xF0, 1, 2, 3, 4, 5, 6, 4})), 4);
}
