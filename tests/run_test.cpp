// The run flow, the port choice and the mode switches, against the simulated handheld.
#include <gtest/gtest.h>

#include "app/ports.h"
#include "rig.h"

namespace {

const char* kUsage =
    "\nuseage:\ntpmidi01 -parameter filename\n\n"
    "available parameters:\n\n"
    "-send filename\n"
    "-receive filename\n"
    "-sync\n"
    "-midi <delay>\n"
    "-midireceive\n\n"
    "For <delay> use values between 16 and 50. Default is 26.\n\n"
    "-MIDI, -MIDIRECEIVE and -SYNC (in caps) sets the respective mode as default\n\n"
    "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and trackpod 2.5 "
    "files.\n\n";

std::string commandWith(const char* sub, const char* letter, const char* parameter) {
    return std::string("F0 7E 54 07 ") + sub + " 00 54 50 44 " + letter + " " + parameter +
           " 00 F7";
}

}  // namespace

TEST(RunFlow, NoOptionPrintsUsageAfterThePortChoice) {
    Rig rig;
    EXPECT_EQ(rig.run({}), 0);
    EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + kUsage);
    EXPECT_TRUE(rig.sends().empty());
    EXPECT_EQ(rig.events.back(), "destroy");
}

TEST(RunFlow, UnrecognisedOptionsOnlyEndTheLine) {
    for (const char* option : {"-midireceive", "-MIDIRECEIVE", "-Send", "-sync2", "send", ""}) {
        Rig rig;
        EXPECT_EQ(rig.run({option, "x"}), 0);
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "\n") << option;
        EXPECT_TRUE(rig.sends().empty()) << option;
    }
}

TEST(ModeSwitches, EachOptionSendsItsCommandAndReportsSuccess) {
    struct Case {
        const char* option;
        std::string command;
        const char* text;
        std::vector<std::string> pauses;
    };
    const Case cases[] = {
        {"-sync", commandWith("01", "73", "1A"), "Sync mode activated.", {"sleep 500", "sleep 500"}},
        {"-SYNC", commandWith("01", "53", "1A"), "Sync mode activated permanently.",
         {"sleep 500", "sleep 500"}},
        {"-midi", commandWith("01", "6D", "1A"), "MIDI mode activated.", {"sleep 500"}},
        {"-MIDI", commandWith("01", "4D", "1A"), "MIDI mode activated permanently.", {"sleep 500"}},
        {"-getmidi", commandWith("03", "6D", "00"), "MIDI receive mode activated.", {"sleep 500"}},
        {"-GETMIDI", commandWith("03", "4D", "00"), "MIDI receive mode activated permanently.",
         {"sleep 500"}},
    };
    for (const Case& c : cases) {
        Rig rig;
        EXPECT_EQ(rig.run({c.option}), 0);
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "\n" + c.text + "\n\n") << c.option;
        std::vector<std::string> expected = {"open in 0", "open out 0"};
        expected.insert(expected.end(), c.pauses.begin(), c.pauses.end());
        expected.push_back("send " + c.command);
        expected.push_back("destroy");
        EXPECT_EQ(rig.events, expected) << c.option;
    }
}

TEST(ModeSwitches, DelayArgument) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-midi"}, "1A"},          {{"-midi", "30"}, "1E"},       {{"-midi", "40"}, "28"},
        {{"-midi", "40", "x"}, "1A"}, {{"-midi", "abc"}, "00"},     {{"-midi", "300"}, "2C"},
        {{"-MIDI", "16"}, "10"},    {{"-midi", "  -1"}, "FF"},     {{"-midi", "+7x"}, "07"},
        {{"-midi", "99999999999"}, "FF"}, {{"-midi", "-99999999999"}, "00"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.run(c.first);
        ASSERT_EQ(rig.sends().size(), 1u);
        EXPECT_EQ(rig.sends()[0].substr(30, 2), c.second) << c.first.back();
    }
}

TEST(ModeSwitches, StatusDecidesTheResult) {
    // After -sync status 0 is an error; after -midi it is success; 4 after -getmidi fails.
    const std::tuple<const char*, int, const char*> cases[] = {
        {"-sync", 0, "error"},           {"-midi", 0, "MIDI mode activated."},
        {"-getmidi", 6, "MIDI receive mode activated."}, {"-getmidi", 4, "error"},
        {"-SYNC", 6, "error"},           {"-MIDI", 4, "error"},
        {"-GETMIDI", 0, "error"},
    };
    for (const auto& [option, status, text] : cases) {
        HandheldConfig config;
        config.commandStatus = status;
        Rig rig(config);
        rig.run({option});
        EXPECT_EQ(rig.out.str(), std::string(kPortsOpened) + "\n" + text + "\n\n") << option;
    }
}

TEST(ModeSwitches, FirstMessageIsTakenWhateverItIs) {
    // A message already waiting when the command goes out is taken as the answer.
    Rig waiting;
    waiting.handheld->queue({0xF0, 0x7E, 0, 7, 2, 0, 0, 4, 0, 0xF7});
    waiting.run({"-midi"});
    EXPECT_EQ(waiting.out.str(), std::string(kPortsOpened) + "\nerror\n\n");

    // A channel message has no status byte: never read past it, report error.
    HandheldConfig config;
    config.strayBeforeAnswer = {{0x90, 0x3C, 0x40}};
    Rig channel(config);
    channel.run({"-sync"});
    EXPECT_EQ(channel.out.str(), std::string(kPortsOpened) + "\nerror\n\n");
}

TEST(RunFlow, NoPortsEndsTheRunBeforeTheCommandLine) {
    Rig noInput;
    noInput.inputPorts.clear();
    noInput.run({});
    EXPECT_EQ(noInput.out.str(), "\nNo input ports available!\n");
    EXPECT_EQ(noInput.events, std::vector<std::string>{"destroy"});

    Rig noOutput;
    noOutput.outputPorts.clear();
    noOutput.run({"-sync"});
    EXPECT_EQ(noOutput.out.str(),
              "\ntrackpod-sim out:from-handheld opened for input\n\nNo output ports available!\n");
    EXPECT_TRUE(noOutput.sends().empty());
}

TEST(RunFlow, LibraryFailuresEndTheRunWithError) {
    // Objects cannot be created: "error", whatever was made is deleted, status 0.
    Rig create;
    create.createFails = true;
    EXPECT_EQ(create.run({"-sync"}), 0);
    EXPECT_EQ(create.out.str(), "error\n");
    EXPECT_EQ(create.events, std::vector<std::string>{"destroy"});

    // A port fails to open: no option runs on it.
    Rig open;
    open.openFails = true;
    EXPECT_EQ(open.run({"-sync"}), 0);
    EXPECT_EQ(open.out.str(), "\nerror\n");
    EXPECT_TRUE(open.sends().empty());

    // A send fails inside a branch: "error" instead of waiting for an answer.
    Rig send;
    send.sendsBeforeFailure = 0;
    EXPECT_EQ(send.run({"-getmidi"}), 0);
    EXPECT_EQ(send.out.str(), std::string(kPortsOpened) + "\nerror\n");
    EXPECT_EQ(send.events.back(), "destroy");
}

TEST(PortChoice, ByName) {
    EXPECT_EQ(pickPortByName({"anything at all"}), 0u);
    EXPECT_EQ(pickPortByName({"trackpod a", "trackpod b"}), 1u);
    EXPECT_EQ(pickPortByName({"trackpod a", "USB MIDI"}), 0u);
    EXPECT_EQ(pickPortByName({"USB MIDI", "trackpod"}), 1u);
    EXPECT_EQ(pickPortByName({"Trackpod x", "USB MIDI"}), std::nullopt);
    EXPECT_EQ(pickPortByName({"trackpo", "USB MIDI"}), std::nullopt);
    EXPECT_EQ(pickPortByName({"xtrackpod", "USB MIDI"}), std::nullopt);
    EXPECT_EQ(pickPortByName({}), std::nullopt);
}

TEST(PortChoice, AsksUntilTheNumberIsBelowTheCount) {
    Rig rig({}, "3\n7\n1\n");
    rig.inputPorts = {"A", "B", "C"};
    rig.run({"-sync"});
    EXPECT_EQ(rig.out.str(),
              "\n  Input port #0: A\n  Input port #1: B\n  Input port #2: C\n"
              "\nPlease choose a port number: \nPlease choose a port number: "
              "\nPlease choose a port number: B opened for input\n"
              "\ntrackpod-sim in:to-handheld opened for output\n\nSync mode activated.\n\n");
    EXPECT_EQ(rig.events[0], "open in 1");
}

TEST(PortChoice, EachSideIsDecidedOnItsOwn) {
    Rig rig({}, "0\n");
    rig.inputPorts = {"trackpod-sim out:from-handheld", "Midi Through"};
    rig.outputPorts = {"Midi Through", "USB MIDI"};
    rig.run({"-getmidi"});
    EXPECT_EQ(rig.out.str(),
              "\ntrackpod-sim out:from-handheld opened for input\n"
              "\n  Output port #0: Midi Through\n  Output port #1: USB MIDI\n"
              "\nPlease choose a port number: Midi Through opened for output\n"
              "\nMIDI receive mode activated.\n\n");
}

TEST(PortChoice, NonNumbersAreAskedAgainAndEndOfInputGivesUp) {
    Rig rig({}, "abc\n-1\n\n 1 trailing words\n");
    rig.inputPorts = {"A", "B"};
    rig.run({});
    const std::string text = rig.out.str();
    std::size_t prompts = 0;
    for (std::size_t at = text.find("Please choose"); at != std::string::npos;
         at = text.find("Please choose", at + 1)) {
        ++prompts;
    }
    EXPECT_EQ(prompts, 4u);
    EXPECT_EQ(rig.events[0], "open in 1");
    EXPECT_NE(text.find("useage:"), std::string::npos);

    Rig closed({}, "x\n");
    closed.inputPorts = {"A", "B"};
    closed.run({"-sync"});
    EXPECT_EQ(closed.out.str(),
              "\n  Input port #0: A\n  Input port #1: B\n"
              "\nPlease choose a port number: \nPlease choose a port number: \n");
    EXPECT_TRUE(closed.sends().empty());
    EXPECT_EQ(closed.events, std::vector<std::string>{"destroy"});
}

TEST(PortChoice, AnswerParsing) {
    std::uint32_t n = 0;
    std::istringstream in("12 x\n-1\n99999999999\n+3\n\n");
    EXPECT_EQ(readPortAnswer(in, n), PortAnswer::Number);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(readPortAnswer(in, n), PortAnswer::Number);
    EXPECT_EQ(n, 0xFFFFFFFFu);
    EXPECT_EQ(readPortAnswer(in, n), PortAnswer::Number);
    EXPECT_EQ(n, 0xFFFFFFFFu);
    EXPECT_EQ(readPortAnswer(in, n), PortAnswer::Number);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(readPortAnswer(in, n), PortAnswer::NotNumber);
    EXPECT_EQ(readPortAnswer(in, n), PortAnswer::EndOfInput);
}
