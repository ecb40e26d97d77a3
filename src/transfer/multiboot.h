// Booting a Game Boy Advance from the image through its multiboot protocol (normal
// mode, 32-bit transfers), each transfer carried by a data packet.
#pragma once

#include <chrono>

#include "link/link.h"
#include "transfer/image.h"
#include "transfer/progress.h"

// One step of the 16-bit multiboot checksum over a word.
std::uint32_t multibootCrcStep(std::uint32_t crc, std::uint32_t word);

// The seed for the client byte, before its first advance.
std::uint32_t multibootSeed(std::uint8_t clientByte);

// Advances the seed once; done before every body word.
inline std::uint32_t advanceMultibootSeed(std::uint32_t seed) {
    return seed * wire::multiboot::kSeedMultiplier + 1;
}

// The body word at `offset` as it goes on the wire, under the advanced seed.
inline std::uint32_t encryptMultibootWord(std::uint32_t plain, std::uint32_t seed,
                                          std::uint32_t offset) {
    return plain ^ seed ^ (wire::multiboot::kKeyTop - offset) ^ wire::multiboot::kKeyMask;
}

// The handshake value: client byte + 0x0F, kept to the byte the console compares.
inline std::uint32_t multibootHandshake(std::uint8_t clientByte) {
    return (clientByte + wire::multiboot::kHandshakeOffset) & 0xFFu;
}

// How long a multiboot takes at the MIDI cable's pace, once the console waits: the header's
// words and the handshake's, each a word packet and its answer, and the body's blocks.
std::chrono::milliseconds multibootTime();

// How a multiboot ended short of a port gone: the console said that it had the whole
// image, or never said so to any of the end queries it was allowed.
enum class MultibootEnd { ImageTaken, NeverConfirmed };

// Sends the image as the console's whole 256 KiB, zero past its end, once the console
// waits for it.
MultibootEnd uploadGbaMultiboot(Link& link, ImageView image, Progress& progress);
