// How far a transfer has come, for src/app to tell the user: the transfers say nothing
// themselves.
#pragma once

#include <cstdint>
#include <string>

enum class Stage {
    ConsoleTakesImage,  // a multiboot: the console answered, the image goes now
    HandheldReady,      // a receive: the handheld answered the request, ready
    HandheldNotReady,   // ... or with another status; the bank is taken anyway
};

class Progress {
public:
    // `done` of `total` bytes moved: an upload's at its first byte and every 1024th after,
    // a multiboot's at each kibibyte of its whole image, a receive's at each kibibyte
    // (its total unknown: 0).
    virtual void moved(std::uint32_t done, std::uint32_t total) = 0;
    virtual void reached(Stage) {}
    // A receive writes into `writing`, which takes `name`'s place once the whole bank has come.
    virtual void receivingInto(const std::string& /*writing*/, const std::string& /*name*/) {}

protected:
    ~Progress() = default;
};
