// Command messages: fixed 13-byte System Exclusive messages tagged "TPD" that switch
// the handheld's mode or announce a transfer.
#pragma once

#include <optional>

#include "link/link.h"

enum class Command {
    BeginUpload,
    Sync,
    SyncPermanent,
    Midi,
    MidiPermanent,
    MidiReceive,
    MidiReceivePermanent,
    BeginReceive,
};

// The pause around commands, in milliseconds: the handheld switches modes.
constexpr unsigned kCommandPauseMs = 500;

// Sends the command. The delay is used by Midi and MidiPermanent only.
void sendCommand(Link& link, Command command, std::uint8_t delay = wire::kDefaultDelay);

// Polls until a message comes: it, a view into the link's buffer.
const Bytes& waitForFirstMessage(Link& link);

// Sends a mode switch and waits for the handheld's answer: its status, as answerStatus.
std::optional<std::uint8_t> switchMode(Link& link, Command command, std::uint8_t delay = wire::kDefaultDelay);

// Byte 7 of the first answer, or nothing when the message is too short to hold one.
std::optional<std::uint8_t> answerStatus(const Bytes& message);
