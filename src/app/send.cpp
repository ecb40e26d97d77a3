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

// An upload's progress line, overwritten by the next: "k of n sent".
class UploadLine : public Progress {
public:
    explicit UploadLine(Console& console) : console_(console) {}
    void moved(std::uint32_t done, std::uint32_t total) override {
        tellProgress(console_, done, total);
        *console_.out << (done >> 10) << "k of " << (total >> 10) << "k sent";
        console_.out->flush();
        *console_.out << '\r';
    }

private:
    Console& console_;
};

// A multiboot's lines: "\n\n\r" and a line begun with "\r" put the cursor back at the
// line's start on consoles whose line feed only moves down, where the progress is drawn.
class MultibootLines : public Progress {
public:
    explicit MultibootLines(Console& console) : console_(console) {}
    void moved(std::uint32_t done, std::uint32_t total) override {
        tellProgress(console_, done, total);
        *console_.out << '\r' << (done >> 10) << "k of " << (total >> 10) << "k sent";
        console_.out->flush();
    }
    void reached(Stage) override {
        *console_.out << "Connection OK, logo should re-appear now.\n\n\r"
                      << "Sending ROM (press ctrl-c to cancel):\n\n\r";
        console_.out->flush();
    }

private:
    Console& console_;
};

// Once the user has done what the lines before said, the bytes; the last line of progress
// kept. A paced upload's stays open for what the kind says next.
void uploadAfterEnter(Link& link, Console& console, ImageView view, bool paced) {
    waitForEnter(console);
    UploadLine line(console);
    paced ? uploadPaced(link, view, line) : uploadBank25(link, view, line);
    tellProgress(console, view.size, view.size);
    const std::uint32_t k = view.size >> 10;
    *console.out << k << "k of " << k << "k sent";
    if (paced) {
        *console.out << "... done.";
    } else {
        writeLine(console, "");
        writeLine(console, "done");
    }
}

void bootGba(Link& link, Console& console, ImageView view) {
    *console.out << "Start GBA and press START + SELECT, so that the Nintendo logo disappears.\n\n\r";
    console.out->flush();
    MultibootLines lines(console);
    if (uploadGbaMultiboot(link, view, lines) == MultibootEnd::NeverConfirmed) {
        // The console never confirmed the image: do not tell the user it worked.
        writeLine(console, "");
        writeLine(console, "error");
        return;
    }
    *console.out << "\nTransfer complete.\n\n\r"
                 << "The trackpod logo should appear now.\n\n\r";
    writeLine(console, "Keep B pressed and press START + SELECT to install the update.");
    writeLine(console, "After a successful update, trackpod will re-start.");
    writeLine(console, "");
}

// What the file's kind says, then its upload.
void sendByKind(Link& link, Console& console, ImageView view, const std::string& name, const KeptAwake& awake) {
    // An empty file is an "other" file of no bytes: its first byte reads as zero.
    switch (kindOf(view.size > 0 ? view[0] : 0)) {
        case FileKind::GameBoyRom:
            announce(console, "Loaded Game Boy ROM: " + name,
                     {"In the trackpod boot screen,", "press SELECT + START or A or B,", "then press enter here."});
            tellLength(console, view.size, uploadTime(view.size, true), awake);
            uploadAfterEnter(link, console, view, true);
            break;
        case FileKind::GbaRom:
            announce(console, "Loaded GBA ROM: " + name, {});
            tellLength(console, wire::multiboot::kImageSize, multibootTime(), awake);
            bootGba(link, console, view);
            break;
        case FileKind::Bank25:
            announce(console, "Loaded trackpod 2.5 bank: " + name, {});
            tellLength(console, view.size, uploadTime(view.size, false), awake);
            for (const char* line : {"In trackpod, select the bank to overwrite,", "move the cursor to the very right and",
                                     "press A+B+DOWN so that a status bar appears on the bottom.", "Then press enter here."}) {
                writeLine(console, line);
            }
            uploadAfterEnter(link, console, view, false);
            break;
        case FileKind::Bank16:
            announce(console, "Loaded trackpod 1.6 bank: " + name,
                     {"In trackpod, select the bank to overwrite,", "press A+B+DOWN,", "Then press enter here."});
            tellLength(console, view.size, uploadTime(view.size, true), awake);
            uploadAfterEnter(link, console, view, true);
            writeLine(console, "");
            writeLine(console, "In trackpod, press SELECT to save the received bank.");
            break;
        case FileKind::Other:
            writeLine(console, "");
            writeLine(console, "Loaded file: " + name);
            writeLine(console, "Press enter to send.");
            tellLength(console, view.size, uploadTime(view.size, true), awake);
            uploadAfterEnter(link, console, view, true);
            break;
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
    std::error_code why;
    const long got = readFileBytes(fileName, image.data(), image.size(), why);
    if (got < 0) {
        writeDiagnostic(console, "cannot read " + std::string(fileName) + ": " + why.message());
        writeLine(console, "file not found");
        return;
    }
    const ImageView view{image.data(), static_cast<std::uint32_t>(got)};
    const KeptAwake awake(link, std::string("sending ") + fileName + " to the handheld");
    pause(link, kCommandPauseMs);
    sendCommand(link, Command::BeginUpload);
    pause(link, kCommandPauseMs);
    sendByKind(link, console, view, fileName, awake);
}
