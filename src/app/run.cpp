#include "app/run.h"

#include <algorithm>
#include <cstdint>

#include "app/modes.h"
#include "app/numbers.h"
#include "app/ports.h"
#include "app/send.h"
#include "transfer/receive.h"

namespace {

using Arguments = std::vector<std::string>;

// A branch that has already said how the MIDI system failed it.
struct EndedByMidiFailure {};

// The file name of "-send" and "-receive", or null when none was given.
const char* fileArgument(const Arguments& args) { return args.size() >= 3 ? args[2].c_str() : nullptr; }

std::uint8_t delayArgument(const Arguments& args) {
    return args.size() == 3 ? parseDelay(args[2]) : wire::kDefaultDelay;
}

void printVersion(Link&, Console& console, const Arguments&) { writeLine(console, "tpmidi01 " TPMIDI_VERSION); }

void printUsage(Link&, Console& console, const Arguments& = {});

// The run's end after the MIDI system failed: "error" on the console, the reason on the
// error stream.
void reportMidiFailure(Console& console, const std::string& reason) {
    writeDiagnostic(console, reason);
    writeLine(console, "error");
}

// What the error stream is told as a receive ends: each hole, why the bank is not
// whole, and how many bytes are where (the console counts whole kibibytes only).
void reportReceive(Console& console, const ReceiveOutcome& r) {
    for (const Hole& h : r.holes) {
        const int lost = (h.came - h.expected) & wire::kNumberMask;
        writeDiagnostic(console, "the bank has a hole after byte " + std::to_string(h.after) + ": at least " +
                                     std::to_string(lost) + (lost == 1 ? " message" : " messages") + " lost (number " +
                                     std::to_string(h.expected) + ", then " + std::to_string(h.came) + ")");
    }
    for (const std::string& reason : r.reasons) writeDiagnostic(console, reason);
    if (!r.requested) return;
    const std::string count = std::to_string(r.receivedCount) + " bytes ";
    if (r.placed || r.writing == r.name) {
        writeDiagnostic(console, count + "saved in " + r.name);
    } else {
        writeDiagnostic(console, count + "received are in " + r.writing + "; " + r.name +
                                     (r.existed ? " was left as it was" : " was not created"));
    }
}

// A receive cut short by the MIDI system ends as every branch does then, and the byte
// count still comes last.
void receive(Link& link, Console& console, const Arguments& args) {
    const ReceiveOutcome outcome = receiveFile(link, console, fileArgument(args));
    if (outcome.midiFailure.empty()) return reportReceive(console, outcome);
    writeLine(console, "");
    reportMidiFailure(console, outcome.midiFailure);
    reportReceive(console, outcome);
    throw EndedByMidiFailure{};
}

struct Option {
    const char* name;
    // Its line in the usage text, or null: the capital letters are named in a sentence
    // of their own, and the usage text does not name -getmidi, which does what
    // -midireceive does.
    const char* usage;
    // False for what answers before any MIDI object is made, with nothing plugged in.
    bool midi;
    void (*branch)(Link&, Console&, const Arguments&);
};

// Every option, in the order of the usage text: the usage text and the dispatch both
// read it.
const Option kOptions[] = {
    {"-send", "-send filename", true, [](Link& l, Console& c, const Arguments& a) { sendFile(l, c, fileArgument(a)); }},
    {"-receive", "-receive filename", true, receive},
    {"-sync", "-sync", true, [](Link& l, Console& c, const Arguments&) { switchSync(l, c, false); }},
    {"-SYNC", nullptr, true, [](Link& l, Console& c, const Arguments&) { switchSync(l, c, true); }},
    {"-midi", "-midi <delay>", true,
     [](Link& l, Console& c, const Arguments& a) { switchMidi(l, c, false, delayArgument(a)); }},
    {"-MIDI", nullptr, true, [](Link& l, Console& c, const Arguments& a) { switchMidi(l, c, true, delayArgument(a)); }},
    {"-midireceive", "-midireceive", true, [](Link& l, Console& c, const Arguments&) { switchMidiReceive(l, c, false); }},
    {"-MIDIRECEIVE", nullptr, true, [](Link& l, Console& c, const Arguments&) { switchMidiReceive(l, c, true); }},
    {"-getmidi", nullptr, true, [](Link& l, Console& c, const Arguments&) { switchMidiReceive(l, c, false); }},
    {"-GETMIDI", nullptr, true, [](Link& l, Console& c, const Arguments&) { switchMidiReceive(l, c, true); }},
    {"-h", nullptr, false, printUsage},
    {"--help", nullptr, false, printUsage},
    {"--version", nullptr, false, printVersion},
};

void printUsage(Link&, Console& console, const Arguments&) {
    *console.out << "\nuseage:\ntpmidi01 -parameter filename\n\n"
            << "available parameters:\n\n";
    for (const Option& option : kOptions) {
        if (option.usage) *console.out << option.usage << '\n';
    }
    *console.out << "\nFor <delay> use values between 16 and 50. Default is 26.\n\n"
            << "-MIDI, -MIDIRECEIVE and -SYNC (in caps) sets the respective mode as default\n\n"
            << "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and "
               "trackpod 2.5 files.\n\n";
    console.out->flush();
}

const Option* findOption(const Arguments& args) {
    if (args.size() < 2) return nullptr;
    for (const Option& option : kOptions) {
        if (args[1] == option.name) return &option;
    }
    return nullptr;
}

// Everything between creating the MIDI objects and deleting them. A failure of the
// MIDI library at any point ends the run with "error": no option runs on ports that
// failed to open, and no wait goes on for an answer to a message that never left.
void runWithObjects(Link& link, Console& console, const Arguments& args, const Option* option) {
    try {
        if (!choosePort(link.midi, console, Direction::Input) || !choosePort(link.midi, console, Direction::Output)) {
            return;
        }
    } catch (const MidiFailure& error) {
        reportMidiFailure(console, error.what());
        return;
    }
    if (args.size() < 2) {
        printUsage(link, console);
        return;
    }
    try {
        if (option) {
            option->branch(link, console, args);
        } else {
            writeDiagnostic(console, "unknown option \"" + args[1] + "\"; run tpmidi01 --help for the options");
        }
    } catch (const MidiFailure& error) {
        writeLine(console, "");
        reportMidiFailure(console, error.what());
        return;
    } catch (const EndedByMidiFailure&) {
        return;
    }
    writeLine(console, "");
}

}  // namespace

std::uint8_t parseDelay(const std::string& text) {
    const TypedInteger typed = readTypedInteger(text, 2147483648ULL);
    const std::int64_t limit = typed.negative ? 2147483648LL : 2147483647LL;
    const std::int64_t magnitude = std::min<std::int64_t>(static_cast<std::int64_t>(typed.magnitude), limit);
    const std::int64_t value = typed.negative ? -magnitude : magnitude;
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) & 0xFF);
}

int runProgram(Link& link, Console& console, const std::vector<std::string>& args) {
    const Option* option = findOption(args);
    if (option && !option->midi) {
        option->branch(link, console, args);
        return 0;
    }
    link.longWait = [&console] {
        writeDiagnostic(console, "waiting for the handheld (is trackpod on, in the right mode, and the cable plugged "
                                 "in both ways?); Ctrl-C ends");
    };
    try {
        link.midi.create();
        runWithObjects(link, console, args, option);
    } catch (const MidiFailure& error) {
        reportMidiFailure(console, error.what());
    }
    link.midi.destroy();
    return 0;
}
