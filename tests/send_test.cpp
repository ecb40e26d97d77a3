// "-send": loading, kinds, console lines, pauses and the bytes that reach the handheld.
#include <gtest/gtest.h>

#include "rig.h"
#include "transfer/upload.h"
#include "wire.h"

TEST(SendFile, EachKindHasItsLinesAndUpload) {
    ScratchDir dir;
    // A Game Boy ROM, a 2.5 bank, a 1.6 bank, other files (an empty one's first byte reads as 0).
    for (const std::uint32_t size : {1u, 1024u, 1025u, 3000u, 262144u, 300000u}) {
        for (const std::uint8_t first : {0xC9, 0x24, 0xAB, 0x00, 0x2F}) {
            SCOPED_TRACE("first byte " + std::to_string(first) + ", " + std::to_string(size) + " bytes");
            const Bytes data = pattern(size, first);
            const std::string file = dir.file("in.bin", data);
            const std::uint32_t sent = std::min(size, 262144u);  // the most that is sent
            Rig rig;
            std::vector<std::pair<std::uint32_t, std::uint32_t>> bar;  // what a progress bar is told
            rig.console.progressed = [&bar](std::uint32_t done, std::uint32_t total) { bar.emplace_back(done, total); };
            EXPECT_EQ(rig.run({"-send", file}), 0);
            EXPECT_EQ(rig.screen.text, kPortsOpened + sentText(first, file, sent));
            ASSERT_FALSE(bar.empty());
            EXPECT_EQ(bar.front(), std::make_pair(0u, sent));
            EXPECT_EQ(bar.back(), std::make_pair(sent, sent));
            EXPECT_EQ(bar.size(), (sent + 1023) / 1024 + 1);
            EXPECT_EQ(rig.handheld->uploaded(), Bytes(data.begin(), data.begin() + sent));
            // The upload is announced between two pauses, before the first byte.
            EXPECT_EQ(std::vector<std::string>(rig.events.begin() + 2, rig.events.begin() + 5),
                      (std::vector<std::string>{"sleep 500", "send " + wireExample("BeginUpload"), "sleep 500"}));
            EXPECT_EQ(rig.handheld->beginUploads(), 1u);
            EXPECT_EQ(rig.count("sleep 30"), first == 0x24 ? 0u : (sent + 127) / 128);
        }
    }
}

TEST(SendFile, EmptyOrUnreadableFiles) {
    ScratchDir dir;
    Rig empty;
    empty.run({"-send", dir.file("empty.bin", {})});
    EXPECT_EQ(empty.screen.text, kPortsOpened + sentText(0x00, dir.name("empty.bin"), 0));
    // The system's reason on the error stream.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-send"}, "tpmidi01: -send needs the name of the file to send\n"},
        {{"-send", ""}, "tpmidi01: -send needs the name of the file to send\n"},
        {{"-send", dir.name("missing")}, "tpmidi01: cannot read " + dir.name("missing") + ": "},
        {{"-send", dir.path}, "tpmidi01: cannot read " + dir.path + ": "}};
    for (const auto& [args, reason] : cases) {
        SCOPED_TRACE(args.back());
        Rig rig;
        EXPECT_EQ(rig.run(args), 0);
        EXPECT_EQ(rig.screen.text, kPortsOpened + "file not found\n\n");
        const std::string err = rig.err.str();
        EXPECT_TRUE(beginsWith(err, reason) && std::count(err.begin(), err.end(), '\n') == 1) << err;
        EXPECT_TRUE(rig.sends().empty());
    }
}

TEST(SendFile, AJobOfOverHalfAMinuteSaysHowLongItTakes) {
    // At the cable's pace: 22 bytes of 320 us for each byte sent, 30 ms before every 128th of
    // a paced upload; a multiboot's 16372 blocks of 28 + 7 bytes and its 109 words of 14 + 14.
    // Where the computer cannot be kept awake, a job of over 5 minutes says so.
    struct Case { const char* name; std::uint8_t first; std::uint32_t size; bool awake; std::string said; };
    const auto line = [](const char* bytes, const char* minutes, bool awake) {
        return std::string("tpmidi01: ") + bytes + " bytes: about " + minutes + " min at the MIDI cable's pace" +
               (awake ? "; the computer is kept awake until the end\n" : "\n");
    };
    const std::string asleep = "tpmidi01: the computer could not be kept awake: keep it from sleeping until the end\n";
    const Case cases[] = {
        {"a 256 KiB Game Boy ROM: 1907 s", 0xC9, 262144, true, line("262144", "32", true)},
        {"the same, the computer not kept awake", 0xC9, 262144, false, line("262144", "32", false) + asleep},
        {"a 32 KiB 2.5 bank: 231 s", 0x24, 32768, false, line("32768", "4", false)},
        {"a GBA ROM, always 256 KiB: 184 s", 0x2E, 1000, true, line("262144", "3", true)},
        {"an 8 KiB 1.6 bank: 59.6 s", 0xAB, 8192, true, line("8192", "1", true)},
        {"12500 bytes of a 1.6 bank, paced: 90.9 s (88.0 s unpaced)", 0xAB, 12500, true, line("12500", "2", true)},
        {"4300 bytes of a 2.5 bank: 30.3 s", 0x24, 4300, true, line("4300", "1", true)},
        {"a 4 KiB 2.5 bank: 28.8 s", 0x24, 4096, false, ""},
        {"a 4 KiB file, paced: 29.8 s", 0x41, 4096, false, ""},
        {"4122 bytes of a file, paced: 30.01 s (29.98 s with a pause fewer, 29.0 s unpaced)", 0x41, 4122, true,
         line("4122", "1", true)},
    };
    // The figure itself: a pause before each 128 bytes begun.
    EXPECT_EQ(uploadTime(4096, true), std::chrono::milliseconds(28835 + 32 * 30));
    ScratchDir dir;
    for (const Case& c : cases) {
        Rig rig;
        rig.awakeGranted = c.awake;
        rig.run({"-send", dir.file("in.bin", pattern(c.size, c.first))});
        EXPECT_EQ(rig.err.str(), c.said) << c.name;
    }
}

TEST(SendFile, TheComputerIsKeptAwakeFromBeforeTheFirstMessageToTheEnd) {
    // The lock is asked for before the upload's first message and given back after its last,
    // however the job ends; a receive's likewise; a mode switch asks for none.
    struct Case { const char* name; std::vector<std::string> args; void (*breakRig)(Rig&); std::string reason; };
    ScratchDir dir;
    const std::string bank = dir.file("bank.tp2", pattern(3000, 0x24)), into = dir.name("into.tp2");
    const Case cases[] = {
        {"an upload", {"-send", bank}, nullptr, "sending " + bank + " to the handheld"},
        {"an upload whose handheld falls silent, then its port goes away", {"-send", bank},
         [](Rig& r) {
             r.link.midi.missingPort = [&r] { return r.sends().size() > 50 ? std::string("gone") : std::string(); };
             r.config.answerPackets = 50;
         },
         "sending " + bank + " to the handheld"},
        {"a receive", {"-receive", into}, [](Rig& r) { r.config.bank = pattern(2000, 0x24); }, "receiving a bank into " + into},
        {"a mode switch", {"-sync"}, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.breakRig) c.breakRig(rig);
        rig.handheld = std::make_unique<Handheld>(rig.config);
        bindHandheld(rig.farEnd, *rig.handheld);
        rig.run(c.args);
        if (c.reason.empty()) {
            EXPECT_TRUE(rig.sleepLocks.empty());
            continue;
        }
        ASSERT_EQ(rig.sleepLocks.size(), 2u);
        EXPECT_EQ(rig.sleepLocks[0].first, "held " + c.reason);
        EXPECT_EQ(rig.sleepLocks[1].first, "given back 7");
        const auto firstSend = std::find_if(rig.events.begin(), rig.events.end(),
                                            [](const std::string& e) { return e.rfind("send ", 0) == 0; });
        EXPECT_LE(rig.sleepLocks[0].second, static_cast<std::size_t>(firstSend - rig.events.begin()));
        EXPECT_EQ(rig.sleepLocks[1].second, rig.events.size() - 1) << "given back before the end";
    }
}
