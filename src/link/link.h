// Data packets: numbered System Exclusive messages with 7-bit packing, each
// answered by the handheld before the next one goes out.
#pragma once

#include "link/state.h"

// Takes the next incoming message into st.inMessage, or leaves it empty. `answerAwaited`:
// the handheld owes an answer, so a long silence is worth telling the user of.
void pollMessage(ProgramState& st, bool answerAwaited = false);

// Sends st.outMessage as one message and empties it.
void sendOutMessage(ProgramState& st);

std::uint8_t exchangeByte(ProgramState& st, std::uint8_t value);
std::uint32_t exchangeWord(ProgramState& st, std::uint32_t value);
void sendBlock(ProgramState& st, std::uint32_t w0, std::uint32_t w1, std::uint32_t w2,
               std::uint32_t w3);

// The data byte carried in bytes 7 and 8 of a one-byte packet or answer.
inline std::uint8_t decodeByte(const Bytes& m) {
    return static_cast<std::uint8_t>(((m[wire::kDataAt] & wire::kFirstFlagBit) << 1) |
                                     m[wire::kDataAt + 1]);
}
