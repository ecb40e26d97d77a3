// Everything that differs between Linux, macOS and Windows, in one place: files as
// raw bytes under UTF-8 names, the command line in UTF-8, the timer resolution, the
// clock that counts sleep, and the descriptors of the console.
// The rest of the program sees the same functions on every system.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// The file functions give the system's reason for a failure in `error`, cleared otherwise.

// Reads at most `capacity` bytes of the named file into `data`, with no translation.
// Returns the count read, or -1 when the file cannot be opened or read (a missing
// file, a directory, an I/O error).
long readFileBytes(const char* name, std::uint8_t* data, std::size_t capacity, std::error_code& error);

// What a name stands for, a symbolic link not followed: nothing, a regular file, or
// anything else (a folder, a device, a FIFO, a link).
enum class PathKind { Absent, Regular, Other };
PathKind pathKind(const char* name);

// Whether an existing file may be written: it is opened for writing and closed,
// unchanged.
bool canWriteFile(const char* name, std::error_code& error);
// Opens a file for writing raw bytes, creating or emptying it: a handle, or -1.
int openFileForWriting(const char* name, std::error_code& error);
// Hands one byte to the operating system at once, unbuffered.
bool writeFileByte(int file, std::uint8_t byte, std::error_code& error);
// Waits until what was written is on the disk.
bool syncFile(int file, std::error_code& error);
bool closeFile(int file, std::error_code& error);
// Puts the file `from` in the place of `to` in one step, replacing what was there.
bool replaceFile(const char* from, const char* to, std::error_code& error);

// The arguments of main in UTF-8. On Windows they are taken from the wide command
// line, so a name in any script reaches the file system unchanged.
std::vector<std::string> programArguments(int argc, char** argv);

// The value of an environment variable in UTF-8, or empty when it is not set.
std::string environmentVariable(const char* name);

// Whether the console is this process's alone, so that its window closes as the program
// ends: on Windows, a program started by a double click or by a file dropped on it.
// Started from a console, a script or a pipe, and on every other system: false.
bool consoleIsOwnAlone();

// Asks the system not to sleep for idleness, with the job as the reason: Linux logind's
// sleep and idle lock over the system bus, Windows' execution state, a macOS power
// assertion. A handle to give back to allowSleep, or -1 where nothing answered (no system
// bus or no logind, as in containers and WSL). A process that ends, killed or not, gives
// it back by itself.
long long preventSleep(const std::string& reason);
void allowSleep(long long handle);

// Notes whether the whole process, or the machine, stopped running: a thread that sleeps
// 10 ms at a time and measures how late it wakes, on a clock that goes on while the
// machine sleeps. A thread that sleeps is run promptly however busy the processors are, so
// only a stopped process (Ctrl-Z, a debugger) or a machine asleep makes it late, and the
// MIDI library's own input thread, which sleeps until data comes, is then stopped as long.
class HoldUpWatch {
public:
    // How often it wakes: a hold-up lasted up to this much longer than it says.
    static constexpr std::chrono::milliseconds kPeriod{10};

    HoldUpWatch();
    ~HoldUpWatch();
    HoldUpWatch(const HoldUpWatch&) = delete;
    HoldUpWatch& operator=(const HoldUpWatch&) = delete;
    // The longest the watching thread overslept since the last call.
    std::chrono::nanoseconds longestSinceAsked();

private:
    void watch();
    std::atomic<bool> ending_{false};
    std::atomic<std::int64_t> longest_{0};
    std::thread thread_;
};

// Shuts the error stream while it lives: the library of a MIDI system that is not there
// (JACK's, with no server running) prints its complaints there before it fails, and the
// program says in one line what is missing instead.
struct QuietErrorStream {
    QuietErrorStream();
    ~QuietErrorStream();
    QuietErrorStream(const QuietErrorStream&) = delete;
    QuietErrorStream& operator=(const QuietErrorStream&) = delete;

private:
    int saved_ = -1;
};

// Held by main for the run. On Windows it raises the timer resolution to 1 ms: the
// MIDI library sleeps 1 ms at a time while a System Exclusive message leaves, and
// at the default resolution each such sleep can last a whole 15.6 ms tick. Elsewhere
// it opens /dev/null on standard input, output or error if they are closed.
struct RunScope {
    RunScope();
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
};
