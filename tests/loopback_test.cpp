// The loopback check: what it sends, how it tells copies from what was sent, and what it
// says of a loopback cable, intact or spoiled, of a handheld, and of nothing at all.
#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <map>
#include <set>

#include "app/loopback.h"
#include "link/commands.h"
#include "peer.h"
#include "rig.h"

namespace {

const Bytes kA = {0xF0, 0x7D, 0x00, 0x07, 0x02, 0x01, 0x01, 0x40, 0x2B, 0x00, 0xF7};
const Bytes kB = {0xF0, 0x7D, 0x00, 0x07, 0x02, 0x02, 0x01, 0x00, 0x11, 0x00, 0xF7};
const Bytes kC = {0xF0, 0x7D, 0x00, 0x07, 0x02, 0x03, 0x01, 0x40, 0x7F, 0x00, 0xF7};

Bytes changed(Bytes m, std::size_t at, std::uint8_t to) { return m[at] = to, m; }

CableConfig spoiled(void (*spoil)(CableConfig&)) {
    CableConfig c;
    spoil(c);
    return c;
}

// Intact, changed, missing, out of order, extra.
using Counts = std::array<std::uint32_t, 5>;

}  // namespace

TEST(LoopbackTally, CountsEachCopyAndNamesTheFirstFault) {
    // Sent A, B, C; what came back, in order (after the given-up ones, if `lostFirst`); then
    // every message still awaited is given up.
    struct Case {
        const char* name;
        std::vector<Bytes> back;
        Counts counts;
        std::optional<LoopFault> first;
        std::size_t firstSent;  // the message the first fault befell, or the count sent before an extra
        bool lostFirst = false;
    };
    const Bytes otherMaker = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    const Case cases[] = {
        {"every copy intact", {kA, kB, kC}, {3, 0, 0, 0, 0}, std::nullopt, 0},
        {"a byte changed", {kA, changed(kB, 8, 0x12), kC}, {2, 1, 0, 0, 0}, LoopFault::Changed, 1},
        {"a copy cut short", {kA, Bytes(kB.begin(), kB.begin() + 7), kC}, {2, 1, 0, 0, 0}, LoopFault::Changed, 1},
        {"its start lost", {Bytes(kA.begin() + 2, kA.end()), kB, kC}, {2, 1, 0, 0, 0}, LoopFault::Changed, 0},
        // Taken for the message it is like from its end, or from its start, not the one awaited first.
        {"the last one's start lost, ahead of the one before", {kA, Bytes(kC.begin() + 2, kC.end()), kB},
         {2, 1, 0, 0, 0}, LoopFault::Changed, 2},
        {"the last one cut short, ahead of the one before", {kA, Bytes(kC.begin(), kC.begin() + 8), kB},
         {2, 1, 0, 0, 0}, LoopFault::Changed, 2},
        {"one lost", {kA, kC}, {2, 0, 1, 0, 0}, LoopFault::Missing, 1},
        {"nothing came back", {}, {0, 0, 3, 0, 0}, LoopFault::Missing, 0},
        {"one after a later one", {kA, kC, kB}, {2, 0, 0, 1, 0}, LoopFault::OutOfOrder, 1},
        {"a copy twice", {kA, kA, kB, kC}, {3, 0, 0, 0, 1}, LoopFault::Extra, 3},
        {"a channel message never sent", {{0x90, 0x3C, 0x40}, kA, kB, kC}, {3, 0, 0, 0, 1}, LoopFault::Extra, 3},
        {"a changed copy is taken for the message it is most like", {kA, changed(kC, 8, 0x7E)}, {1, 1, 1, 0, 0},
         LoopFault::Missing, 1},
        {"another maker's message, then the copy it was taken for", {otherMaker, kA, kB, kC}, {3, 0, 0, 0, 1},
         LoopFault::Extra, 3},
        {"Active Sensing and clocks are no fault, inside a message too",
         {{0xFE}, kA, {0xF8}, [] { Bytes m = kB; m.insert(m.begin() + 4, 0xFE); return m; }(), kC}, {3, 0, 0, 0, 0},
         std::nullopt, 0},
        {"the universal ID in a copy once copies came", {kA, changed(kB, 1, 0x7E), kC}, {2, 1, 0, 0, 0},
         LoopFault::Changed, 1},
        {"copies after their messages were given up: late, not lost", {kA, kB, kC}, {3, 0, 0, 0, 0}, std::nullopt, 0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tally tally;
        for (const Bytes& m : {kA, kB, kC}) noteSent(tally, Round::Stream, m);
        if (c.lostFirst) {
            for (std::size_t i = 0; i < 3; ++i) giveUp(tally, i);
        }
        for (const Bytes& m : c.back) noteReceived(tally, Round::Stream, m);
        for (std::size_t i = 0; i < 3; ++i) giveUp(tally, i);
        const RoundCounts r = countRound(tally, Round::Stream);
        EXPECT_EQ(r.sent, 3u);
        EXPECT_EQ((Counts{r.intact, r.changed, r.missing, r.outOfOrder, r.extra}), c.counts);
        const FaultEvent* first = firstFault(tally);
        ASSERT_EQ(first != nullptr, c.first.has_value());
        if (first) {
            EXPECT_EQ(first->kind, *c.first);
            EXPECT_EQ(first->sent, c.firstSent);
        }
        EXPECT_FALSE(tally.handheldAnswered);
    }
}

TEST(LoopbackTally, TheFirstDifference) {
    struct Case { const char* name; Bytes received; std::size_t at; std::optional<std::uint8_t> sent, came; };
    const Case cases[] = {
        {"a byte changed", changed(kA, 8, 0x2A), 8, 0x2B, 0x2A},
        {"cut short", Bytes(kA.begin(), kA.begin() + 9), 9, 0x00, std::nullopt},
        {"longer", [] { Bytes m = kA; m.push_back(0x01); return m; }(), 11, std::nullopt, 0x01},
    };
    for (const Case& c : cases) {
        const Difference d = firstDifference(kA, c.received);
        EXPECT_EQ(d.at, c.at) << c.name;
        EXPECT_EQ(d.sent, c.sent) << c.name;
        EXPECT_EQ(d.received, c.came) << c.name;
    }
}

TEST(LoopbackProbes, HaveTheProgramsShapesAndNoHandheldActsOnThem) {
    // The program's own senders, against an echo: their lengths are the probes'.
    Scripted peer({}, true);
    exchangeByte(peer.link, 0x80);
    exchangeWord(peer.link, 0x6202);
    sendBlock(peer.link, 1, 2, 3, 4);
    sendCommand(peer.link, Command::Sync);
    const std::vector<ProbeShape>& shapes = probeShapes();
    for (std::size_t i = 0; i < peer.sent.size(); ++i) EXPECT_EQ(shapes.at(i).length, peer.sent[i].size()) << shapes[i].name;
    // Every probe: the non-commercial ID, 7-bit bytes inside, and every value in every place
    // after the header, the numbers across their wrap among them.
    Handheld handheld;
    std::map<std::pair<std::size_t, std::size_t>, std::set<std::uint8_t>> values;  // (shape, position)
    for (std::uint32_t i = 0; i < kStopAndWaitExchanges + kStreamMessages; ++i) {
        const bool stream = i >= kStopAndWaitExchanges;
        const std::uint32_t index = stream ? i - kStopAndWaitExchanges : i;
        const Bytes m = stream ? streamMessage(index) : stopAndWaitMessage(index);
        ASSERT_EQ(m.size(), shapeOf(stream ? Round::Stream : Round::StopAndWait, index).length);
        ASSERT_EQ(m[1], 0x7D);
        ASSERT_TRUE(m.front() == 0xF0 && m.back() == 0xF7);
        for (std::size_t at = 1; at + 1 < m.size(); ++at) ASSERT_LT(m[at], 0x80) << i;
        if (stream) {
            EXPECT_EQ(m[5], index % 128);
        }
        for (std::size_t at = 5; !stream && at + 1 < m.size(); ++at) values[{index % shapes.size(), at}].insert(m[at]);
        handheld.receive(m);
    }
    for (const auto& [place, seen] : values) EXPECT_EQ(seen.size(), 128u) << place.first << ", byte " << place.second;
    EXPECT_EQ(handheld.commands(), 0u);
    EXPECT_EQ(handheld.dataPackets(), 0u);
    Bytes answer;
    EXPECT_FALSE(handheld.take(answer));
}

namespace {

const std::string kAsked = consoleText("loopback.asked"), kNothing = consoleText("loopback.nothing") + "\n",
                  kPasses = consoleText("loopback.passes") + "\n";

// The progress lines of a whole round: "stop and wait: 64 of 1024", "stream: 256 of 4096 sent".
std::string progressLines(const char* round, std::uint32_t every, std::uint32_t total, const char* sent = "") {
    std::string text;
    for (std::uint32_t n = every; n <= total; n += every) {
        text += std::string(round) + ": " + std::to_string(n) + " of " + std::to_string(total) + sent + "\r";
    }
    return text;
}

// A run of the check on a clock that moves 20 us at each reading.
struct CheckRun : Rig {
    Clock::time_point clock{};
    // What the cable gave back, and when each copy leaves it.
    std::deque<std::pair<Clock::time_point, Bytes>> held;
    Clock::time_point free{};
    // For a twist of a run: messages sent, a stop of the machine yet to be noticed, and
    // until when the cable holds what it carries.
    std::size_t sent = 0;
    Clock::duration frozen{};
    Clock::time_point heldUntil{};
    CheckRun() {
        link.hooks.now = [this] { return clock += std::chrono::microseconds(20); };
        link.hooks.sleepMs = [this](unsigned ms) { clock += std::chrono::milliseconds(ms); };
    }
    // The cable's pace kept on the test's clock: a copy leaves its hold after the one before it.
    void keepPace() {
        farEnd.poll = [this](Bytes& m) {
            m.clear();
            for (Outgoing next; cable->take(next);) held.emplace_back(free = std::max(free, clock) + next.hold, next.bytes);
            if (held.empty() || held.front().first > clock) return;
            m.swap(held.front().second);
            held.pop_front();
        };
    }
};

}  // namespace

TEST(LoopbackCheck, AnIntactCablePasses) {
    for (const char* option : {"--loopback", "--check"}) {
        CheckRun rig;
        rig.cableInstead();
        EXPECT_EQ(rig.run({option}), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + kAsked + progressLines("stop and wait", 64, 1024) +
                                       "stop and wait: 1024 of 1024 intact, round trip 0.0 ms (median), 0.0 ms (worst)\n" +
                                       progressLines("stream", 256, 4096, " sent") +
                                       "stream: 4096 of 4096 intact, 3125 bytes/s (the cable carries 3125)\n" + kPasses +
                                       "\n");
        EXPECT_EQ(rig.err.str(), "");
    }
}

TEST(LoopbackCheck, WhatTheComputerDoesIsNoFaultOfTheCable) {
    // An intact cable each time; what the MIDI system or the machine did meanwhile.
    struct Case { const char* name; void (*twist)(CheckRun&); int status; std::string said; };
    const Case cases[] = {
        // As JACK on a busy machine joins ports just opened at a later cycle.
        {"nothing carried for the first 0.3 s", [](CheckRun& rig) {
             rig.farEnd.send = [&rig, send = rig.farEnd.send](const Bytes& m) {
                 if (rig.clock >= Clock::time_point(std::chrono::milliseconds(300))) send(m);
             };
         }, 0, kPasses},
        // Longer than a copy is waited for; the copy comes once the machine runs again.
        {"the machine frozen 0.6 s while message 21's copy was awaited", [](CheckRun& rig) {
             rig.link.hooks.longestHoldUp = [&rig] { return std::exchange(rig.frozen, {}); };
             rig.farEnd.send = [&rig, send = rig.farEnd.send](const Bytes& m) { ++rig.sent, send(m); };
             rig.farEnd.poll = [&rig, poll = rig.farEnd.poll, polls = 0](Bytes& m) mutable {
                 if (rig.sent != 21 || polls++ != 0) return poll(m);
                 rig.clock += std::chrono::milliseconds(600);
                 rig.frozen = std::chrono::milliseconds(600);
                 m.clear();
             };
         }, 0, "stop and wait: 1024 of 1024 intact"},
        // Later than a copy is waited for: the next message went meanwhile.
        {"message 21's copy 0.4 s late", [](CheckRun& rig) {
             rig.farEnd.send = [&rig, send = rig.farEnd.send](const Bytes& m) {
                 if (++rig.sent == 21) rig.heldUntil = rig.clock + std::chrono::milliseconds(400);
                 send(m);
             };
             rig.farEnd.poll = [&rig, poll = rig.farEnd.poll](Bytes& m) { rig.clock < rig.heldUntil ? m.clear() : poll(m); };
         }, 0, "stop and wait: 1024 of 1024 intact, round trip 0.0 ms (median), 150."},
        // What it said before the check is not the check's.
        {"the MIDI system's word that it dropped messages", [](CheckRun& rig) {
             rig.link.midi.dropped = [asked = 0]() mutable { return ++asked > 1; };
         }, 1, "The check cannot tell: the MIDI system dropped messages that came back, as it does when the computer "
               "is busy or asleep. Run it again.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckRun rig;
        rig.cableInstead();
        c.twist(rig);
        EXPECT_EQ(rig.run({"--loopback"}), c.status);
        EXPECT_NE(rig.screen.text.find(c.said), std::string::npos) << rig.screen.text;
    }
}

TEST(LoopbackCheck, ACopyIsWaitedForTenRoundTripsWithinAQuarterSecondAndASecond) {
    // Every copy held `every` on the test's clock, message 21's `late`: within the wait it
    // counts among the round trips, a moment past it it comes in the next one's wait.
    using us = std::chrono::microseconds;
    struct Case { const char* name; us every, late; std::string said; };
    const Case cases[] = {
        {"round trips of nothing: a quarter second", us(0), us(250020), "0.0 ms (median), 250.0 ms (worst)"},
        {"a moment past it", us(0), us(250040), "0.0 ms (median), 0.0 ms (worst)"},
        {"round trips of 40 ms: ten of them", us(40000), us(400020), "40.0 ms (median), 400.0 ms (worst)"},
        {"a moment past them", us(40000), us(400040), "40.0 ms (median), 40.0 ms (worst)"},
        {"round trips of 150 ms: a second", us(150000), us(1000020), "150.0 ms (median), 1000.0 ms (worst)"},
        {"a moment past it", us(150000), us(1000040), "150.0 ms (median), 150.0 ms (worst)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckRun rig;
        rig.cableInstead();
        rig.farEnd.send = [&rig, &c, send = rig.farEnd.send](const Bytes& m) {
            if (++rig.sent <= kStopAndWaitExchanges) rig.heldUntil = rig.clock + (rig.sent == 21 ? c.late : c.every);
            send(m);
        };
        rig.farEnd.poll = [&rig, poll = rig.farEnd.poll](Bytes& m) { rig.clock < rig.heldUntil ? m.clear() : poll(m); };
        EXPECT_EQ(rig.run({"--loopback"}), 0);
        EXPECT_NE(rig.screen.text.find("1024 of 1024 intact, round trip " + c.said), std::string::npos) << rig.screen.text;
    }
}

TEST(LoopbackCheck, EachFaultOfACableFailsIt) {
    struct Case { const char* name; CableConfig cable; std::vector<std::string> said; int status; bool paced = false; };
    const Case cases[] = {
        {"a byte changed in every 500th message", spoiled([](CableConfig& c) { c.changeEvery = 500; }),
         {"stop and wait: 1022 of 1024 intact, 2 changed, round trip",
          "  first change: message 500 of the stop-and-wait round (a block packet of 28 bytes), byte 7: sent 3E, "
          "received 3F\n",
          "stream: 4088 of 4096 intact, 8 changed,",
          "The interface fails: it changed message 500 of the stop-and-wait round (a block packet of 28 bytes) at "
          "byte 7: sent 3E, received 3F. A bank"},
         1},
        {"every 300th message lost", spoiled([](CableConfig& c) { c.loseEvery = 300; }),
         {"stop and wait: 1021 of 1024 intact, 3 missing, round trip", "stream: 4082 of 4096 intact, 14 missing,",
          "The interface fails: it lost message 300 of the stop-and-wait round (a byte answer of 9 bytes), and 17 in "
          "all."},
         1},
        {"messages longer than 13 bytes cut", spoiled([](CableConfig& c) { c.cutAt = 13; }),
         {"stop and wait: 731 of 1024 intact, 293 changed,", "stream: 4096 of 4096 intact,",
          "(a word packet of 14 bytes), byte 12: sent 4C, received F7\n"},
         1},
        {"the 255th byte lost, and every 256th after it", spoiled([](CableConfig& c) { c.dropByte = 255; }),
         {"  first change: message 19 of the stop-and-wait round (a status answer of 10 bytes), byte 4: sent 01,",
          "The interface fails: it changed message 19 "},
         1},
        {"two bytes of every six lost", spoiled([](CableConfig& c) { c.loseTwoOfSix = true; }),
         {"stop and wait: 0 of 226 intact, 194 changed, 32 missing, 32 extra (the round stopped there), round trip",
          "The interface fails: "}, 1},
        {"Active Sensing added", spoiled([](CableConfig& c) { c.sensingEvery = 10; }),
         {"the interface added 512 Active Sensing messages of its own: no fault\n",
          kPasses},
         0},
        {"slower than the cable", spoiled([](CableConfig& c) { c.byteTimeUs = 480; }),
         {"stop and wait: 1024 of 1024 intact, round trip ", "stream: 4096 of 4096 intact, 2083 bytes/s",
          "The interface fails: the stream came back at 2083 bytes/s, slower than the 3125 it left at."},
         1, true},
        {"every message lost: an open loop", spoiled([](CableConfig& c) { c.loseEvery = 1; }),
         {kAsked + kNothing + "\n"}, 1},
        {"an open loop, the interface sensing", spoiled([](CableConfig& c) { c.loseEvery = c.sensingEvery = 1; }),
         {kAsked + "the interface added 2 Active Sensing messages of its own: no fault\n" + kNothing + "\n"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckRun rig;
        rig.cableInstead(c.cable);
        if (c.paced) rig.keepPace();
        EXPECT_EQ(rig.run({"--loopback"}), c.status);
        for (const std::string& line : c.said) EXPECT_NE(rig.screen.text.find(line), std::string::npos) << line << "\n" << rig.screen.text;
        // An open loop is told within 5 s, the pause before the first message included.
        if (c.said[0].find(kNothing) != std::string::npos) {
            EXPECT_LT(rig.clock.time_since_epoch(), std::chrono::seconds(5));
        }
    }
}

TEST(LoopbackCheck, TwoCopiesOfTheStreamFarApartCameBackSlow) {
    // Of the stream only its first and last messages came back: 11 bytes in 14 s, a pace
    // that rounds to 1 byte/s, and slow still.
    struct Quiet : LoopbackProgress {
        void reached(Round, std::uint32_t, std::uint32_t) override {}
        void roundOver(Round, const LoopbackResult&) override {}
    } quiet;
    CheckRun rig;
    rig.cableInstead();
    rig.farEnd.send = [&rig, send = rig.farEnd.send](const Bytes& m) {
        const std::size_t n = ++rig.sent;
        if (n <= kStopAndWaitExchanges + 1 || n == kStopAndWaitExchanges + kStreamMessages) send(m);
    };
    const LoopbackResult result = checkLoopback(rig.link, quiet);
    EXPECT_GT(result.copyRate, 0);
    EXPECT_LT(result.copyRate, 1);
    EXPECT_TRUE(std::any_of(result.tally.faults.begin(), result.tally.faults.end(),
                            [](const FaultEvent& f) { return f.kind == LoopFault::Slow; }));
}

TEST(LoopbackCheck, AHandheldTakesNothingAndIsNamed) {
    // The simulated handheld: it acts on none of the check's messages.
    CheckRun handheld;
    EXPECT_EQ(handheld.run({"--loopback"}), 1);
    EXPECT_EQ(handheld.screen.text,
              kPortsOpened + kAsked + kNothing + "\n");
    EXPECT_EQ(handheld.handheld->commands() + handheld.handheld->dataPackets(), 0u);
    // One that answers anything in its own header is told to be unplugged.
    Scripted answering({{0xF0, 0x7E, 0x54, 0x07, 0x7F, 0x00, 0x00, 0x06, 0x00, 0xF7}});
    std::istringstream enter("\n");
    Console console{&enter, &answering.out, &answering.err, {}};
    EXPECT_EQ(checkInterface(answering.link, console).status, 1);
    EXPECT_EQ(answering.out.str(), kAsked + "the handheld is connected: unplug it for this check, and cable the "
                                            "interface's MIDI OUT to its own MIDI IN\n");
}

TEST(LoopbackCheck, APortGoneEndsItWithWhatWasCounted) {
    // The interface pulled out once the stream has begun: the round done, what came of the
    // stream so far, then "error".
    CheckRun rig;
    rig.cableInstead();
    rig.link.midi.missingPort = [&rig] {
        return rig.sends().size() > kStopAndWaitExchanges + 100 ? std::string("trackpod MIDI") : std::string();
    };
    EXPECT_EQ(rig.run({"--loopback"}), 1);
    const std::string& text = rig.screen.text;
    EXPECT_NE(text.find("\rstop and wait: 1024 of 1024 intact, "), std::string::npos) << text;
    const std::size_t last = text.rfind('\r') + 1;
    EXPECT_EQ(text.substr(last, 8), "stream: ") << text.substr(last);
    EXPECT_EQ(text.substr(text.find(" intact", last)), " intact\n\nerror\n");
    EXPECT_EQ(rig.err.str(), "tpmidi01: the MIDI port \"trackpod MIDI\" went away\n");
    // No ports: a check that cannot run says so in its status too, unlike a job.
    for (const char* option : {"--loopback", "-sync"}) {
        CheckRun none;
        none.inputPorts.clear();
        EXPECT_EQ(none.run({option}), option[1] == '-' ? 1 : 0) << option;
    }
}

TEST(LoopbackCheck, TheVerdictsNoCableOfTheSimulatorMakes) {
    // What came back, after A, B and C went in the stream; every round over, unless the port went.
    struct Case { const char* name; std::vector<Bytes> back; std::string verdict; bool portGone = false; };
    const Case cases[] = {
        {"a message never sent", {{0x90, 0x3C, 0x40}, kA, kB, kC},
         "the first message that came back but was never sent: 90 3C 40\n"
         "The interface fails: it gave back a message that was never sent (90 3C 40). The program could take such a "
         "message for the handheld's answer.\n"},
        {"one after a later one", {kA, kC, kB},
         "The interface fails: message 2 of the stream (a data packet of 11 bytes) came back after a later one. A "
         "bank received through it would have holes and end in \"error\".\n"},
        // A round cut short is told when anything came back in it, in order or not.
        {"the port gone once one copy came after a later one", {kB, kA}, "stream: 1 of 3 intact, 1 out of order\n",
         true},
        {"the port gone once one copy came, and one changed", {kA, changed(kB, 8, 0x12)},
         "stream: 1 of 3 intact, 1 changed\n  first change: message 2 of the stream (a data packet of 11 bytes), byte 8: "
         "sent 11, received 12\n", true},
    };
    for (const Case& c : cases) {
        LoopbackResult r;
        for (const Bytes& m : {kA, kB, kC}) noteSent(r.tally, Round::Stream, m);
        for (const Bytes& m : c.back) noteReceived(r.tally, Round::Stream, m);
        r.over = {!c.portGone, !c.portGone};
        if (c.portGone) r.end = LoopbackEnd::PortGone;
        std::ostringstream out, err;
        Console console{nullptr, &out, &err, {}};
        EXPECT_EQ(reportLoopback(console, r), 1) << c.name;
        EXPECT_EQ(out.str(), c.verdict) << c.name;
    }
}
