// "-receive": ask the handheld for a bank and save every byte it sends.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "link/link.h"
#include "transfer/progress.h"

// Messages of the bank left out before a message whose number is not the next one.
struct Hole {
    std::int32_t after;               // bytes saved before it
    std::uint8_t expected, came;      // the numbers
};

// Why a receive did not place the bank, with what telling it needs.
enum class ReceiveFailure {
    NoFileName,     // "-receive" was given none
    CannotReplace,  // the file named (`file`) cannot be written, for the system's reason `why`
    CannotWrite,    // the file the bytes go to (`file`) could not be written, for `why`
    MidiDropped,    // the MIDI system said that it dropped messages of the bank
    HeldUp,         // the program was held up for `heldUp`, which may have cost messages unseen
};
struct ReceiveProblem {
    ReceiveFailure failure;
    std::string file = {};
    std::error_code why = {};
    Clock::duration heldUp{};
};

// How a receive ended, for the run flow to tell.
struct ReceiveOutcome {
    // Whether the bank was asked for: not when there was no file to write; whether the
    // handheld answered that it was ready.
    bool requested = false, ready = false;
    // Whether the whole bank is in the file named.
    bool placed = false;
    // The file named, and the one the bytes went to (NAME.part, or NAME itself where it
    // is not a regular file); whether the file named was there before.
    std::string name, writing;
    bool existed = false;
    std::int32_t receivedCount = 0;
    std::vector<Hole> holes;
    // Why the bank may not be whole, or could not be written or placed.
    std::vector<ReceiveProblem> problems;
    // The MIDI system's failure that cut the receive short, or empty.
    std::string midiFailure;
};

// What a hold-up while the bank streamed may have cost, in messages: what the handheld sent
// meanwhile at its pace (none, if it froze with the program), less what the MIDI system
// kept and handed over after it (`backlog`).
struct HoldUpCost {
    double least, most;
};
HoldUpCost holdUpCost(Clock::duration held, Clock::duration pace, double backlog);
// Whether that range holds a whole positive turn of the numbering: a loss of that many
// leaves no gap. Any other loss shows as a hole.
bool couldHideLoss(const HoldUpCost& cost);

ReceiveOutcome receiveFile(Link& link, const char* fileName, Progress& progress);
