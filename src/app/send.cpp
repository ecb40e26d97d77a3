#include "app/send.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <initializer_list>
#include <string>

#include "app/awake.h"
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

// The most that is sent of a file: what the handheld's memory holds, the whole of a
// multiboot image.
constexpr std::uint32_t kMostSent = wire::multiboot::kImageSize;

// The kind's first lines: an empty line, what was loaded, an empty line, what to do.
void announce(Console& console, const std::string& loaded, std::initializer_list<const char*> instructions) {
    writeLine(console, "");
    writeLine(console, loaded);
    writeLine(console, "");
    for (const char* line : instructions) writeLine(console, line);
}

// A job shorter than this is waited out without a word of its length; one longer than the
// other outlasts the shortest time a computer may take to fall asleep.
constexpr std::chrono::seconds kWorthTelling{30};
constexpr std::chrono::minutes kSleepsMeanwhile{5};

// How long the job takes at the cable's pace, on the error stream, when that is long enough
// for the user to plan around, and whether the computer stays awake for it.
void tellLength(Console& console, std::uint32_t bytes, std::chrono::milliseconds length, const KeptAwake& awake) {
    if (length <= kWorthTelling) return;
    const long minutes = std::max(1L, std::lround(std::chrono::duration<double>(length).count() / 60));
    writeDiagnostic(console, std::to_string(bytes) + " bytes: about " + std::to_string(minutes) +
                                 " min at the MIDI cable's pace" +
                                 (awake.held() ? "; the computer is kept awake until the end" : ""));
    if (!awake.held() && length > kSleepsMeanwhile) {
        writeDiagnostic(console, "the computer could not be kept awake: keep it from sleeping until the end");
    }
}

}  // namespace

void sendFile(Link& link, Console& console, const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        writeDiagnostic(console, "-send needs the name of the file to send");
        writeLine(console, "file not found");
        return;
    }
    // The image to send, owned here for the run: the file's first bytes, as read.
    Bytes image(kMostSent);
    const long got = readFileBytes(fileName, image.data(), image.size());
    if (got < 0) {
        writeDiagnostic(console, "cannot read " + std::string(fileName) + ": " + fileError());
        writeLine(console, "file not found");
        return;
    }
    const ImageView view{image.data(), static_cast<std::uint32_t>(got)};
    const KeptAwake awake(link, std::string("sending ") + fileName + " to the handheld");
    pause(link, kCommandPauseMs);
    sendCommand(link, Command::BeginUpload);
    pause(link, kCommandPauseMs);

    const std::string name = fileName;
    // An empty file is an "other" file of no bytes: its first byte reads as zero.
    switch (kindOf(view.size > 0 ? view[0] : 0)) {
        case FileKind::GameBoyRom:
            announce(console, "Loaded Game Boy ROM: " + name,
                     {"In the trackpod boot screen,", "press SELECT + START or A or B,", "then press enter here."});
            tellLength(console, view.size, uploadTime(view.size, true), awake);
            uploadPaced(link, console, view);
            break;
        case FileKind::GbaRom:
            announce(console, "Loaded GBA ROM: " + name, {});
            tellLength(console, wire::multiboot::kImageSize, multibootTime(), awake);
            uploadGbaMultiboot(link, console, view);
            break;
        case FileKind::Bank25:
            announce(console, "Loaded trackpod 2.5 bank: " + name, {});
            tellLength(console, view.size, uploadTime(view.size, false), awake);
            uploadBank25(link, console, view);
            break;
        case FileKind::Bank16:
            announce(console, "Loaded trackpod 1.6 bank: " + name,
                     {"In trackpod, select the bank to overwrite,", "press A+B+DOWN,", "Then press enter here."});
            tellLength(console, view.size, uploadTime(view.size, true), awake);
            uploadPaced(link, console, view);
            writeLine(console, "");
            writeLine(console, "In trackpod, press SELECT to save the received bank.");
            break;
        case FileKind::Other:
            writeLine(console, "");
            writeLine(console, "Loaded file: " + name);
            writeLine(console, "Press enter to send.");
            tellLength(console, view.size, uploadTime(view.size, true), awake);
            uploadPaced(link, console, view);
            break;
    }
}
