// A peer whose messages the test or the fuzzer writes up front. Every send is recorded; each
// poll takes the next message, in a vector of exactly its size so that a read past its end
// hits the sanitizer's red zone; `echo` queues each send back. Once none is left, more than
// `silence` empty polls throw OutOfInput, so that a wait without limit ends.
#pragma once

#include <algorithm>
#include <climits>
#include <deque>
#include <sstream>

#include "link/link.h"
#include "platform/console.h"
#include "transfer/progress.h"

struct OutOfInput {};

// What a transfer told of its progress: how many times it moved on by a kibibyte.
struct CountedProgress : Progress {
    std::size_t kibibytes = 0;
    void moved(std::uint32_t, std::uint32_t) override { ++kibibytes; }
};

struct Scripted {
    Link link;
    std::ostringstream out, err;
    Console console{nullptr, &out, &err, {}};
    CountedProgress progress;
    std::vector<Bytes> sent;
    std::deque<Bytes> queued;
    bool echo = false;
    unsigned polls = 0, silence = UINT_MAX, silentPolls = 0;

    explicit Scripted(std::deque<Bytes> answers = {}, bool echoes = false, Link fresh = Link())
        : link(std::move(fresh)), queued(std::move(answers)), echo(echoes) {
        link.midi.send = [this](const Bytes& m) {
            sent.push_back(m);
            if (echo) queued.push_back(m);
        };
        link.midi.poll = [this](Bytes& m) {
            ++polls;
            if (queued.empty()) {
                m.clear();
                if (++silentPolls > silence) throw OutOfInput{};
                return;
            }
            Bytes(queued.front()).swap(m);
            queued.pop_front();
        };
    }
};

// Fuzz input cut into messages: a length byte (0 to 31), then that many bytes.
inline std::deque<Bytes> cutIntoMessages(const std::uint8_t* data, std::size_t size) {
    std::deque<Bytes> messages;
    for (std::size_t at = 1; at <= size; ++at) {
        const std::size_t length = std::min<std::size_t>(data[at - 1] & 0x1F, size - at);
        messages.emplace_back(data + at, data + at + length);
        at += length;
    }
    return messages;
}

#define FUZZ_CHECK(condition) \
    if (!(condition)) __builtin_trap()
