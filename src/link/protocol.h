// The numbers of the wire, named once for the program and the simulated handheld.
// Positions in a message count the opening 0xF0 as byte 0.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace wire {

// --- System Exclusive framing, shared by both kinds of message
constexpr std::uint8_t kSysEx = 0xF0;
constexpr std::uint8_t kEndSysEx = 0xF7;
constexpr std::uint8_t kNonRealTime = 0x7E;  // universal non-real-time
constexpr std::uint8_t kFileDump = 0x07;     // sub-ID 1 of both kinds
// Every byte between F0 and F7 keeps bit 7 clear: a set one would be a status byte.
constexpr std::uint8_t kDataBits = 0x7F;
// The manufacturer ID for non-commercial use: System Exclusive that no handheld acts on.
constexpr std::uint8_t kNonCommercial = 0x7D;
// Real-time messages of one byte, which an interface may add between any two bytes.
constexpr std::uint8_t kFirstRealTime = 0xF8;
constexpr std::uint8_t kTimingClock = 0xF8;
constexpr std::uint8_t kActiveSensing = 0xFE;

// --- Data packets: F0 7E 00 07 02 <number> <count> <7-bit groups> 00 F7
constexpr std::uint8_t kDataDevice = 0x00;
constexpr std::uint8_t kDataPacket = 0x02;   // sub-ID 2
constexpr std::uint8_t kChecksum = 0x00;     // sent as is: the handheld never checks it
constexpr std::size_t kNumberAt = 5;         // packet number, in packets and answers
constexpr std::size_t kCountAt = 6;          // encoded data bytes minus one
constexpr std::size_t kDataAt = 7;           // first flag byte of the 7-bit groups
constexpr std::uint8_t kNumberMask = 0x7F;   // numbers run 0..127, then wrap
constexpr int kGroupBytes = 7;               // data bytes after each flag byte
// The flag byte holds bit 7 of a group's first byte in its bit 6, and so on down.
constexpr std::uint8_t kFirstFlagBit = 0x40;
// The shortest packet: one data byte, as flag and low bits; a word's; a block's.
constexpr std::size_t kBytePacketLength = 11;
constexpr std::size_t kWordPacketLength = 14;
constexpr std::size_t kBlockPacketLength = 28;
// A MIDI cable carries a byte in 320 us (31250 baud, 10 bits a byte): the handheld's pace.
constexpr std::chrono::microseconds kByteTime{320};

// The least length of a message that answers each kind of packet. A word answer must
// reach its last data byte (11), a block's acknowledgement its packet number (5); a
// byte answer must reach one byte past its data (byte 8), its checksum's place.
constexpr std::size_t kByteAnswerLength = 10;
constexpr std::size_t kWordAnswerLength = 12;
constexpr std::size_t kBlockAnswerLength = 6;
// A block's acknowledgement as the handheld sends it: its number, then its end.
constexpr std::size_t kBlockAckLength = kBlockAnswerLength + 1;

// A data byte sent by the handheld (a byte answer, a bank byte) sits in bytes 7 and 8,
// so a message of fewer than 9 bytes carries none.
constexpr std::size_t kByteMessageLength = 9;

// --- Command messages: F0 7E 54 07 <kind> 00 'T' 'P' 'D' <letter> <parameter> 00 F7
constexpr std::uint8_t kHandheldDevice = 0x54;  // 'T', the tag's first letter
constexpr std::uint8_t kDumpHeader = 0x01;      // sub-ID 2 of mode switches and BeginUpload
constexpr std::uint8_t kDumpRequest = 0x03;     // sub-ID 2 of MIDI receive and BeginReceive
constexpr std::uint8_t kTag[3] = {'T', 'P', 'D'};
constexpr std::size_t kCommandLength = 13;
constexpr std::size_t kKindAt = 4;
constexpr std::size_t kLetterAt = 9;
constexpr std::uint8_t kLetterBegin = 'b';
constexpr std::uint8_t kLetterSync = 's';
constexpr std::uint8_t kLetterSyncPermanent = 'S';
constexpr std::uint8_t kLetterMidi = 'm';
constexpr std::uint8_t kLetterMidiPermanent = 'M';
constexpr std::uint8_t kDefaultDelay = 26;  // also the parameter of BeginUpload and Sync
constexpr std::uint8_t kNoParameter = 0;

// The handheld's answer to a command: its status in byte 7.
constexpr std::size_t kStatusAt = 7;
constexpr std::uint8_t kStatusSync = 4;   // sync mode on
constexpr std::uint8_t kStatusMidi = 0;   // MIDI mode on
constexpr std::uint8_t kStatusReady = 6;  // MIDI receive on, or a bank about to come

// --- GBA multiboot, normal mode with 32-bit transfers, each word in one data packet
namespace multiboot {
constexpr std::uint32_t kImageSize = 0x40000;     // what the console always takes
constexpr std::uint32_t kHeaderSize = 0xC0;       // sent in the clear, as 96 halfwords
constexpr std::uint32_t kWaitCommand = 0x6202;    // "is a console there?"
constexpr std::uint32_t kWaitAnswer = 0x72026202;  // "yes, in normal mode"
constexpr std::uint32_t kHeaderCommand = 0x6102;
constexpr std::uint32_t kHeaderDone = 0x6200;
constexpr std::uint32_t kClientQuery = 0x63D1;    // answers the client byte cc
constexpr std::uint32_t kHandshakeCommand = 0x6400;  // + hh
constexpr std::uint32_t kHandshakeOffset = 0x0F;   // hh = cc + 0x0F
// The length word is (length - 0xC0) / 4 - 0x34: the header and the boot code's fixed
// 0x34 words, 400 bytes in all.
constexpr std::uint32_t kLengthOffset = kHeaderSize + 4 * 0x34;
constexpr std::uint32_t kEndQuery = 0x65;
constexpr std::uint32_t kEndReady = 0x00750065;
constexpr std::uint32_t kChecksumCommand = 0x66;
constexpr std::uint32_t kClosingWord = 0;
// The body's encryption and checksum.
constexpr std::uint32_t kSeedBase = 0xFFFF00D1;   // | cc << 8
constexpr std::uint32_t kSeedMultiplier = 0x6F646573;  // "sedo"
constexpr std::uint32_t kKeyTop = 0xFE000000;     // minus the word's offset
constexpr std::uint32_t kKeyMask = 0x43202F2F;    // " /// "
constexpr std::uint32_t kFinalBase = 0xFFFF0000;  // | rr << 8 | hh, folded in last
constexpr std::uint32_t kCrcStart = 0xC387;
constexpr std::uint32_t kCrcPolynomial = 0xC37B;  // reflected
}  // namespace multiboot

}  // namespace wire
