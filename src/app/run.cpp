#include "app/run.h"

#include <cctype>
#include <cstdint>

#include "app/ports.h"
#include "app/send.h"
#include "link/commands.h"
#include "transfer/receive.h"

namespace {

using Arguments = std::vector<std::string>;

// The file name of "-send" and "-receive", or null when none was given.
const char* fileArgument(const Arguments& args) { return args.size() >= 3 ? args[2].c_str() : nullptr; }

void switchMidiWithDelay(ProgramState& st, const Arguments& args, bool permanent) {
    st.delay = args.size() == 3 ? parseDelay(args[2]) : wire::kDefaultDelay;
    switchMidi(st, permanent);
}

void printVersion(ProgramState& st, const Arguments&) { writeLine(st, "tpmidi01 " TPMIDI_VERSION); }

void printUsage(ProgramState& st, const Arguments& = {});

struct Option {
    const char* name;
    // Its line in the usage text, or null: the capital letters are named in a sentence
    // of their own, and the usage text does not name -getmidi, which does what
    // -midireceive does.
    const char* usage;
    // False for what answers before any MIDI object is made, with nothing plugged in.
    bool midi;
    void (*branch)(ProgramState&, const Arguments&);
};

// Every option, in the order of the usage text: the usage text and the dispatch both
// read it.
const Option kOptions[] = {
    {"-send", "-send filename", true, [](ProgramState& st, const Arguments& a) { sendFile(st, fileArgument(a)); }},
    {"-receive", "-receive filename", true,
     [](ProgramState& st, const Arguments& a) { receiveFile(st, fileArgument(a)); }},
    {"-sync", "-sync", true, [](ProgramState& st, const Arguments&) { switchSync(st, false); }},
    {"-SYNC", nullptr, true, [](ProgramState& st, const Arguments&) { switchSync(st, true); }},
    {"-midi", "-midi <delay>", true, [](ProgramState& st, const Arguments& a) { switchMidiWithDelay(st, a, false); }},
    {"-MIDI", nullptr, true, [](ProgramState& st, const Arguments& a) { switchMidiWithDelay(st, a, true); }},
    {"-midireceive", "-midireceive", true, [](ProgramState& st, const Arguments&) { switchMidiReceive(st, false); }},
    {"-MIDIRECEIVE", nullptr, true, [](ProgramState& st, const Arguments&) { switchMidiReceive(st, true); }},
    {"-getmidi", nullptr, true, [](ProgramState& st, const Arguments&) { switchMidiReceive(st, false); }},
    {"-GETMIDI", nullptr, true, [](ProgramState& st, const Arguments&) { switchMidiReceive(st, true); }},
    {"-h", nullptr, false, printUsage},
    {"--help", nullptr, false, printUsage},
    {"--version", nullptr, false, printVersion},
};

void printUsage(ProgramState& st, const Arguments&) {
    *st.out << "\nuseage:\ntpmidi01 -parameter filename\n\n"
            << "available parameters:\n\n";
    for (const Option& option : kOptions) {
        if (option.usage) *st.out << option.usage << '\n';
    }
    *st.out << "\nFor <delay> use values between 16 and 50. Default is 26.\n\n"
            << "-MIDI, -MIDIRECEIVE and -SYNC (in caps) sets the respective mode as default\n\n"
            << "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and "
               "trackpod 2.5 files.\n\n";
    st.out->flush();
}

const Option* findOption(const Arguments& args) {
    if (args.size() < 2) return nullptr;
    for (const Option& option : kOptions) {
        if (args[1] == option.name) return &option;
    }
    return nullptr;
}

// The "error" line on the console, and the library's reason on the error stream.
void reportLibraryError(ProgramState& st, const MidiFailure& error) {
    *st.err << "tpmidi01: " << error.what() << '\n';
    st.err->flush();
    writeLine(st, "error");
}

// Everything between creating the MIDI objects and deleting them. A failure of the
// MIDI library at any point ends the run with "error": no option runs on ports that
// failed to open, and no wait goes on for an answer to a message that never left.
void runWithObjects(ProgramState& st, const Arguments& args, const Option* option) {
    try {
        if (!choosePort(st, Direction::Input) || !choosePort(st, Direction::Output)) return;
    } catch (const MidiFailure& error) {
        reportLibraryError(st, error);
        return;
    }
    if (args.size() < 2) {
        printUsage(st);
        return;
    }
    try {
        if (option) {
            option->branch(st, args);
        } else {
            *st.err << "tpmidi01: unknown option \"" << args[1] << "\"; run tpmidi01 --help for the options\n";
        }
    } catch (const MidiFailure& error) {
        writeLine(st, "");
        reportLibraryError(st, error);
        return;
    }
    writeLine(st, "");
}

}  // namespace

std::uint8_t parseDelay(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    if (negative) value = -value;
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) & 0xFF);
}

int runProgram(ProgramState& st, const std::vector<std::string>& args) {
    st.dataLength = kFileBufferSize;
    const Option* option = findOption(args);
    if (option && !option->midi) {
        option->branch(st, args);
        return 0;
    }
    try {
        st.midi.create();
        runWithObjects(st, args, option);
    } catch (const MidiFailure& error) {
        reportLibraryError(st, error);
    }
    if (!st.closingNote.empty()) *st.err << st.closingNote << std::endl;
    st.midi.destroy();
    return 0;
}
