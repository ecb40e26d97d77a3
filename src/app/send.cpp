#include "app/send.h"

#include <algorithm>
#include <string>

#include "link/commands.h"
#include "platform/platform.h"
#include "transfer/multiboot.h"
#include "transfer/upload.h"

namespace {

// A file's kind is told by its first byte alone, whatever its name.
enum class FileKind { GameBoyRom, GbaRom, Bank25, Bank16, Other };
constexpr std::uint8_t kFirstOfGameBoyRom = 0xC9;
constexpr std::uint8_t kFirstOfGbaRom = 0x2E;
constexpr std::uint8_t kFirstOfBank25 = 0x24;
constexpr std::uint8_t kFirstOfBank16 = 0xAB;

FileKind kindOf(std::uint8_t firstByte) {
    switch (firstByte) {
        case kFirstOfGameBoyRom: return FileKind::GameBoyRom;
        case kFirstOfGbaRom: return FileKind::GbaRom;
        case kFirstOfBank25: return FileKind::Bank25;
        case kFirstOfBank16: return FileKind::Bank16;
        default: return FileKind::Other;
    }
}

// Reads at most 262144 bytes of the file into the file buffer and sets the data
// length. False when there is no name or the file cannot be opened or read.
bool loadFile(ProgramState& st, const char* fileName) {
    if (fileName == nullptr) return false;
    // Read into a scratch buffer first: a file that opens but cannot be read (a
    // directory, an I/O error) must leave the file buffer as it was.
    Bytes data(kFileBufferSize);
    const long got = readFileBytes(fileName, data.data(), data.size());
    if (got < 0) return false;
    std::copy(data.begin(), data.begin() + got, st.fileBuffer.begin());
    st.dataLength = static_cast<std::uint32_t>(got);
    return true;
}

}  // namespace

void sendFile(ProgramState& st, const char* fileName) {
    if (!loadFile(st, fileName)) {
        if (fileName == nullptr || *fileName == '\0') {
            *st.err << "tpmidi01: -send needs the name of the file to send\n";
        } else {
            *st.err << "tpmidi01: cannot read " << fileName << ": " << fileError() << '\n';
        }
        writeLine(st, "file not found");
        return;
    }
    pause(st, kCommandPauseMs);
    sendCommand(st, Command::BeginUpload);
    pause(st, kCommandPauseMs);

    const std::string name = fileName;
    switch (kindOf(st.fileBuffer[0])) {
        case FileKind::GameBoyRom:
            writeLine(st, "");
            writeLine(st, "Loaded Game Boy ROM: " + name);
            writeLine(st, "");
            writeLine(st, "In the trackpod boot screen,");
            writeLine(st, "press SELECT + START or A or B,");
            writeLine(st, "then press enter here.");
            uploadPaced(st);
            break;
        case FileKind::GbaRom:
            writeLine(st, "");
            writeLine(st, "Loaded GBA ROM: " + name);
            writeLine(st, "");
            uploadGbaMultiboot(st);
            break;
        case FileKind::Bank25:
            writeLine(st, "");
            writeLine(st, "Loaded trackpod 2.5 bank: " + name);
            writeLine(st, "");
            uploadBank25(st);
            break;
        case FileKind::Bank16:
            writeLine(st, "");
            writeLine(st, "Loaded trackpod 1.6 bank: " + name);
            writeLine(st, "");
            writeLine(st, "In trackpod, select the bank to overwrite,");
            writeLine(st, "press A+B+DOWN,");
            writeLine(st, "Then press enter here.");
            uploadPaced(st);
            writeLine(st, "");
            writeLine(st, "In trackpod, press SELECT to save the received bank.");
            break;
        case FileKind::Other:
            writeLine(st, "");
            writeLine(st, "Loaded file: " + name);
            writeLine(st, "Press enter to send.");
            uploadPaced(st);
            break;
    }
}
