#include "app/run.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iomanip>
#include <sstream>

#include "app/awake.h"
#include "app/ended.h"
#include "app/loopback.h"
#include "app/modes.h"
#include "app/numbers.h"
#include "app/ports.h"
#include "app/send.h"
#include "transfer/receive.h"

namespace {

using Arguments = std::vector<std::string>;

// What the user asked for: the command line, and the value of TPMIDI01_PORT.
struct Request {
    Arguments args;
    std::string portWanted;
};

// The file name of "-send" and "-receive", or null when none was given.
const char* fileArgument(const Request& r) { return r.args.size() >= 3 ? r.args[2].c_str() : nullptr; }

std::uint8_t delayArgument(const Request& r) {
    return r.args.size() == 3 ? parseDelay(r.args[2]) : wire::kDefaultDelay;
}

Ended printVersion(Link&, Console& console, const Request&) {
    writeLine(console, "tpmidi01 " TPMIDI_VERSION);
    return {};
}

void printUsage(Console& console);

// The usage text, then what it does not name.
Ended printHelp(Link&, Console& console, const Request&) {
    printUsage(console);
    *console.out << "--list (or -l) lists the MIDI ports, marking those that would be opened without\n"
                    "asking, and opens none.\n\n"
                    "Set TPMIDI01_PORT to a part of your interface's port names (for example\n"
                    "TPMIDI01_PORT=um-one) to have its ports opened without being asked.\n\n"
                    "--loopback (or --check) tries the MIDI interface with the program's own messages:\n"
                    "cable its MIDI OUT to its own MIDI IN, with the handheld unplugged. The exit\n"
                    "status is 0 when every message came back intact, 1 otherwise.\n\n";
    console.out->flush();
    return {};
}

Ended listAllPorts(Link& link, Console& console, const Request& r) {
    listPorts(link.midi, console, Direction::Input, r.portWanted);
    listPorts(link.midi, console, Direction::Output, r.portWanted);
    return {};
}

// Why the bank is not in the file named, in words.
std::string sentence(const ReceiveProblem& problem) {
    switch (problem.failure) {
        case ReceiveFailure::NoFileName: return "-receive needs the name of the file to write";
        case ReceiveFailure::CannotReplace: return "cannot replace " + problem.file + ": " + problem.why.message();
        case ReceiveFailure::CannotWrite: return "cannot write " + problem.file + ": " + problem.why.message();
        case ReceiveFailure::MidiDropped:
            return "the MIDI system dropped messages of the bank: the program could not take them in time "
                   "(was it stopped, or the computer busy or asleep?)";
        case ReceiveFailure::HeldUp: {
            std::ostringstream said;
            said << "the program was held up for " << std::fixed << std::setprecision(1)
                 << std::chrono::duration<double>(problem.heldUp).count()
                 << " s while the bank came in (stopped, or the computer asleep): messages may be lost";
            return said.str();
        }
    }
    return {};
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
    for (const ReceiveProblem& problem : r.problems) writeDiagnostic(console, sentence(problem));
    if (!r.requested) return;
    const std::string count = std::to_string(r.receivedCount) + " bytes ";
    if (r.placed || r.writing == r.name) {
        writeDiagnostic(console, count + "saved in " + r.name);
    } else {
        writeDiagnostic(console, count + "received are in " + r.writing + "; " + r.name +
                                     (r.existed ? " was left as it was" : " was not created"));
    }
}

// A receive's lines as it goes: whether the handheld is ready, and each kibibyte saved,
// overwritten by the next.
class ReceiveLines : public Progress {
public:
    explicit ReceiveLines(Console& console) : console_(console) {}
    void moved(std::uint32_t done, std::uint32_t) override {
        tellProgress(console_, done, 0);
        *console_.out << (done / 1024) << "k saved ";
        console_.out->flush();
        *console_.out << '\r';
    }
    void reached(Stage stage) override {
        if (stage == Stage::HandheldReady) {
            writeLine(console_, "Ready to receive data.");
            writeLine(console_, "");
        } else {
            writeLine(console_, "");
            writeLine(console_, "error");
        }
    }
    // Said before anything arrives: Ctrl-C, which the program does not catch, then still
    // leaves a pointer to the bytes.
    void receivingInto(const std::string& writing, const std::string& name) override {
        writeDiagnostic(console_, "receiving into " + writing + ", which becomes " + name +
                                      " once the whole bank has arrived");
    }

private:
    Console& console_;
};

// A receive cut short by the MIDI system ends as every branch does then, and the byte
// count still comes last.
Ended receive(Link& link, Console& console, const Request& r) {
    const KeptAwake awake(link, std::string("receiving a bank into ") + (fileArgument(r) ? fileArgument(r) : "a file"));
    ReceiveLines lines(console);
    const ReceiveOutcome outcome = receiveFile(link, fileArgument(r), lines);
    if (!outcome.requested) {
        writeLine(console, "Please enter a file name.");
        *console.out << "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and "
                        "trackpod 2.5 files.";
    } else if (outcome.midiFailure.empty() && !outcome.placed) {
        writeLine(console, "");
        writeLine(console, "error");
    } else if (outcome.midiFailure.empty()) {
        *console.out << (outcome.receivedCount / 1024) << "k saved... done.";
        writeLine(console, "");
    }
    if (outcome.midiFailure.empty()) return reportReceive(console, outcome), Ended{};
    const Ended ended = cutShort(console, outcome.midiFailure);
    reportReceive(console, outcome);
    return ended;
}

struct Option {
    const char* name;
    // Its line in the usage text, or null: the capital letters are named in a sentence
    // of their own, and the usage text does not name -getmidi, which does what
    // -midireceive does.
    const char* usage;
    // What must be there first: nothing (it answers with nothing plugged in), the MIDI
    // objects, or the ports opened.
    enum class Needs { Nothing, Objects, Ports } needs;
    // How it ended: cut short, or its exit status, which only a check makes anything but 0.
    Ended (*branch)(Link&, Console&, const Request&);
    // Whether a run that cannot do the job (no ports, a MIDI failure) ends with status 1.
    bool statusTells = false;
};

constexpr auto kNothing = Option::Needs::Nothing, kObjects = Option::Needs::Objects, kPorts = Option::Needs::Ports;

// Every option, in the order of the usage text: the usage text and the dispatch both
// read it.
const Option kOptions[] = {
    {"-send", "-send filename", kPorts,
     [](Link& l, Console& c, const Request& r) { return sendFile(l, c, fileArgument(r)), Ended{}; }},
    {"-receive", "-receive filename", kPorts, receive},
    {"-sync", "-sync", kPorts, [](Link& l, Console& c, const Request&) { return switchSync(l, c, false), Ended{}; }},
    {"-SYNC", nullptr, kPorts, [](Link& l, Console& c, const Request&) { return switchSync(l, c, true), Ended{}; }},
    {"-midi", "-midi <delay>", kPorts,
     [](Link& l, Console& c, const Request& r) { return switchMidi(l, c, false, delayArgument(r)), Ended{}; }},
    {"-MIDI", nullptr, kPorts,
     [](Link& l, Console& c, const Request& r) { return switchMidi(l, c, true, delayArgument(r)), Ended{}; }},
    {"-midireceive", "-midireceive", kPorts,
     [](Link& l, Console& c, const Request&) { return switchMidiReceive(l, c, false), Ended{}; }},
    {"-MIDIRECEIVE", nullptr, kPorts,
     [](Link& l, Console& c, const Request&) { return switchMidiReceive(l, c, true), Ended{}; }},
    {"-getmidi", nullptr, kPorts,
     [](Link& l, Console& c, const Request&) { return switchMidiReceive(l, c, false), Ended{}; }},
    {"-GETMIDI", nullptr, kPorts,
     [](Link& l, Console& c, const Request&) { return switchMidiReceive(l, c, true), Ended{}; }},
    {"-l", nullptr, kObjects, listAllPorts},
    {"--list", nullptr, kObjects, listAllPorts},
    {"--loopback", nullptr, kPorts, [](Link& l, Console& c, const Request&) { return checkInterface(l, c); }, true},
    {"--check", nullptr, kPorts, [](Link& l, Console& c, const Request&) { return checkInterface(l, c); }, true},
    {"-h", nullptr, kNothing, printHelp},
    {"--help", nullptr, kNothing, printHelp},
    {"--version", nullptr, kNothing, printVersion},
};

void printUsage(Console& console) {
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

// Everything between creating the MIDI objects and deleting them, and the exit status. A
// failure of the MIDI library at any point ends the run with "error": no option runs on
// ports that failed to open, and no wait goes on for an answer to a message that never left.
int runWithObjects(Link& link, Console& console, const Request& request, const Option* option) {
    const Arguments& args = request.args;
    const int failed = option && option->statusTells ? 1 : 0;
    try {
        if (option && option->needs == kObjects) return option->branch(link, console, request).status;
        if (!choosePort(link.midi, console, Direction::Input, request.portWanted) ||
            !choosePort(link.midi, console, Direction::Output, request.portWanted)) {
            return failed;
        }
    } catch (const MidiFailure& error) {
        reportMidiFailure(console, error.what());
        return failed;
    }
    if (args.size() < 2) {
        printUsage(console);
        return 0;
    }
    Ended ended;
    try {
        if (option) {
            ended = option->branch(link, console, request);
        } else {
            writeDiagnostic(console, "unknown option \"" + args[1] + "\"; run tpmidi01 --help for the options");
        }
    } catch (const MidiFailure& error) {
        cutShort(console, error.what());
        return failed;
    }
    if (ended.cutShort) return failed;
    writeLine(console, "");
    return ended.status;
}

}  // namespace

void reportMidiFailure(Console& console, const std::string& reason) {
    writeDiagnostic(console, reason);
    writeLine(console, "error");
}

Ended cutShort(Console& console, const std::string& reason) {
    writeLine(console, "");
    reportMidiFailure(console, reason);
    return {0, true};
}

std::uint8_t parseDelay(const std::string& text) {
    const TypedInteger typed = readTypedInteger(text, 2147483648ULL);
    const std::int64_t limit = typed.negative ? 2147483648LL : 2147483647LL;
    const std::int64_t magnitude = std::min<std::int64_t>(static_cast<std::int64_t>(typed.magnitude), limit);
    const std::int64_t value = typed.negative ? -magnitude : magnitude;
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) & 0xFF);
}

std::vector<std::string> optionNames() {
    std::vector<std::string> names;
    for (const Option& option : kOptions) names.push_back(option.name);
    return names;
}

namespace {

// What the user is told while the handheld keeps an answer waiting.
class WaitingTold : public LongWait {
public:
    explicit WaitingTold(Console& console) : console_(console) {}
    void waitingLong() override {
        writeDiagnostic(console_, "waiting for the handheld (is trackpod on, in the right mode, and the cable plugged "
                                  "in both ways?); " + console_.stopKey + " ends");
    }

private:
    Console& console_;
};

// The run, to its last line.
int runToItsEnd(Link& link, Console& console, const std::vector<std::string>& args, const std::string& portWanted) {
    const Request request{args, portWanted};
    const Option* option = findOption(args);
    if (option && option->needs == kNothing) return option->branch(link, console, request).status;
    WaitingTold waiting(console);
    link.hooks.longWait = &waiting;
    int status = option && option->statusTells ? 1 : 0;
    try {
        link.midi.create();
        status = runWithObjects(link, console, request, option);
    } catch (const MidiFailure& error) {
        reportMidiFailure(console, error.what());
    }
    link.midi.destroy();
    link.hooks.longWait = nullptr;  // the teller goes with this scope
    return status;
}

}  // namespace

int runProgram(Link& link, Console& console, const std::vector<std::string>& args, const std::string& portWanted,
               bool ownWindow) {
    const int status = runToItsEnd(link, console, args, portWanted);
    if (ownWindow) {
        // Else the window would close before its last words could be read.
        writeLine(console, "Press Enter to close this window.");
        waitForEnter(console);
    }
    return status;
}
