#include "transfer/upload.h"

namespace {

// Before every 128th byte of a paced upload: the handheld stores what it was sent.
constexpr unsigned kPacedBlock = 128;
constexpr unsigned kPacedPauseMs = 30;

}  // namespace

void uploadBank25(Link& link, ImageView image, Progress& progress) {
    for (std::uint32_t i = 0; i < image.size; ++i) {
        exchangeByte(link, image[i]);
        if (i % 1024 == 0) progress.moved(i, image.size);
    }
}

void uploadPaced(Link& link, ImageView image, Progress& progress) {
    for (std::uint32_t i = 0; i < image.size; ++i) {
        if (i % kPacedBlock == 0) pause(link, kPacedPauseMs);
        exchangeByte(link, image[i]);
        if (i % 1024 == 0) progress.moved(i, image.size);
    }
}

std::chrono::milliseconds uploadTime(std::uint32_t bytes, bool paced) {
    const auto wire = wire::kByteTime * (2 * wire::kBytePacketLength) * bytes;
    const auto pauses = std::chrono::milliseconds(paced ? kPacedPauseMs : 0) * ((bytes + kPacedBlock - 1) / kPacedBlock);
    return std::chrono::duration_cast<std::chrono::milliseconds>(wire) + pauses;
}
