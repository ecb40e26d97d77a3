// The run flow, the port choice and the mode switches, against the simulated handheld.
#include <gtest/gtest.h>

#include <iterator>

#include "app/ports.h"
#include "rig.h"
#include "wire.h"

static const std::string kUsage = consoleText("usage");

TEST(RunFlow, NoOptionPrintsUsageAndOtherOptionsOnlyEndTheLine) {
    Rig usage;
    EXPECT_EQ(usage.run({}), 0);
    EXPECT_EQ(usage.screen.text, kPortsOpened + kUsage);
    EXPECT_EQ(usage.events, (std::vector<std::string>{"open in 0", "open out 0", "destroy"}));
    for (const char* option : {"-Send", "-sync2", "send", "-H", ""}) {
        Rig rig;
        EXPECT_EQ(rig.run({option, "x"}), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + "\n") << option;
        EXPECT_EQ(rig.err.str(), "tpmidi01: unknown option \"" + std::string(option) +
                                     "\"; run tpmidi01 --help for the options\n");
        EXPECT_TRUE(rig.sends().empty()) << option;
    }
}

static const std::string kHelp = kUsage + consoleText("help.more");

#ifndef _WIN32
TEST(RunFlow, TheShellCompletesEveryOptionOfTheTable) {
    std::ifstream file(TPMIDI_SOURCE_DIR "/packaging/bash-completion/tpmidi01");
    const std::string script{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t from = script.find("compgen -W '") + 12;
    std::istringstream words(script.substr(from, script.find('\'', from) - from));
    const std::vector<std::string> completed{std::istream_iterator<std::string>(words),
                                             std::istream_iterator<std::string>()};
    EXPECT_EQ(completed, optionNames());
}
#endif

TEST(RunFlow, HelpAndVersionNeedNoMidiSystem) {
    const std::pair<const char*, std::string> cases[] = {
        {"-h", kHelp}, {"--help", kHelp}, {"--version", "tpmidi01 1.0.0\n"}};
    for (const auto& [option, text] : cases) {
        Rig rig;
        rig.createFails = true;
        EXPECT_EQ(rig.run({option}), 0);
        EXPECT_EQ(rig.screen.text, text) << option;
        EXPECT_TRUE(rig.events.empty()) << option;
    }
}

TEST(RunFlow, AWindowOfItsOwnWaitsForEnterAfterTheLastLine) {
    // Double-clicked, or a file dropped on it: the console is the program's alone.
    struct Case { const char* name; std::vector<std::string> args; bool ownWindow; std::string text; };
    const std::string wait = "Press Enter to close this window.\n";
    const Case cases[] = {
        {"double-clicked", {}, true, kPortsOpened + kUsage + wait},
        {"a file dropped on it", {"song.tp2"}, true, kPortsOpened + "\n" + wait},
        {"its version", {"--version"}, true, "tpmidi01 1.0.0\n" + wait},
        {"started from a console", {}, false, kPortsOpened + kUsage},
    };
    for (const Case& c : cases) {
        Rig rig;
        EXPECT_EQ(rig.run(c.args, "", c.ownWindow), 0) << c.name;
        EXPECT_EQ(rig.screen.text, c.text) << c.name;
        EXPECT_EQ(rig.in.peek() == std::char_traits<char>::eof(), c.ownWindow) << c.name;
    }
}

TEST(RunFlow, NoPortsOrLibraryFailuresEndTheRun) {
    // The library's own reason goes to the error stream, the "error" line to the console.
    struct Case { const char* name; void (*breakRig)(Rig&); std::string text, reason; };
    const Case cases[] = {
        {"no input port", [](Rig& r) { r.inputPorts.clear(); }, "\nNo input ports available!\n", ""},
        {"no output port", [](Rig& r) { r.outputPorts.clear(); },
         "\ntrackpod-sim out:from-handheld opened for input\n\nNo output ports available!\n", ""},
        {"no MIDI system", [](Rig& r) { r.createFails = true; }, "error\n", "tpmidi01: no MIDI system\n"},
        {"a port that fails to open", [](Rig& r) { r.openFails = true; }, "\nerror\n", "tpmidi01: cannot open\n"},
        // A failed send ends the branch instead of waiting for an answer.
        {"a send that fails", [](Rig& r) { r.sendFails = true; }, kPortsOpened + "\nerror\n",
         "tpmidi01: send failed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.breakRig(rig);
        EXPECT_EQ(rig.run({"-getmidi"}), 0);
        EXPECT_EQ(rig.screen.text, c.text);
        EXPECT_EQ(rig.err.str(), c.reason);
        EXPECT_EQ(rig.events.back(), "destroy");
        EXPECT_TRUE(rig.sends().empty());
    }
}

TEST(ModeSwitches, EachOptionSendsItsCommandAndReportsSuccess) {
    struct Case { const char* option; std::string bytes; const char* text; std::size_t pauses; };
    const Case cases[] = {
        {"-sync", wireExample("Sync"), "Sync mode activated.", 2},
        {"-SYNC", wireExample("SyncPermanent"), "Sync mode activated permanently.", 2},
        {"-midi", wireExample("Midi 26"), "MIDI mode activated.", 1},
        {"-MIDI", wireExample("MidiPermanent 26"), "MIDI mode activated permanently.", 1},
        {"-getmidi", wireExample("MidiReceive"), "MIDI receive mode activated.", 1},
        {"-GETMIDI", wireExample("MidiReceivePermanent"), "MIDI receive mode activated permanently.", 1},
        // The usage text's names for the same.
        {"-midireceive", wireExample("MidiReceive"), "MIDI receive mode activated.", 1},
        {"-MIDIRECEIVE", wireExample("MidiReceivePermanent"), "MIDI receive mode activated permanently.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        Rig rig;
        EXPECT_EQ(rig.run({c.option}), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + "\n" + c.text + "\n\n");
        std::vector<std::string> expected = {"open in 0", "open out 0"};
        expected.insert(expected.end(), c.pauses, "sleep 500");
        expected.insert(expected.end(), {"send " + c.bytes, "destroy"});
        EXPECT_EQ(rig.events, expected);
    }
}

TEST(ModeSwitches, DelayArgument) {
    const std::pair<const char*, std::uint8_t> cases[] = {
        {"30", 30}, {"abc", 0}, {"300", 44}, {"  -1", 255}, {"+7x", 7}, {"99999999999", 255}, {"-99999999999", 0}};
    for (const auto& [text, delay] : cases) EXPECT_EQ(parseDelay(text), delay) << text;
    // The delay reaches the wire; without an argument, or with one too many, it is 26. A
    // byte of 128 or more would be a status byte inside the message: nothing is sent, one
    // line says why, and the run ends as usual.
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"-MIDI", "16"}, "10"}, {{"-midi"}, "1A"}, {{"-midi", "40", "x"}, "1A"}, {{"-MIDI", "127"}, "7F"},
        {{"-MIDI", "-1"}, ""}, {{"-midi", "  -7x"}, ""}, {{"-MIDI", "128"}, ""}};
    for (const auto& [args, byte] : runs) {
        Rig rig;
        rig.run(args);
        EXPECT_EQ(rig.sends().empty() ? "" : rig.sends().at(0).substr(30, 2), byte) << args.back();
        if (byte.empty()) {
            EXPECT_EQ(rig.screen.text, kPortsOpened + "\nThe delay must be between 0 and 127; nothing was sent.\n\n");
        }
    }
}

TEST(ModeSwitches, TheFirstMessageDecides) {
    // status: what the handheld answers; waiting: a message already waiting before the command, or none.
    struct Case { const char* option; int status; Bytes waiting; const char* text; };
    const Case cases[] = {
        {"-sync", 0, {}, "error"},  {"-getmidi", 4, {}, "error"}, {"-MIDI", 4, {}, "error"},
        {"-sync", 4, {}, "Sync mode activated."}, {"-midi", 0, {}, "MIDI mode activated."},
        // A message already waiting is the answer; seven bytes hold no status, eight do.
        {"-midi", 0, {0xF0, 0x7E, 0, 7, 2, 0, 0, 4, 0, 0xF7}, "error"},
        {"-sync", 4, {0x90, 0x3C, 0x40}, "error"},
        {"-getmidi", 6, {0xF0, 0x7E, 0, 7, 3, 0, 0}, "error"},
        {"-getmidi", 4, {0xF0, 0x7E, 0, 7, 3, 0, 0, 6}, "MIDI receive mode activated."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + ", status " + std::to_string(c.status) + ", " + hexLine(c.waiting));
        HandheldConfig config;
        config.commandStatus = c.status;
        Rig rig(config);
        if (!c.waiting.empty()) rig.handheld->queue(c.waiting);
        rig.run({c.option});
        EXPECT_EQ(rig.screen.text, kPortsOpened + "\n" + c.text + "\n\n");
    }
}

TEST(PortChoice, ByName) {
    struct Case { const char* name; std::vector<std::string> ports; std::optional<unsigned> chosen; };
    const Case cases[] = {
        {"a single port, whatever its name", {"anything at all"}, 0},
        {"of two beginning \"trackpod\", the last", {"trackpod a", "trackpod b"}, 1},
        {"the one beginning \"trackpod\", first", {"trackpod a", "USB MIDI"}, 0},
        {"the one beginning \"trackpod\", last", {"USB MIDI", "trackpod"}, 1},
        {"letter case counts", {"Trackpod x", "USB"}, std::nullopt},
        {"a part of the word is none", {"trackpo", "USB"}, std::nullopt},
        {"only at the start", {"xtrackpod", "USB"}, std::nullopt},
        {"no ports", {}, std::nullopt}};
    for (const Case& c : cases) EXPECT_EQ(pickPortByName(c.ports), c.chosen) << c.name;
}

TEST(PortChoice, ByTheWantedPartOfTheName) {
    // TPMIDI01_PORT's value, in any letter case: one port opened, several offered, or,
    // with none, every port offered after a word on the error stream. ASCII letters alone
    // are folded: a port name is UTF-8, and other bytes must match as they are.
    const std::vector<std::string> names = {"Midi Through:Port-0", "UM-ONE:UM-ONE MIDI 1", "trackpod-sim out",
                                            "UM-ONE:UM-ONE MIDI 2", "Synth"};
    const std::vector<std::string> alphabetEnds = {"A-port", "Z-port", "b", "\xC3\x84 \xC3\xA4", "@["};
    struct Case {
        std::string wanted; std::optional<unsigned> chosen; std::vector<unsigned> offered; bool none;
        std::vector<std::string> ports;
    };
    const Case cases[] = {
        {"", 2, {}, false, names},                        // not set: "trackpod" as ever
        {"synth", 4, {4}, false, names},                  // one: a "trackpod" port no longer counts
        {"MIDI 2", 3, {3}, false, names},
        {"um-one", std::nullopt, {1, 3}, false, names},   // two
        {"x", std::nullopt, {0, 1, 2, 3, 4}, true, names},  // none
        {"a-", 0, {0}, false, alphabetEnds},              // the alphabet's ends, in either case
        {"z-", 1, {1}, false, alphabetEnds},
        {"A-", 0, {0}, false, alphabetEnds},
        {"Z-", 1, {1}, false, alphabetEnds},
        {"B", 2, {2}, false, alphabetEnds},
        {"`{", std::nullopt, {0, 1, 2, 3, 4}, true, alphabetEnds},  // "@[" is no "`{"
        {"\xC3\xA4", 3, {3}, false, alphabetEnds},                 // beyond ASCII: as it is
        {"\xC3\xA4 \xC3\xA4", std::nullopt, {0, 1, 2, 3, 4}, true, alphabetEnds},
        {"x", std::nullopt, {}, true, {}},                 // no ports at all
        {"", std::nullopt, {}, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wanted + " among " + std::to_string(c.ports.size()));
        const PortChoice choice = choosePortByName(c.ports, c.wanted);
        EXPECT_EQ(choice.chosen, c.chosen);
        if (!c.chosen || !c.wanted.empty()) {
            EXPECT_EQ(choice.offered, c.offered);
        }
        EXPECT_EQ(choice.wantedMatchesNothing, c.none);
    }
}

TEST(PortChoice, OnlyTheOfferedNumbersAreTaken) {
    // Several ports' names contain TPMIDI01_PORT's value: one of them, not another port.
    const std::string prompt = "\nPlease choose a port number: ";
    Rig rig({}, "0\n3\n2\n");
    rig.inputPorts = {"trackpod-sim out", "UM-ONE MIDI 1", "UM-ONE MIDI 2"};
    rig.outputPorts = {"UM-ONE MIDI 1"};
    rig.run({"-sync"}, "UM-ONE");
    EXPECT_EQ(rig.screen.text, "\n  Input port #1: UM-ONE MIDI 1\n  Input port #2: UM-ONE MIDI 2\n" + prompt + prompt +
                                   prompt + "UM-ONE MIDI 2 opened for input\n\nUM-ONE MIDI 1 opened for output\n\n"
                                   "Sync mode activated.\n\n");
}

TEST(PortChoice, ListedWithoutOpeningAny) {
    struct Case { const char* wanted; std::vector<std::string> inputs; std::string text; };
    const Case cases[] = {
        {"", {"Midi Through", "trackpod-sim out"},
         "  Input port #0: Midi Through\n  Input port #1: trackpod-sim out   (opened without asking)\n"
         "  Output port #0: trackpod-sim in:to-handheld   (opened without asking)\n"},
        {"through", {"Midi Through", "trackpod-sim out"},
         "  Input port #0: Midi Through   (opened without asking)\n  Input port #1: trackpod-sim out\n"
         "  Output port #0: trackpod-sim in:to-handheld\n"},
        {"", {}, "No input ports available!\n  Output port #0: trackpod-sim in:to-handheld   (opened without asking)\n"},
    };
    for (const Case& c : cases) {
        for (const char* option : {"--list", "-l"}) {
            SCOPED_TRACE(std::string(option) + " " + c.wanted);
            Rig rig;
            rig.inputPorts = c.inputs;
            EXPECT_EQ(rig.run({option}, c.wanted), 0);
            EXPECT_EQ(rig.screen.text, c.text);
            EXPECT_EQ(rig.events, std::vector<std::string>{"destroy"});
        }
    }
}

TEST(PortChoice, AsksUntilTheNumberIsBelowTheCountOnEachSide) {
    // Then "press enter" takes one character of the next line, not the answer's line.
    ScratchDir dir;
    const std::string file = dir.file("f.bin", pattern(4, 0x01));
    Rig rig({}, "3\n10\nabc\n-1\n\n +1 trailing words\n0\nxyz\n");
    rig.inputPorts = {"A", "B", "C"};
    rig.outputPorts = {"Midi Through", "USB MIDI"};
    rig.run({"-send", file});
    const std::string prompt = "\nPlease choose a port number: ";
    EXPECT_EQ(rig.screen.text, "\n  Input port #0: A\n  Input port #1: B\n  Input port #2: C\n" + prompt +
                                 prompt + prompt + prompt + prompt + prompt +
                                 "B opened for input\n\n  Output port #0: Midi Through\n"
                                 "  Output port #1: USB MIDI\n" + prompt + "Midi Through opened for output\n\n"
                                 "Loaded file: " + file + "\nPress enter to send.\n0k of 0k sent\r0k of 0k sent... done.\n");
    EXPECT_EQ(rig.events[0], "open in 1");
    EXPECT_EQ(rig.events[1], "open out 0");
    std::string rest;
    std::getline(rig.in, rest);
    EXPECT_EQ(rest, "yz");

    // End of input at the prompt gives up: nothing is sent.
    Rig closed({}, "x\n");
    closed.inputPorts = {"A", "B"};
    closed.run({"-sync"});
    EXPECT_EQ(closed.screen.text, "\n  Input port #0: A\n  Input port #1: B\n" + prompt + prompt + "\n");
    EXPECT_EQ(closed.events, std::vector<std::string>{"destroy"});
}

TEST(RunFlow, ASilenceWhileAnAnswerIsOwedIsToldOnce) {
    // Each look around (every so many empty polls) one second later. A silent handheld is
    // waited for, said once, until its port goes; a receive's closing silence is no wait.
    const std::string waiting = "tpmidi01: waiting for the handheld (is trackpod on, in the right mode, and the "
                                "cable plugged in both ways?); Ctrl-C ends\n";
    ScratchDir dir;
    struct Case { const char* name; HandheldConfig config; std::vector<std::string> args; std::string said; };
    HandheldConfig silent, bank;
    silent.silent = true;
    bank.bank = pattern(10, 1);
    const Case cases[] = {
        {"a silent handheld", silent, {"-sync"},
         waiting + "tpmidi01: the MIDI port \"trackpod-sim out:from-handheld\" went away\n"},
        {"a bank's closing silence", bank, {"-receive", dir.name("b")}, saved(dir.name("b"), 10)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.config, "\n", 6 * 65536);
        int seconds = 0, looks = 0;
        rig.link.hooks.now = [&] { return Clock::time_point(std::chrono::seconds(++seconds)); };
        rig.link.midi.missingPort = [&] { return ++looks > 8 ? "trackpod-sim out:from-handheld" : ""; };
        rig.run(c.args);
        EXPECT_EQ(rig.err.str(), c.said);
    }
}
