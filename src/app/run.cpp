#include "app/run.h"

#include <cctype>
#include <cstdint>

#include "app/ports.h"
#include <RtMidi.h>
#include "app/send.h"
#include "link/commands.h"
#include "transfer/receive.h"

void printUsage(ProgramState& st) {
    *st.out << "\nuseage:\ntpmidi01 -parameter filename\n\n"
            << "available parameters:\n\n"
            << "-send filename\n"
            << "-receive filename\n"
            << "-sync\n"
            << "-midi <delay>\n"
            << "-midireceive\n\n"
            << "For <delay> use values between 16 and 50. Default is 26.\n\n"
            << "-MIDI, -MIDIRECEIVE and -SYNC (in caps) sets the respective mode as default\n\n"
            << "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and "
               "trackpod 2.5 files.\n\n";
    st.out->flush();
}

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

namespace {

// The "error" line on the console, and the library's reason on the error stream.
void reportLibraryError(ProgramState& st, const RtMidiError& error) {
    *st.err << "tpmidi01: " << error.getMessage() << '\n';
    st.err->flush();
    writeLine(st, "error");
}

// Runs the branch of the option in args[1], if it is one of the eight.
void dispatchOption(ProgramState& st, const std::vector<std::string>& args) {
    const std::string& option = args[1];
    const char* name = args.size() >= 3 ? args[2].c_str() : nullptr;
    if (option == "-send") sendFile(st, name);
    if (option == "-sync") switchSync(st, false);
    if (option == "-SYNC") switchSync(st, true);
    if (option == "-midi" || option == "-MIDI") {
        st.delay = args.size() == 3 ? parseDelay(args[2]) : kDefaultDelay;
        switchMidi(st, option == "-MIDI");
    }
    if (option == "-getmidi") switchMidiReceive(st, false);
    if (option == "-GETMIDI") switchMidiReceive(st, true);
    if (option == "-receive") receiveFile(st, name);
}

// Everything between creating the MIDI objects and deleting them. A failure of the
// MIDI library at any point ends the run with "error": no option runs on ports that
// failed to open, and no wait goes on for an answer to a message that never left.
void runWithObjects(ProgramState& st, const std::vector<std::string>& args) {
    try {
        if (!choosePort(st, Direction::Input) || !choosePort(st, Direction::Output)) return;
    } catch (const RtMidiError& error) {
        reportLibraryError(st, error);
        return;
    }
    if (args.size() < 2) {
        printUsage(st);
        return;
    }
    try {
        dispatchOption(st, args);
    } catch (const RtMidiError& error) {
        writeLine(st, "");
        reportLibraryError(st, error);
        return;
    }
    writeLine(st, "");
}

}  // namespace

int runProgram(ProgramState& st, const std::vector<std::string>& args) {
    st.dataLength = kFileBufferSize;
    try {
        st.midi.create();
        runWithObjects(st, args);
    } catch (const RtMidiError& error) {
        reportLibraryError(st, error);
    }
    if (!st.closingNote.empty()) *st.err << st.closingNote << std::endl;
    st.midi.destroy();
    return 0;
}
