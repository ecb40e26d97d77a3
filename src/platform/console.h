// The console: standard input, output and error, which the run flow owns and hands to
// whatever speaks to the user.
#pragma once

#include <cstdint>
#include <functional>
#include <iostream>
#include <string>

struct Console {
    std::istream* in = &std::cin;
    std::ostream* out = &std::cout;
    std::ostream* err = &std::cerr;
    // Told each step of a job's progress, where something draws it (the web page's bar);
    // null on a console, whose progress lines say it all.
    std::function<void(std::uint32_t done, std::uint32_t total)> progressed;
    // What ends a job, as the user is told while the handheld keeps them waiting: a key on a
    // console, the web page's button.
    std::string stopKey = "Ctrl-C";
};

// A job's progress: `done` of `total` bytes (0 where the total is not known).
void tellProgress(Console& console, std::uint32_t done, std::uint32_t total);

// Writes a text, a line end, and flushes: the shape of every message line.
void writeLine(Console& console, const std::string& text);

// A line of the error stream, after the program's name: every diagnostic goes through it.
void writeDiagnostic(Console& console, const std::string& text);

// Reads the one character that stands for the Enter key, after flushing the prompt.
void waitForEnter(Console& console);
