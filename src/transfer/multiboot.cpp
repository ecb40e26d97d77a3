#include "transfer/multiboot.h"

#include "link/link.h"

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

std::uint32_t wordAt(const Bytes& image, std::uint32_t offset) {
    return std::uint32_t(image[offset]) | (std::uint32_t(image[offset + 1]) << 8) |
           (std::uint32_t(image[offset + 2]) << 16) | (std::uint32_t(image[offset + 3]) << 24);
}

void writeProgressLine(ProgramState& st, const std::string& text) {
    *st.out << '\r' << text;
    st.out->flush();
}

}  // namespace

void uploadGbaMultiboot(ProgramState& st) {
    st.dataLength = kImageSize;
    std::uint32_t wordsSinceProgress = 0;
    std::uint32_t kilobytesReported = 0;

    // "\n\n\r": the carriage return puts the cursor back at the line's start on
    // consoles whose line feed only moves down, where the progress lines are drawn.
    *st.out << "Start GBA and press START + SELECT, so that the Nintendo logo disappears.\n\n\r";
    st.out->flush();
    do {
        pause(st, kWaitPauseMs);
    } while (exchangeWord(st, kWaitCommand) != kWaitAnswer);
    exchangeWord(st, kWaitCommand);
    *st.out << "Connection OK, logo should re-appear now.\n\n\r"
            << "Sending ROM (press ctrl-c to cancel):\n\n\r";
    st.out->flush();

    exchangeWord(st, kHeaderCommand);
    for (std::uint32_t k = 0; k < kHeaderSize / 2; ++k) {
        exchangeWord(st, std::uint32_t(st.fileBuffer[2 * k]) |
                             (std::uint32_t(st.fileBuffer[2 * k + 1]) << 8));
    }
    exchangeWord(st, kHeaderDone);
    exchangeWord(st, kWaitCommand);
    exchangeWord(st, kClientQuery);
    const std::uint32_t r = exchangeWord(st, kClientQuery);

    const auto cc = static_cast<std::uint8_t>(r >> 16);
    std::uint32_t seed = multibootSeed(cc);
    const std::uint32_t hh = multibootHandshake(cc);
    exchangeWord(st, kHandshakeCommand + hh);
    const std::uint32_t r2 = exchangeWord(st, (st.dataLength - kLengthOffset) / 4);
    const std::uint32_t rr = (r2 >> 16) & 0xFF;
    const std::uint32_t f = kFinalBase + (rr << 8) + hh;

    std::uint32_t crc = kCrcStart;
    std::uint32_t block[4] = {0, 0, 0, 0};
    for (std::uint32_t offset = kHeaderSize; offset < st.dataLength; offset += 4) {
        if (++wordsSinceProgress == 256) {
            wordsSinceProgress = 0;
            ++kilobytesReported;
            writeProgressLine(st, std::to_string(kilobytesReported) + "k of 256k sent");
        }
        const std::uint32_t w = wordAt(st.fileBuffer, offset);
        crc = multibootCrcStep(crc, w);
        seed = advanceMultibootSeed(seed);
        const std::uint32_t slot = (offset / 4) % 4;
        block[slot] = encryptMultibootWord(w, seed, offset);
        if (slot == 3) sendBlock(st, block[0], block[1], block[2], block[3]);
    }
    writeProgressLine(st, "256k of 256k sent");
    crc = multibootCrcStep(crc, f);

    bool accepted = exchangeWord(st, kEndQuery) == kEndReady;
    for (std::uint32_t budget = kEndBudget; !accepted && budget > 0; --budget) {
        accepted = exchangeWord(st, kEndQuery) == kEndReady;
    }
    exchangeWord(st, kChecksumCommand);
    exchangeWord(st, crc);
    exchangeWord(st, kClosingWord);

    if (!accepted) {
        // The console never confirmed the image: do not tell the user it worked.
        writeLine(st, "");
        writeLine(st, "error");
        return;
    }
    *st.out << "\nTransfer complete.\n\n\r"
            << "The trackpod logo should appear now.\n\n\r";
    writeLine(st, "Keep B pressed and press START + SELECT to install the update.");
    writeLine(st, "After a successful update, trackpod will re-start.");
    writeLine(st, "");
}
