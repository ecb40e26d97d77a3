#include "platform/platform.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which they need.
#include <mmsystem.h>
#include <shellapi.h>
#else
#include <time.h>
#include <unistd.h>
#endif
#ifdef __APPLE__
#include <IOKit/pwr_mgt/IOPMLib.h>
#endif
#ifdef TPMIDI_HAVE_SD_BUS
#include <systemd/sd-bus.h>
#endif

namespace {

#ifdef _WIN32

std::wstring wideFromUtf8(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], n);
    result.pop_back();  // the terminating zero
    return result;
}

std::string utf8FromWide(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string result(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], n, nullptr, nullptr);
    result.pop_back();
    return result;
}

// _O_BINARY: the C runtime would otherwise stop reading at 0x1A and write every
// 0x0A as 0x0D 0x0A.
int openRaw(const char* name, int flags) {
    return _wopen(wideFromUtf8(name).c_str(), flags | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}
long readRaw(int fd, std::uint8_t* data, std::size_t n) {
    return _read(fd, data, static_cast<unsigned>(n));
}
long writeRaw(int fd, const std::uint8_t* data, std::size_t n) {
    return _write(fd, data, static_cast<unsigned>(n));
}
int closeRaw(int fd) { return _close(fd); }
int syncRaw(int fd) { return _commit(fd); }
constexpr int kReading = _O_RDONLY;
constexpr int kWriting = _O_WRONLY | _O_CREAT | _O_TRUNC;
constexpr int kWritingAsIs = _O_WRONLY;

#else

int openRaw(const char* name, int flags) { return ::open(name, flags | O_CLOEXEC, 0666); }
long readRaw(int fd, std::uint8_t* data, std::size_t n) { return ::read(fd, data, n); }
long writeRaw(int fd, const std::uint8_t* data, std::size_t n) { return ::write(fd, data, n); }
int closeRaw(int fd) { return ::close(fd); }
int syncRaw(int fd) { return ::fsync(fd); }
constexpr int kReading = O_RDONLY;
constexpr int kWriting = O_WRONLY | O_CREAT | O_TRUNC;
constexpr int kWritingAsIs = O_WRONLY;

#endif

// errno's reason, as a failure's.
bool failed(std::error_code& error) {
    error.assign(errno, std::generic_category());
    return false;
}

}  // namespace

long readFileBytes(const char* name, std::uint8_t* data, std::size_t capacity, std::error_code& error) {
    error.clear();
    const int fd = openRaw(name, kReading);
    if (fd < 0) {
        failed(error);
        return -1;
    }
    std::size_t got = 0;
    while (got < capacity) {
        const long n = readRaw(fd, data + got, capacity - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed(error);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    closeRaw(fd);
    return error ? -1 : static_cast<long>(got);
}

PathKind pathKind(const char* name) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(std::filesystem::u8path(name), error);
    if (status.type() == std::filesystem::file_type::not_found) return PathKind::Absent;
    return status.type() == std::filesystem::file_type::regular ? PathKind::Regular : PathKind::Other;
}

bool canWriteFile(const char* name, std::error_code& error) {
    error.clear();
    const int fd = openRaw(name, kWritingAsIs);
    if (fd < 0) return failed(error);
    closeRaw(fd);
    return true;
}

int openFileForWriting(const char* name, std::error_code& error) {
    error.clear();
    const int fd = openRaw(name, kWriting);
    if (fd < 0) failed(error);
    return fd;
}

bool writeFileByte(int file, std::uint8_t byte, std::error_code& error) {
    error.clear();
    for (;;) {
        const long n = writeRaw(file, &byte, 1);
        if (n == 1) return true;
        if (n < 0 && errno == EINTR) continue;
        // A write that takes nothing and reports nothing: a full disk, as POSIX allows.
        if (n == 0) errno = ENOSPC;
        return failed(error);
    }
}

bool syncFile(int file, std::error_code& error) {
    error.clear();
    return syncRaw(file) == 0 || failed(error);
}

bool closeFile(int file, std::error_code& error) {
    error.clear();
    return closeRaw(file) == 0 || failed(error);
}

bool replaceFile(const char* from, const char* to, std::error_code& error) {
    // std::filesystem renames over an existing file on every system (MoveFileExW on
    // Windows, where rename() would refuse).
    std::filesystem::rename(std::filesystem::u8path(from), std::filesystem::u8path(to), error);
    return !error;
}

#ifdef _WIN32

std::vector<std::string> programArguments(int, char**) {
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 0; i < count; ++i) args.push_back(utf8FromWide(wide[i]));
    LocalFree(wide);
    return args;
}

std::string environmentVariable(const char* name) {
    const wchar_t* value = _wgetenv(wideFromUtf8(name).c_str());
    return value ? utf8FromWide(value) : std::string();
}

bool consoleIsOwnAlone() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}

// The thread's state: the run's single thread asks and gives back.
long long preventSleep(const std::string&) {
    return SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0 ? 1 : -1;
}
void allowSleep(long long handle) {
    if (handle >= 0) SetThreadExecutionState(ES_CONTINUOUS);
}

RunScope::RunScope() { timeBeginPeriod(1); }
RunScope::~RunScope() { timeEndPeriod(1); }

// GetTickCount64 counts the time the machine slept.
static std::chrono::nanoseconds upTime() { return std::chrono::milliseconds(GetTickCount64()); }

// WinMM prints nothing.
QuietErrorStream::QuietErrorStream() = default;
QuietErrorStream::~QuietErrorStream() = default;

#else

std::vector<std::string> programArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string environmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool consoleIsOwnAlone() { return false; }

#if defined(__APPLE__)
long long preventSleep(const std::string& reason) {
    const CFStringRef why = CFStringCreateWithCString(kCFAllocatorDefault, reason.c_str(), kCFStringEncodingUTF8);
    IOPMAssertionID id = 0;
    const IOReturn made = IOPMAssertionCreateWithName(kIOPMAssertionTypePreventUserIdleSystemSleep,
                                                      kIOPMAssertionLevelOn, why, &id);
    if (why) CFRelease(why);
    return made == kIOReturnSuccess ? static_cast<long long>(id) : -1;
}
void allowSleep(long long handle) {
    if (handle >= 0) IOPMAssertionRelease(static_cast<IOPMAssertionID>(handle));
}
#elif defined(TPMIDI_HAVE_SD_BUS)
// logind hands over a descriptor: the lock is held while it is open.
long long preventSleep(const std::string& reason) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return -1;
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, a compound literal, is C only
    sd_bus_message* reply = nullptr;
    int held = -1, fd = -1;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           "Inhibit", &error, &reply, "ssss", "sleep:idle", "tpmidi01", reason.c_str(), "block") >= 0 &&
        sd_bus_message_read(reply, "h", &fd) >= 0) {
        held = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);  // the reply's own is closed with it
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return held;
}
void allowSleep(long long handle) {
    if (handle >= 0) ::close(static_cast<int>(handle));
}
#else
long long preventSleep(const std::string&) { return -1; }
void allowSleep(long long) {}
#endif

// A program started with standard input, output or error closed would hand that
// descriptor to the first file or socket it opens (the MIDI library's connection to
// JACK, say), and then read console input from it or write the console into it.
// /dev/null keeps them taken: closed input reads as end of input.
RunScope::RunScope() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) ::open("/dev/null", O_RDWR);
    }
}
RunScope::~RunScope() = default;

static std::chrono::nanoseconds upTime() {
#ifdef CLOCK_BOOTTIME
    constexpr clockid_t kUp = CLOCK_BOOTTIME;  // sleep included
#else
    constexpr clockid_t kUp = CLOCK_MONOTONIC;  // macOS: sleep included
#endif
    timespec t{};
    ::clock_gettime(kUp, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

QuietErrorStream::QuietErrorStream() {
    std::fflush(stderr);
    saved_ = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, 2);
    if (null >= 0) ::close(null);
}

QuietErrorStream::~QuietErrorStream() {
    std::fflush(stderr);
    if (saved_ < 0) return;
    ::dup2(saved_, 2);
    ::close(saved_);
}

#endif

HoldUpWatch::HoldUpWatch() : thread_([this] { watch(); }) {}

HoldUpWatch::~HoldUpWatch() {
    ending_ = true;
    thread_.join();
}

// Plain sleeps, the simplest wait on every system (under Wine a wait on an event is a
// request to its server).
void HoldUpWatch::watch() {
    auto before = upTime();
    while (!ending_) {
        std::this_thread::sleep_for(kPeriod);
        const auto now = upTime();
        const std::int64_t late = (now - before - kPeriod).count();
        before = now;
        std::int64_t longest = longest_.load();
        while (late > longest && !longest_.compare_exchange_weak(longest, late)) {
        }
    }
}

std::chrono::nanoseconds HoldUpWatch::longestSinceAsked() { return std::chrono::nanoseconds(longest_.exchange(0)); }
