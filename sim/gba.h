// A model of the Game Boy Advance boot code's side of a multiboot transfer, as seen
// through the MIDI link: it answers the sender's words, decrypts the body with its
// own seed sequence, checks the checksum, and keeps the image it was sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GbaConfig {
    unsigned waitTries = 1;          // 0x6202 tries answered before 0x72026202 is given
    std::uint8_t clientByte = 0x00;  // cc, in the answer to 0x63D1
    std::uint8_t lengthByte = 0x00;  // rr, in the answer to the length announcement
    int endTries = 1;                // 0x65 tries before 0x00750065; -1 never
};

class GbaModel {
public:
    explicit GbaModel(GbaConfig config = {});

    // The word the console's link port gives back for a word sent to it.
    std::uint32_t exchange(std::uint32_t word);
    // Four body words, clocked out in slot order.
    void block(const std::uint32_t words[4]);

    bool finished() const { return phase_ == Phase::Done; }
    // True once the transfer ended, the console confirmed the end handshake, and the
    // image decrypted with its checksum right.
    bool accepted() const {
        return finished() && problems_.empty() && checksumMatched_ && endConfirmed_;
    }
    bool checksumMatched() const { return checksumMatched_; }
    const std::vector<std::string>& problems() const { return problems_; }
    // Header as sent, body as decrypted: the console's copy of the image.
    const std::vector<std::uint8_t>& image() const { return image_; }
    unsigned blocksReceived() const { return blocks_; }
    unsigned waitExchanges() const { return waitExchanges_; }
    unsigned endExchanges() const { return endExchanges_; }
    std::string verdict() const;

private:
    enum class Phase { Waiting, Connected, Header, Handshake, Length, Body, End, Checksum, Final, Done };
    void problem(const std::string& text);
    std::uint32_t handshake(std::uint32_t word);
    std::uint32_t endOfBody(std::uint32_t word);

    GbaConfig config_;
    Phase phase_ = Phase::Waiting;
    std::vector<std::uint8_t> image_;
    unsigned waitExchanges_ = 0;
    unsigned headerHalfwords_ = 0;
    unsigned clientQueries_ = 0;
    unsigned blocks_ = 0;
    unsigned endExchanges_ = 0;
    bool endConfirmed_ = false;
    std::uint32_t seed_ = 0;
    std::uint32_t crc_ = 0;
    std::uint32_t finalValue_ = 0;
    bool checksumMatched_ = false;
    std::vector<std::string> problems_;
};
