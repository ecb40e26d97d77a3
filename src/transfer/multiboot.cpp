#include "transfer/multiboot.h"

#include <string>

using namespace wire::multiboot;

std::uint32_t multibootCrcStep(std::uint32_t crc, std::uint32_t word) {
    for (int i = 0; i < 32; ++i) {
        // The polynomial, shifted up one: it is folded in before the shift.
        if (((crc ^ (word >> i)) & 1u) != 0) crc ^= kCrcPolynomial << 1;
        crc >>= 1;
    }
    return crc;
}

std::uint32_t multibootSeed(std::uint8_t clientByte) {
    return kSeedBase | (std::uint32_t(clientByte) << 8);
}

namespace {

// Between tries while the console is not waiting for a transfer, in milliseconds.
constexpr unsigned kWaitPauseMs = 63;
// Further 0x65 queries allowed after the first: the console confirms within a few.
constexpr std::uint32_t kEndBudget = 1024;

// The console always takes 256 KiB: the image's bytes, then zeros.
std::uint32_t byteAt(ImageView image, std::uint32_t offset) { return offset < image.size ? image[offset] : 0; }

// Little-endian, as the console reads it.
std::uint32_t wordAt(ImageView image, std::uint32_t offset) {
    return byteAt(image, offset) | (byteAt(image, offset + 1) << 8) | (byteAt(image, offset + 2) << 16) |
           (byteAt(image, offset + 3) << 24);
}

// What the handshake settles: the body's encryption seed and the value folded into the
// checksum last.
struct MultibootKeys {
    std::uint32_t seed, finalValue;
};

// Waits for the console, sends the header in the clear and agrees on the keys.
MultibootKeys connect(Link& link, ImageView image, Progress& progress) {
    do {
        pause(link, kWaitPauseMs);
    } while (exchangeWord(link, kWaitCommand) != kWaitAnswer);
    exchangeWord(link, kWaitCommand);
    progress.reached(Stage::ConsoleTakesImage);

    exchangeWord(link, kHeaderCommand);
    for (std::uint32_t k = 0; k < kHeaderSize / 2; ++k) {
        exchangeWord(link, byteAt(image, 2 * k) | (byteAt(image, 2 * k + 1) << 8));
    }
    exchangeWord(link, kHeaderDone);
    exchangeWord(link, kWaitCommand);
    exchangeWord(link, kClientQuery);
    const auto cc = static_cast<std::uint8_t>(exchangeWord(link, kClientQuery) >> 16);
    const std::uint32_t hh = multibootHandshake(cc);
    exchangeWord(link, kHandshakeCommand + hh);
    const std::uint32_t rr = (exchangeWord(link, (kImageSize - kLengthOffset) / 4) >> 16) & 0xFF;
    return {multibootSeed(cc), kFinalBase + (rr << 8) + hh};
}

// Sends the body encrypted, four words a block, with progress; returns its checksum.
std::uint32_t sendBody(Link& link, ImageView image, MultibootKeys keys, Progress& progress) {
    std::uint32_t wordsSinceProgress = 0, kilobytesReported = 0;
    std::uint32_t crc = kCrcStart, seed = keys.seed;
    std::uint32_t block[4] = {0, 0, 0, 0};
    for (std::uint32_t offset = kHeaderSize; offset < kImageSize; offset += 4) {
        if (++wordsSinceProgress == 256) {
            wordsSinceProgress = 0;
            ++kilobytesReported;
            progress.moved(kilobytesReported * 1024, kImageSize);
        }
        const std::uint32_t w = wordAt(image, offset);
        crc = multibootCrcStep(crc, w);
        seed = advanceMultibootSeed(seed);
        const std::uint32_t slot = (offset / 4) % 4;
        block[slot] = encryptMultibootWord(w, seed, offset);
        if (slot == 3) sendBlock(link, block[0], block[1], block[2], block[3]);
    }
    progress.moved(kImageSize, kImageSize);
    return multibootCrcStep(crc, keys.finalValue);
}

// Asks until the console says it has the whole image, then gives the checksum.
MultibootEnd finish(Link& link, std::uint32_t crc) {
    bool accepted = exchangeWord(link, kEndQuery) == kEndReady;
    for (std::uint32_t budget = kEndBudget; !accepted && budget > 0; --budget) {
        accepted = exchangeWord(link, kEndQuery) == kEndReady;
    }
    exchangeWord(link, kChecksumCommand);
    exchangeWord(link, crc);
    exchangeWord(link, kClosingWord);
    return accepted ? MultibootEnd::ImageTaken : MultibootEnd::NeverConfirmed;
}

}  // namespace

std::chrono::milliseconds multibootTime() {
    // Around the header: two waits, its command and end, a wait, two client queries, the
    // handshake, the length; then the end query, the checksum's two and the closing word.
    constexpr std::uint32_t kOtherWords = 13;
    constexpr std::uint32_t words = kHeaderSize / 2 + kOtherWords, blocks = (kImageSize - kHeaderSize) / 16;
    const auto wire = ::wire::kByteTime * (words * 2 * ::wire::kWordPacketLength +
                                         blocks * (::wire::kBlockPacketLength + ::wire::kBlockAckLength));
    return std::chrono::duration_cast<std::chrono::milliseconds>(wire);
}

MultibootEnd uploadGbaMultiboot(Link& link, ImageView image, Progress& progress) {
    const MultibootKeys keys = connect(link, image, progress);
    return finish(link, sendBody(link, image, keys, progress));
}
