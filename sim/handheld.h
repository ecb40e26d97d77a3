// The simulated handheld: trackpod on a Game Boy or Game Boy Advance behind a MIDI
// interface. One model, driven in-process by the tests and over virtual MIDI ports by
// trackpod-sim. It answers command messages and data packets, records what it was
// sent, streams a bank on request, and can be told to misbehave.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "gba.h"
#include "link/seam.h"

enum class Fault {
    None,
    WrongNumber,  // an answer with another packet number, ahead of the right one
    Stale,        // the previous answer again, ahead of the right one
    Duplicate,    // the right answer twice
    Short,        // a message one byte too short, with the right number, ahead
    Channel,      // a note-on ahead of the answer
    UnrelatedSysEx,
};

struct HandheldConfig {
    // Status byte answered to mode switches and to BeginReceive instead of the right one.
    std::optional<int> commandStatus;
    bool silent = false;                // never answer commands
    std::vector<Bytes> strayBeforeAnswer;  // sent ahead of a command's answer
    Bytes bank;                       // streamed one byte per message on BeginReceive
    std::vector<std::pair<std::size_t, Bytes>> bankStrays;  // message before bank byte i
    // Messages of the bank left out, as a MIDI system that falls behind drops them:
    // N after byte K, their numbers used up.
    std::vector<std::pair<std::size_t, std::size_t>> bankHoles;
    // Every message of the bank carries this number: a numbering that does not count.
    std::optional<std::uint8_t> bankNumber;
    // Every n-th data packet's answer gets a fault, the kinds in turn (0: never).
    unsigned faultEvery = 0;
    std::vector<Fault> faultKinds = {Fault::WrongNumber, Fault::Stale,   Fault::Duplicate,
                                     Fault::Short,       Fault::Channel, Fault::UnrelatedSysEx};
    unsigned answerPackets = ~0u;       // data packets answered before falling silent
    GbaConfig gba;
};

struct Outgoing {
    Bytes bytes;
    bool streamed = false;  // part of a bank stream: a real cable paces these
    std::chrono::microseconds hold{0};  // what the far end takes before it leaves
};

// What a far end has for the program, first in first out.
class Outbox {
public:
    void put(Outgoing message) { queue_.push_back(std::move(message)); }
    bool take(Outgoing& message) {
        if (queue_.empty()) return false;
        message = std::move(queue_.front());
        queue_.pop_front();
        return true;
    }
    // Left empty when there is none.
    bool take(Bytes& message) {
        message.clear();
        if (queue_.empty()) return false;
        message.swap(queue_.front().bytes);
        queue_.pop_front();
        return true;
    }

private:
    std::deque<Outgoing> queue_;
};

class Handheld {
public:
    explicit Handheld(HandheldConfig config = {});

    // A message from the program.
    void receive(const Bytes& message);
    // The next message for the program, if any.
    bool take(Bytes& message) { return outbox_.take(message); }
    bool take(Outgoing& message) { return outbox_.take(message); }
    // Puts a message in the program's way, as if it had been sent earlier.
    void queue(const Bytes& message) { outbox_.put({message, false}); }

    // What the last upload delivered: its bytes, or for a multiboot the console's image.
    const std::vector<std::uint8_t>& uploaded() const { return multiboot_ ? gba_.image() : uploaded_; }
    unsigned dataPackets() const { return dataPackets_; }
    unsigned beginUploads() const { return beginUploads_; }
    // Command messages received: mode switches, bank requests, uploads announced.
    unsigned commands() const { return commands_; }
    const GbaModel& gba() const { return gba_; }
    std::string summary() const;

private:
    void answerCommand(const Bytes& m);
    void answerData(const Bytes& m);
    Bytes answerFor(std::uint8_t number, const std::vector<std::uint8_t>& payload);
    void emitWithFault(const Bytes& answer, std::size_t shortest);
    void emit(const Bytes& m, bool streamed = false) { outbox_.put({m, streamed}); }

    HandheldConfig config_;
    Outbox outbox_;
    unsigned messagesReceived_ = 0;
    std::vector<std::uint8_t> uploaded_;
    unsigned dataPackets_ = 0;
    unsigned beginUploads_ = 0;
    unsigned commands_ = 0;
    bool multiboot_ = false;               // the last upload went by words and blocks
    std::size_t bytesUploaded_ = 0;        // over every upload
    unsigned faultsInjected_ = 0;
    Bytes lastAnswer_;
    GbaModel gba_;
};

// A data packet's payload, unpacked from its 7-bit groups.
std::vector<std::uint8_t> unpackPayload(const Bytes& packet);
// A one-byte data message as the handheld sends it, with packet number `number`.
Bytes byteMessage(std::uint8_t number, std::uint8_t value);
// A message that is not the handheld's: "channel" (a note-on), "short" (a SysEx message
// too short to be anything), "sysex" (another maker's), "identity" (an interface's
// identity reply).
Bytes strayMessage(const std::string& kind);
// A message in hex, "F0 7E ... F7".
std::string hexLine(const Bytes& m);
