#include "gba.h"

#include <cstdio>

#include "link/protocol.h"

using namespace wire::multiboot;

namespace {

constexpr std::uint32_t kBodyStart = kHeaderSize;
// The high half of the console's answers: 0x7202 up to the header's end, then 0x73
// with the client byte.
constexpr std::uint32_t kBeforeHandshake = 0x72020000;
constexpr std::uint32_t kAfterHandshake = 0x73000000;
// The console's answers, spelled as the console has them rather than taken from the
// program's names, so that a wrong name on either side shows.
constexpr std::uint32_t kConsoleWaiting = 0x72026202;
constexpr std::uint32_t kConsoleHasAll = 0x00750065;
constexpr std::uint32_t kConsoleStillReading = 0x00740065;
constexpr std::uint32_t kConsoleChecksumNext = 0x00750066;
constexpr std::uint32_t kBlocks = (kImageSize - kBodyStart) / 16;

// The boot code's checksum: per bit, shift out the low bit and fold in 0xC37B when
// it differs from the data bit.
std::uint32_t crcOver(std::uint32_t crc, std::uint32_t data) {
    for (int bit = 0; bit < 32; ++bit) {
        const bool differ = ((crc ^ data) & 1u) != 0;
        crc >>= 1;
        data >>= 1;
        if (differ) crc ^= kCrcPolynomial;
    }
    return crc;
}

std::string hex(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

}  // namespace

GbaModel::GbaModel(GbaConfig config) : config_(config), image_(kImageSize, 0) {}

void GbaModel::problem(const std::string& text) {
    if (problems_.size() < 20) problems_.push_back(text);
}

std::uint32_t GbaModel::exchange(std::uint32_t word) {
    switch (phase_) {
        case Phase::Waiting:
            if (word != kWaitCommand) return 0;
            if (++waitExchanges_ < config_.waitTries) return 0;
            phase_ = Phase::Connected;
            return kConsoleWaiting;
        case Phase::Connected:
            if (word == kWaitCommand) {
                ++waitExchanges_;
                return kConsoleWaiting;
            }
            if (word != kHeaderCommand) problem("expected 0x6102 before the header, got " + hex(word));
            phase_ = Phase::Header;
            return kBeforeHandshake | kHeaderCommand;
        case Phase::Header:
            if (word > 0xFFFF) problem("header halfword out of range: " + hex(word));
            image_[2 * headerHalfwords_] = static_cast<std::uint8_t>(word);
            image_[2 * headerHalfwords_ + 1] = static_cast<std::uint8_t>(word >> 8);
            if (++headerHalfwords_ == kHeaderSize / 2) phase_ = Phase::Handshake;
            return kBeforeHandshake;
        case Phase::Handshake:
            return handshake(word);
        case Phase::Length:
            if (word != (kImageSize - kLengthOffset) / 4) {
                problem("length announcement " + hex(word) + ", expected 0xFF9C");
            }
            crc_ = kCrcStart;
            phase_ = Phase::Body;
            return kAfterHandshake | (std::uint32_t(config_.lengthByte) << 16) | (word & 0xFFFF);
        case Phase::Body:
            problem("word " + hex(word) + " during the body, after " + std::to_string(blocks_) +
                    " blocks");
            return 0;
        case Phase::End:
            return endOfBody(word);
        case Phase::Checksum:
            checksumMatched_ = word == crc_;
            if (!checksumMatched_) problem("checksum " + hex(word) + ", expected " + hex(crc_));
            phase_ = Phase::Final;
            return crc_;
        case Phase::Final:
            if (word != kClosingWord) problem("closing word " + hex(word) + ", expected 0");
            phase_ = Phase::Done;
            return 0;
        case Phase::Done:
            return 0;
    }
    return 0;
}

// The client query answered, then the handshake that fixes the seed and the final value.
std::uint32_t GbaModel::handshake(std::uint32_t word) {
    const std::uint32_t cc = config_.clientByte;
    if (word == kHeaderDone || word == kWaitCommand) return kBeforeHandshake | word;
    if (word == kClientQuery) {
        ++clientQueries_;
        return kAfterHandshake | (cc << 16) | kClientQuery;
    }
    const std::uint32_t hh = (cc + kHandshakeOffset) & 0xFF;
    if (clientQueries_ < 2) problem("handshake before two 0x63D1 queries");
    if (word != kHandshakeCommand + hh) {
        problem("handshake command " + hex(word) + ", expected " + hex(kHandshakeCommand + hh));
    }
    seed_ = kSeedBase | (cc << 8);
    finalValue_ = kFinalBase | (std::uint32_t(config_.lengthByte) << 8) | hh;
    phase_ = Phase::Length;
    return kAfterHandshake | (cc << 16) | word;
}

// After the body: end queries, answered "still reading" until the configured try,
// then the checksum command.
std::uint32_t GbaModel::endOfBody(std::uint32_t word) {
    if (word == kEndQuery) {
        ++endExchanges_;
        const bool ready = config_.endTries >= 0 && endExchanges_ >= static_cast<unsigned>(config_.endTries);
        endConfirmed_ = endConfirmed_ || ready;
        return ready ? kConsoleHasAll : kConsoleStillReading;
    }
    if (word != kChecksumCommand) problem("expected 0x66 after the body, got " + hex(word));
    phase_ = Phase::Checksum;
    return kConsoleChecksumNext;
}

void GbaModel::block(const std::uint32_t words[4]) {
    if (phase_ != Phase::Body) {
        problem("block outside the body");
        return;
    }
    for (int slot = 0; slot < 4; ++slot) {
        const std::uint32_t offset = kBodyStart + 16 * blocks_ + 4 * slot;
        seed_ = seed_ * kSeedMultiplier + 1;
        // The key: the seed, the offset counted down from the top, and the fixed mask,
        // worked out the console's way rather than the sender's.
        const std::uint32_t key = seed_ ^ ((offset + 0x1FFFFFFu) ^ 0xBCDFD0D0u);
        const std::uint32_t plain = words[slot] ^ key;
        for (int b = 0; b < 4; ++b) image_[offset + b] = static_cast<std::uint8_t>(plain >> (8 * b));
        crc_ = crcOver(crc_, plain);
    }
    if (++blocks_ == kBlocks) {
        crc_ = crcOver(crc_, finalValue_);
        phase_ = Phase::End;
    }
}

std::string GbaModel::verdict() const {
    if (accepted()) return "multiboot image accepted: decrypted, checksum right";
    std::string text = finished() ? "multiboot image rejected" : "multiboot unfinished";
    if (finished() && !endConfirmed_) text += "; end handshake never confirmed";
    for (const std::string& p : problems_) text += "; " + p;
    return text;
}
