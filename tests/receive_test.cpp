// "-receive": the request, the decoding, progress, and what reaches the file.
#include <gtest/gtest.h>

#include <functional>

#include "rig.h"
#include "transfer/receive.h"
#include "wire.h"

static const std::string kReady = consoleText("receive.ready");

// A receive's progress, unheard.
struct Quiet : Progress {
    void moved(std::uint32_t, std::uint32_t) override {}
};

TEST(ReceiveFile, SavesEveryByteWithProgress) {
    ScratchDir dir;
    for (const std::uint32_t size : {500u, 1024u, 2500u}) {
        SCOPED_TRACE(size);
        HandheldConfig config;
        config.bank = pattern(size, 0x24);
        Rig rig(config, "\n", size == 500 ? kReceiveIdlePolls : 10000);  // one case with the real limit
        std::vector<std::uint32_t> bar;  // what a progress bar is told, the total unknown
        rig.console.progressed = [&bar](std::uint32_t done, std::uint32_t total) { bar.push_back(done + total); };
        const std::string file = dir.name("bank.tp2");
        EXPECT_EQ(rig.run({"-receive", file}), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + receivedText(size));
        const std::vector<std::uint32_t> kibibytes[] = {{}, {1024}, {1024, 2048}};
        EXPECT_EQ(bar, kibibytes[size / 1024]);
        EXPECT_EQ(readAll(file), config.bank);
        EXPECT_EQ(rig.err.str(), saved(file, size));
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(file + ".part")));
        // A bank the user can open afterwards (the tests may run as root, who could anyway).
        const auto rw = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
        EXPECT_EQ(std::filesystem::status(std::filesystem::u8path(file)).permissions() & rw, rw);
        EXPECT_EQ(rig.events, (std::vector<std::string>{"open in 0", "open out 0", "sleep 500",
                                                        "send " + wireExample("BeginReceive"), "destroy"}));
    }
}

TEST(ReceiveFile, TheBankEndsAfterItsSilenceInPolls) {
    // A MIDI system whose empty poll waits a while stands for that many of a busy loop's.
    struct Case { std::uint32_t pollsPerEmptyPoll; unsigned emptyPollsAtTheEnd; };
    for (const Case& c : {Case{1, 10000}, Case{3000, 4}, Case{10000, 1}, Case{20000, 1}}) {
        SCOPED_TRACE(c.pollsPerEmptyPoll);
        ScratchDir dir;
        HandheldConfig config;
        config.bank = pattern(300, 0x24);
        Rig rig(config, "\n", 10000);
        rig.link.midi.pollsPerEmptyPoll = c.pollsPerEmptyPoll;
        unsigned emptyInARow = 0;
        const auto poll = rig.link.midi.poll;
        rig.link.midi.poll = [&](Bytes& m) { poll(m), emptyInARow = m.empty() ? emptyInARow + 1 : 0; };
        const std::string file = dir.name("bank.tp2");
        rig.run({"-receive", file});
        EXPECT_EQ(readAll(file), config.bank);
        EXPECT_EQ(emptyInARow, c.emptyPollsAtTheEnd);
    }
}

TEST(ReceiveFile, OnlyAWholeBankTakesTheNamedFilesPlace) {
    // Messages left out of a 4 KiB bank (N after byte K), its numbering, a stray in it, the
    // MIDI system's word that it dropped messages; then what the error stream says, and
    // whether the bank replaced the old file (when it says nothing).
    ScratchDir dir;
    using Holes = std::vector<std::pair<std::size_t, std::size_t>>;
    const std::string hole = "tpmidi01: the bank has a hole after byte ";
    const std::string dropped = "tpmidi01: the MIDI system dropped messages of the bank: the program could not "
                                "take them in time (was it stopped, or the computer busy or asleep?)\n";
    // number: every message's number, where it does not count; strayAt: an identity reply before this byte (0:
    // none); drops: the MIDI system says it dropped messages; said: the error stream between its first and last lines.
    struct Case { Holes holes; std::optional<std::uint8_t> number; std::size_t strayAt; bool drops; std::string said; };
    const Case cases[] = {
        {{{2000, 37}}, std::nullopt, 0, false, hole + "2000: at least 37 messages lost (number 80, then 117)\n"},
        {{{1000, 100}}, std::nullopt, 0, false, hole + "1000: at least 100 messages lost (number 104, then 76)\n"},
        {{{3000, 1}}, std::nullopt, 0, false, hole + "3000: at least 1 message lost (number 56, then 57)\n"},
        {{{500, 5}, {2500, 200}}, std::nullopt, 0, false,
         hole + "500: at least 5 messages lost (number 116, then 121)\n" +
         hole + "2495: at least 72 messages lost (number 68, then 12)\n"},
        // Counted from the fifth message on, once four in a row have counted.
        {{{4, 1}}, std::nullopt, 0, false, hole + "4: at least 1 message lost (number 4, then 5)\n"},
        // Not to be seen in the numbers: one of the first four messages or the last lost, or
        // a whole turn.
        {{{0, 1}}, std::nullopt, 0, false, ""}, {{{3, 1}}, std::nullopt, 0, false, ""},
        {{{4095, 1}}, std::nullopt, 0, false, ""},
        {{{2000, 128}}, std::nullopt, 0, false, ""},
        // The end lost while the MIDI system said it dropped messages.
        {{{4000, 96}}, std::nullopt, 0, true, dropped},
        // A numbering that does not count: every message a byte, as always.
        {{{2000, 37}}, 0, 0, false, ""}, {{}, 5, 2000, false, ""},
        // A message of another kind amid a counting bank is no byte of it.
        {{}, std::nullopt, 2000, false, ""},
    };
    for (const Case& c : cases) {
        const auto& [holes, number, strayAt, drops, said] = c;
        SCOPED_TRACE(testing::PrintToString(holes) + (said.empty() ? ", whole" : ", " + said));
        HandheldConfig config;
        config.bank = pattern(4096, 0x24);
        config.bankHoles = holes;
        config.bankNumber = number;
        if (strayAt) config.bankStrays = {{strayAt, strayMessage("identity")}};
        Bytes arrived;
        for (std::size_t i = 0; i < config.bank.size(); ++i) {
            if (std::none_of(holes.begin(), holes.end(), [i](auto h) { return i >= h.first && i < h.first + h.second; }))
                arrived.push_back(config.bank[i]);
        }
        if (number && strayAt) arrived.insert(arrived.begin() + strayAt, 0x19);  // bytes 7 and 8 of the reply
        const std::string file = dir.file("song.tp2", {1, 2, 3});
        Rig rig(config);
        bool asked = false;  // asked as the receive starts, and as it ends
        if (drops) rig.link.midi.dropped = [&asked] { return std::exchange(asked, true); };
        rig.run({"-receive", file});
        const auto count = static_cast<std::uint32_t>(arrived.size());
        EXPECT_EQ(rig.screen.text, kPortsOpened + receivedText(count, said.empty()));
        if (said.empty()) {
            EXPECT_EQ(rig.err.str(), saved(file, arrived.size()));
            EXPECT_EQ(readAll(file), arrived);
        } else {
            EXPECT_EQ(rig.err.str(), receivingInto(file) + said + "tpmidi01: " +
                                         std::to_string(arrived.size()) + " bytes received are in " + file +
                                         ".part; " + file + " was left as it was\n");
            EXPECT_EQ(readAll(file), (Bytes{1, 2, 3}));
            EXPECT_EQ(readAll(file + ".part"), arrived);
        }
    }
}

TEST(ReceiveFile, WhatCountsAsTheAnswerAndAsAByte) {
    // The command's answer status, a message already waiting, messages among the bank's,
    // and empty polls after the answer; then the console and the file.
    ScratchDir dir;
    using Strays = std::vector<std::pair<std::size_t, Bytes>>;
    const Bytes none;
    struct Case {
        const char* name;
        std::optional<int> status;  // the answer's, when not the right one
        Bytes waiting;              // a message already waiting before the request
        Strays strays;              // messages among the bank's
        unsigned silence;           // empty polls after the answer
        std::string text;           // the console after the port lines, before the last line
        Bytes bytes;                // the file
    };
    const Case cases[] = {
        {"an unrelated nine-byte SysEx message counts; a channel message and eight bytes do not", std::nullopt, none, {{1, {0xF0, 0x7D, 1, 2, 3, 4, 5, 0x40, 0x05}}, {1, {0x90, 0x3C, 0x40}},
                   {1, {0xF0, 0x7E, 0, 7, 2, 0, 0x40, 0xF7}}}, 0, kReady, {1, 0x85, 2}},
        {"another status", 2, none, {}, 0, "\nerror\n", {1, 2}},
        {"too short to hold a status; the real answer then counts as a byte (0)", 6, {0x90, 0x3C, 0x40}, {}, 0,
         "\nerror\n", {0, 1, 2}},
        {"a message already waiting is taken as the answer", 4, {0xF0, 0x7E, 0, 7, 3, 0, 0, 6, 0, 0xF7}, {}, 0, kReady,
         {0x00, 1, 2}},
        {"the first byte waited for without limit: three idle limits' worth of silence", std::nullopt, none, {},
         30000, kReady, {1, 2}},
    };
    for (const Case& c : cases) {
        const auto& [name, status, waiting, strays, silence, text, bytes] = c;
        SCOPED_TRACE(name);
        HandheldConfig config;
        config.bank = {1, 2};
        config.bankStrays = strays;
        config.commandStatus = status;
        Rig rig(config);
        if (!waiting.empty()) rig.handheld->queue(waiting);
        unsigned polls = 0;
        auto poll = rig.link.midi.poll;
        rig.link.midi.poll = [&, silence = silence](Bytes& m) { return ++polls > 1 && polls <= 1 + silence ? m.clear() : poll(m); };
        rig.run({"-receive", dir.name("x.tp2")});
        EXPECT_EQ(rig.screen.text, kPortsOpened + text + consoleText("receive.done"));
        EXPECT_EQ(readAll(dir.name("x.tp2")), bytes);
    }
}

TEST(ReceiveFile, NoFileToWriteIsNeverASuccess) {
    // Refused before anything is sent, with the system's reason; a name that is not a
    // regular file is written directly.
    ScratchDir dir;
    const std::string askName = "Please enter a file name.\nIt is recommended to use suffixes '.tp1' and '.tp2' "
                                "for trackpod 1.6 and trackpod 2.5 files.\n";
    const std::string noName = "tpmidi01: -receive needs the name of the file to write\n";
    const std::string missing = dir.name("no/such/dir");
#ifndef _WIN32
    // The devices through links of the test's own: a fault that took them for files would
    // replace a link, never a device (the tests may run as root).
    const std::string full = dir.name("full"), null = dir.name("null");
    std::filesystem::create_symlink("/dev/full", std::filesystem::u8path(full));
    std::filesystem::create_symlink("/dev/null", std::filesystem::u8path(null));
#endif
    // text: the console after the port lines; reason: the error stream's first line, then `after`.
    struct Case { std::vector<std::string> args; std::string text; std::string reason; std::string after = ""; };
    const Case cases[] = {
        {{"-receive"}, askName, noName}, {{"-receive", ""}, askName, noName},
        {{"-receive", missing}, askName, "tpmidi01: cannot write " + missing + ".part: "},
        {{"-receive", dir.path}, askName, "tpmidi01: cannot write " + dir.path + ": "},
#ifndef _WIN32
        // A full disk: what arrives cannot be saved.
        {{"-receive", full}, receivedText(0, false), "tpmidi01: cannot write " + full + ": ",
         "tpmidi01: 0 bytes saved in " + full + "\n"},
        {{"-receive", null}, receivedText(100), "tpmidi01: 100 bytes saved in " + null + "\n"},
#endif
    };
    for (const Case& c : cases) {
        const auto& [args, text, reason, after] = c;
        SCOPED_TRACE(args.back());
        HandheldConfig config;
        config.bank = pattern(100, 1);
        Rig rig(config);
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + text);
        const std::string err = rig.err.str();
        EXPECT_TRUE(beginsWith(err, reason) && err.substr(err.find('\n') + 1) == after) << err;
        EXPECT_EQ(rig.sends().size(), text == askName ? 0u : 1u);
    }
#ifndef _WIN32
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(null + ".part")));
#endif
}

TEST(ReceiveFile, APortThatGoesAwayLeavesTheNamedFileAsItWas) {
    // A bank with a hole of 10 after byte 1000, then the port gone: the hole is still named.
    ScratchDir dir;
    HandheldConfig config;
    config.bank = pattern(1500, 0x24);
    config.bankHoles = {{1000, 10}};
    Rig rig(config, "\n", kReceiveIdlePolls);
    rig.link.midi.missingPort = [] { return std::string("trackpod-sim out:from-handheld"); };
    const std::string file = dir.file("song.tp2", {7});
    rig.run({"-receive", file});
    EXPECT_EQ(rig.screen.text, kPortsOpened + kReady + "1k saved \r\nerror\n");
    // The byte count comes last, after the port's reason.
    EXPECT_EQ(rig.err.str(), receivingInto(file) +
                                 "tpmidi01: the MIDI port \"trackpod-sim out:from-handheld\" went away\n"
                                 "tpmidi01: the bank has a hole after byte 1000: at least 10 messages lost (number "
                                 "104, then 114)\n"
                                 "tpmidi01: 1490 bytes received are in " + file + ".part; " + file +
                                 " was left as it was\n");
    EXPECT_EQ(readAll(file), Bytes{7});
    Bytes arrived = config.bank;
    arrived.erase(arrived.begin() + 1000, arrived.begin() + 1010);
    EXPECT_EQ(readAll(file + ".part"), arrived);
}

TEST(HoldUpCost, OnlyARangeThatHoldsAWholeTurnOfTheNumbersCouldHideALoss) {
    // A loss of a whole multiple of 128 messages leaves no gap. The handheld sent held/pace
    // messages meanwhile (up to 5 % more or fewer, the watch up to 10 ms short), of which the
    // MIDI system kept `backlog` (up to 4 more): near the cable's pace a machine frozen whole
    // (sender and all) for 0.8 s cannot have lost 256, nor, with 80 kept, a stop of 1 s.
    struct Case { const char* what; int heldMs, paceUs; double backlog; bool couldHide; };
    const Case cases[] = {
        {"frozen 0.8 s", 800, 3520, 0, false},           {"frozen 0.9 s: 256 possible", 900, 3520, 0, true},
        {"frozen 0.3 s: under a turn", 300, 3520, 0, false}, {"0.73 s, 80 kept: 128 lost", 733, 3520, 80, true},
        {"1 s, 80 kept: about 204 lost", 1000, 3520, 80, false}, {"1.18 s, 80 kept: 256", 1183, 3520, 80, true},
        {"1 s, all 284 kept", 1000, 3520, 284, false},   {"0.9 s at half the pace: 128", 900, 7040, 0, true},
        {"0.8 s at half the pace", 800, 7040, 0, false},  {"least just over 128", 490, 3520, 0, false},
        {"least just under 128", 489, 3520, 0, true},    {"most just under 128", 418, 3520, 0, false},
        {"most just over 128", 420, 3520, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HoldUpCost cost = holdUpCost(std::chrono::milliseconds(c.heldMs), std::chrono::microseconds(c.paceUs), c.backlog);
        EXPECT_LE(cost.least, cost.most);
        EXPECT_EQ(couldHideLoss(cost), c.couldHide) << cost.least << " to " << cost.most;
    }
}

TEST(ReceiveFile, AHoldUpIsAnErrorOnlyWhereItMayHaveLostMessagesUnseen) {
    // A bank of 1000 messages at the cable's pace (or as given), on the test's own clock (a poll takes
    // 1 us). After message K, and `silence` later, the program stops for `held`; the
    // handheld sends on meanwhile, unless the machine froze whole, and the MIDI system keeps
    // `kept` of it, handed over at once, and drops the rest. A loss that shows as a hole is
    // named as one; a stop is named where it may have lost a whole turn of the numbers, the
    // end of the bank (nothing after it), or, before the bank's end, whatever it cost.
    using ms = std::chrono::milliseconds;
    using us = std::chrono::microseconds;
    constexpr std::size_t kBeforeAnswer = ~std::size_t{0};  // the answer to the request 0.2 s late
    // hole: the outcome names one; heldUp: it names the hold-up.
    // atALook: the stop comes right after the program looked around, `silence` after message K.
    struct Case { const char* what; std::size_t k; ms held; std::size_t kept; bool frozen; us silence; bool hole;
                 bool heldUp; us pace = us(3520); bool atALook = false; };
    const Case cases[] = {
        {"frozen whole for 0.8 s", 200, ms(800), 0, true, {}, false, false},
        {"frozen whole for 0.9 s, as long as 256 messages", 200, ms(900), 0, true, {}, false, true},
        {"frozen 0.45 s, the handheld at half the cable's pace: 64", 200, ms(450), 0, true, {}, false, false, us(7040)},
        {"stopped 0.5 s, 80 kept: a hole", 200, ms(500), 80, false, {}, true, false},
        {"stopped 0.73 s, 80 kept: 128 lost", 200, ms(733), 80, false, {}, false, true},
        {"stopped 1 s, all kept", 200, ms(1000), 1000, false, {}, false, false},
        {"stopped 0.2 s, all kept", 200, ms(200), 80, false, {}, false, false},
        {"stopped 0.5 s before the first message, all kept", 0, ms(500), 1000, false, {}, false, true},
        {"stopped 0.25 s, as long as the MIDI system keeps messages", 0, ms(250), 1000, false, {}, false, false},
        {"stopped 0.251 s, longer", 0, ms(251), 1000, false, {}, false, true},
        {"frozen 0.5 s before the handheld answered", kBeforeAnswer, ms(500), 0, true, {}, false, false},
        {"stopped 0.5 s after the last message", 999, ms(500), 80, false, {}, false, true},
        {"frozen 1 s, 0.2 s into the closing silence", 999, ms(1000), 0, true, ms(200), false, false},
        {"frozen 1 s, 2 s into the closing silence", 999, ms(1000), 0, true, ms(2000), false, false},
        // A silence of 8 messages' time before the look ahead of the stop may still be the stream's.
        {"frozen 1 s from a look 8 messages' time after the last", 1000, ms(1000), 0, true, us(8 * 3520), false, true,
         us(3520), true},
        {"frozen 1 s from a look a moment later: the bank was over", 1000, ms(1000), 0, true, us(8 * 3520 + 1), false,
         false, us(3520), true},
    };
    ScratchDir dir;
    // A receive's job on a rig that stops as the case says.
    const auto play = [](const Case& c, const std::function<void(Rig&)>& job) {
        SCOPED_TRACE(c.what);
        HandheldConfig config;
        config.bank = pattern(1000, 0x24);
        Rig rig(config, "\n", 4000000);
        Clock::time_point now{}, due{}, stopAt = c.k == kBeforeAnswer ? now : Clock::time_point::max();
        Clock::duration watched{}, afterTheLook{};
        std::size_t taken = 0, handOver = 0, lose = 0;
        bool took = false;
        // A reading that follows no message is a look around.
        rig.link.hooks.now = [&] {
            if (!c.atALook || std::exchange(took, false) || now < stopAt) return now;
            now = std::exchange(stopAt, Clock::time_point::max());
            afterTheLook = c.held;
            return std::exchange(now, now + c.held);
        };
        rig.link.hooks.longestHoldUp = [&watched] { return std::exchange(watched, {}); };
        auto poll = rig.link.midi.poll;
        rig.link.midi.poll = [&](Bytes& m) {
            watched += std::exchange(afterTheLook, {});
            if (handOver > 0) return --handOver, poll(m);
            for (; lose > 0; --lose) poll(m);
            m.clear();
            now += std::chrono::microseconds(1);
            if (!c.atALook && now >= stopAt) {
                stopAt = Clock::time_point::max();
                now += c.held;
                watched = c.held;
                const std::size_t sent = c.frozen ? 0 : std::min<std::size_t>(c.held / c.pace, 1001 - taken);
                handOver = std::min(sent, c.kept);
                lose = sent - handOver;
                due = now + (c.k == kBeforeAnswer ? ms(200) : ms(0));
            }
            if (now < due) return;
            poll(m);
            if (m.empty()) return;
            took = true;
            due = now + c.pace;
            if (++taken == c.k + 1) stopAt = now + c.silence;  // the first is the answer to the request
        };
        job(rig);
    };
    for (const Case& c : cases) play(c, [&](Rig& rig) {
        const std::string file = dir.name(std::to_string(&c - cases) + ".tp2");
        Quiet quiet;
        const ReceiveOutcome outcome = receiveFile(rig.link, file.c_str(), quiet);
        EXPECT_EQ(!outcome.holes.empty(), c.hole);
        const auto heldUp = std::find_if(outcome.problems.begin(), outcome.problems.end(),
                                         [](const ReceiveProblem& p) { return p.failure == ReceiveFailure::HeldUp; });
        ASSERT_EQ(heldUp != outcome.problems.end(), c.heldUp);
        if (c.heldUp) {
            EXPECT_EQ(heldUp->heldUp, c.held);
        }
        const bool done = !c.heldUp && !c.hole;
        EXPECT_EQ(outcome.placed, done);
        EXPECT_EQ(done, std::filesystem::exists(std::filesystem::u8path(file)));
    });
    // What the user is told of one: the stop after the last message.
    play(*std::find_if(std::begin(cases), std::end(cases),
                       [](const Case& c) { return std::string(c.what) == "stopped 0.5 s after the last message"; }),
         [&dir](Rig& rig) {
        rig.run({"-receive", dir.name("said.tp2")});
        EXPECT_NE(rig.err.str().find("tpmidi01: the program was held up for 0.5 s while the bank came in (stopped, or "
                                     "the computer asleep): messages may be lost\n"), std::string::npos) << rig.err.str();
    });
}

TEST(ReceiveFile, ABankThatCannotTakeTheFilesPlaceIsNotDone) {
    // The file named turned into a folder with a file in it while the bank came in.
    ScratchDir dir;
    HandheldConfig config;
    config.bank = pattern(100, 0x24);
    Rig rig(config);
    const std::string file = dir.file("song.tp2", {7});
    auto poll = rig.link.midi.poll;
    rig.link.midi.poll = [&](Bytes& m) {
        poll(m);
        if (m.empty() || !std::filesystem::is_regular_file(std::filesystem::u8path(file))) return;
        std::filesystem::remove(std::filesystem::u8path(file));
        std::filesystem::create_directory(std::filesystem::u8path(file));
        dir.file("song.tp2/inside", {1});
    };
    rig.run({"-receive", file});
    EXPECT_EQ(rig.screen.text, kPortsOpened + receivedText(100, false));
    const std::string err = rig.err.str(), cannot = "tpmidi01: cannot replace " + file + ": ";
    const std::size_t said = err.find(cannot);
    ASSERT_NE(said, std::string::npos) << err;
    EXPECT_TRUE(beginsWith(err.substr(said), cannot)) << err;
    EXPECT_NE(err.find("tpmidi01: 100 bytes received are in " + file + ".part; " + file + " was left as it was\n"),
              std::string::npos) << err;
    EXPECT_EQ(readAll(file + ".part"), config.bank);
}
