// The console: standard input, output and error, which the run flow owns and hands to
// whatever speaks to the user.
#pragma once

#include <iostream>
#include <string>

struct Console {
    std::istream* in = &std::cin;
    std::ostream* out = &std::cout;
    std::ostream* err = &std::cerr;
};

// Writes a text, a line end, and flushes: the shape of every message line.
void writeLine(Console& console, const std::string& text);

// A line of the error stream, after the program's name: every diagnostic goes through it.
void writeDiagnostic(Console& console, const std::string& text);

// Reads the one character that stands for the Enter key, after flushing the prompt.
void waitForEnter(Console& console);
