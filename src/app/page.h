// What only the web page says, beside the console program's own lines: its MIDI system's
// failures, and the sentences of its screen.
#pragma once

#include <string>

// Why a job on the page ended before its end: the user cancelled it (1), a port could not
// be opened (2), a message could not be sent (3); the port and the browser's reason.
std::string pageFailure(int code, const std::string& port, const std::string& reason);

// The page's sentences, one "key=text" a line; {file} stands for a file's name.
const char* pageWords();
