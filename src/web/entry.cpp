// What the page calls: a job run as the console program runs it, its lines and its
// questions passed to the page, and the choice of ports by their names.
#include <emscripten.h>

#include <streambuf>
#include <string>
#include <vector>

#include "app/page.h"
#include "app/ports.h"
#include "app/run.h"
#include "web/binding.h"

namespace {

EM_JS(void, pageWrite, (const char* text, int length, int error), {
    Module.tpMidi.write(UTF8ToString(text, length), error !== 0);
});
EM_ASYNC_JS(int, pageAwaitContinue, (), { return await Module.tpMidi.awaitContinue(); });
EM_JS(void, pageProgress, (double done, double total), { Module.tpMidi.progress(done, total); });
EM_ASYNC_JS(double, pageHoldWakeLock, (const char* reason), { return await Module.tpMidi.holdWakeLock(UTF8ToString(reason)); });
EM_JS(void, pageReleaseWakeLock, (double handle), { Module.tpMidi.releaseWakeLock(handle); });

// One of the console's streams, handed to the page as it is flushed.
class PageStream : public std::streambuf {
public:
    explicit PageStream(bool error) : error_(error) {}

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) text_.push_back(static_cast<char>(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override {
        if (!text_.empty()) pageWrite(text_.data(), static_cast<int>(text_.size()), error_);
        text_.clear();
        return 0;
    }

private:
    bool error_;
    std::string text_;
};

// The console's input: each Enter the program waits for is the page's Continue button; a
// job cancelled there reads the end of the input.
class ContinueButton : public std::streambuf {
protected:
    int_type underflow() override {
        if (pageAwaitContinue() == 0) return traits_type::eof();
        enter_ = '\n';
        setg(&enter_, &enter_, &enter_ + 1);
        return traits_type::to_int_type(enter_);
    }

private:
    char enter_ = '\n';
};

// The arguments, each ended by a NUL, the list by an empty one.
std::vector<std::string> split(const char* packed) {
    std::vector<std::string> parts;
    for (const char* part = packed; *part != '\0'; part += parts.back().size() + 1) parts.emplace_back(part);
    return parts;
}

}  // namespace

extern "C" {

// Runs the program with these arguments (the program's name first) over the ports chosen on
// the page: its exit status.
EMSCRIPTEN_KEEPALIVE int tp_run(const char* packedArguments) {
    PageStream out(false), err(true);
    ContinueButton enter;
    std::ostream outStream(&out), errStream(&err);
    std::istream inStream(&enter);
    Console console{&inStream, &outStream, &errStream, pageProgress, "Cancel"};
    Link link;
    bindWebMidi(link);
    link.hooks.preventSleep = [](const std::string& reason) {
        return static_cast<long long>(pageHoldWakeLock(reason.c_str()));
    };
    link.hooks.allowSleep = [](long long handle) { pageReleaseWakeLock(static_cast<double>(handle)); };
    const int status = runProgram(link, console, split(packedArguments));
    outStream.flush();
    errStream.flush();
    return status;
}

// The port to choose without asking among these names (each ended by a NUL, the list by
// an empty one), as the console program chooses it: its index, or -1.
EMSCRIPTEN_KEEPALIVE int tp_pick_port(const char* packedNames) {
    const auto chosen = pickPortByName(split(packedNames));
    return chosen ? static_cast<int>(*chosen) : -1;
}

// The page's own sentences (app/page.h).
EMSCRIPTEN_KEEPALIVE const char* tp_page_words() { return pageWords(); }

}
