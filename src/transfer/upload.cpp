#include "transfer/upload.h"

namespace {

// Before every 128th byte of a paced upload: the handheld stores what it was sent.
constexpr unsigned kPacedBlock = 128;
constexpr unsigned kPacedPauseMs = 30;

void writeProgress(Console& console, std::uint32_t index, std::uint32_t size) {
    *console.out << (index >> 10) << "k of " << (size >> 10) << "k sent";
    console.out->flush();
    *console.out << '\r';
}

}  // namespace

void uploadBank25(Link& link, Console& console, ImageView image) {
    writeLine(console, "In trackpod, select the bank to overwrite,");
    writeLine(console, "move the cursor to the very right and");
    writeLine(console, "press A+B+DOWN so that a status bar appears on the bottom.");
    writeLine(console, "Then press enter here.");
    waitForEnter(console);
    for (std::uint32_t i = 0; i < image.size; ++i) {
        exchangeByte(link, image[i]);
        if (i % 1024 == 0) writeProgress(console, i, image.size);
    }
    const std::uint32_t k = image.size >> 10;
    *console.out << k << "k of " << k << "k sent";
    writeLine(console, "");
    writeLine(console, "done");
}

void uploadPaced(Link& link, Console& console, ImageView image) {
    waitForEnter(console);
    for (std::uint32_t i = 0; i < image.size; ++i) {
        if (i % kPacedBlock == 0) pause(link, kPacedPauseMs);
        exchangeByte(link, image[i]);
        if (i % 1024 == 0) writeProgress(console, i, image.size);
    }
    const std::uint32_t k = image.size >> 10;
    *console.out << k << "k of " << k << "k sent... done.";
}

std::chrono::milliseconds uploadTime(std::uint32_t bytes, bool paced) {
    const auto wire = wire::kByteTime * (2 * wire::kBytePacketLength) * bytes;
    const auto pauses = std::chrono::milliseconds(paced ? kPacedPauseMs : 0) * ((bytes + kPacedBlock - 1) / kPacedBlock);
    return std::chrono::duration_cast<std::chrono::milliseconds>(wire) + pauses;
}
