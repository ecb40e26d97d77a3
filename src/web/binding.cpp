#include "web/binding.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "app/page.h"

namespace {

// An empty poll gives the browser its thread back until a message comes, or a while has
// passed: the core looks at its clock only between two polls. While the core sends at a
// steady cadence (the interface check's stream, a message every 3.5 ms; an exchange at a
// time), a wait ends when the next send is due, and an exchange's answer mostly ends it
// sooner. Otherwise it starts at 2 ms and doubles, up to 20 ms, while nothing comes: each
// ending of a wait costs the page about as much processor time as a message does.
constexpr double kShortestWaitMs = 2, kLongestWaitMs = 20;
// An empty poll stands for as many of a busy loop's polls as the console program makes in
// the time it waited, on an idle PC: the bank's closing silence lasts about as long on the
// page (about 3.5 s), with the processor idle.
constexpr double kBankEndMs = 3500;

struct Waits {
    double lastSend = 0, sendGap = kLongestWaitMs + 1;
    double nextWait = kShortestWaitMs;
};

// How long the empty poll at `now` waits.
double waitLength(Waits& w, double now) {
    const double sendDue = w.lastSend + w.sendGap;
    if (w.sendGap <= kLongestWaitMs && sendDue - now >= 1) return sendDue - now;
    const double wait = w.nextWait;
    w.nextWait = std::min(2 * wait, kLongestWaitMs);
    return wait;
}

void noteSend(Waits& w, double now) {
    w.sendGap = now - w.lastSend;
    w.lastSend = now;
    w.nextWait = kShortestWaitMs;
}

std::uint32_t pollsWaited(double ms) {
    const double polls = ms / kBankEndMs * kReceiveIdlePolls;
    return polls >= kReceiveIdlePolls ? kReceiveIdlePolls : polls < 1 ? 1 : static_cast<std::uint32_t>(polls);
}

// The JavaScript side's calls; each that can fail returns 0 when it went well, or else the
// failure's code, and leaves the port and the browser's reason.
EM_JS(int, webPortCount, (int input), { return Module.tpMidi.portCount(input); });
EM_JS(void, webPortName, (int input, char* out, int capacity), {
    stringToUTF8(Module.tpMidi.portName(input), out, capacity);
});
EM_ASYNC_JS(int, webOpen, (int input), { return await Module.tpMidi.open(input); });
EM_JS(int, webSend, (const unsigned char* data, int length), {
    return Module.tpMidi.send(HEAPU8.slice(data, data + length));
});
EM_JS(int, webNextLength, (), { return Module.tpMidi.nextLength(); });
EM_JS(void, webTake, (unsigned char* out), { HEAPU8.set(Module.tpMidi.take(), out); });
EM_ASYNC_JS(void, webAwaitMessage, (double ms), { await Module.tpMidi.awaitMessage(ms); });
EM_ASYNC_JS(void, webSleep, (int ms), { await Module.tpMidi.sleep(ms); });
EM_JS(void, webMissingPort, (char* out, int capacity), { stringToUTF8(Module.tpMidi.missingPort(), out, capacity); });
EM_JS(int, webCancelled, (), { return Module.tpMidi.cancelled ? 1 : 0; });
EM_JS(void, webFailedPort, (char* out, int capacity), { stringToUTF8(Module.tpMidi.failedPort, out, capacity); });
EM_JS(void, webFailureReason, (char* out, int capacity), { stringToUTF8(Module.tpMidi.reason, out, capacity); });
EM_JS(void, webBegin, (), { Module.tpMidi.begin(); });
EM_JS(void, webEnd, (), { Module.tpMidi.end(); });
EM_JS(void, webPassRealTime, (), { Module.tpMidi.passRealTime = true; });

// A port's name, or what went wrong, is never longer than this.
constexpr int kTextCapacity = 512;

template <typename Read>
std::string textFrom(Read read) {
    char text[kTextCapacity] = {};
    read(text, kTextCapacity);
    return text;
}

std::string portName(bool input) {
    return textFrom([input](char* text, int capacity) { webPortName(input, text, capacity); });
}

// A job the user cancelled ends between two messages, as a failure of the MIDI system does.
void throwIfFailed(int status) {
    if (status != 0) throw MidiFailure(pageFailure(status, textFrom(webFailedPort), textFrom(webFailureReason)));
}
void throwIfCancelled() { throwIfFailed(webCancelled()); }

}  // namespace

void bindWebMidi(Link& link) {
    MidiSeam& seam = link.midi;
    seam.create = [] { webBegin(); };
    seam.destroy = [] { webEnd(); };
    // Only the ports chosen on the page are listed: the only port is opened without asking.
    seam.portNames = [](Direction direction) {
        const bool input = direction == Direction::Input;
        return webPortCount(input) > 0 ? std::vector<std::string>{portName(input)} : std::vector<std::string>{};
    };
    seam.openPort = [](Direction direction, unsigned) { throwIfFailed(webOpen(direction == Direction::Input)); };
    // The poll tells the link, each time, what an empty poll stood for.
    const auto waits = std::make_shared<Waits>();
    seam.send = [waits](const Bytes& message) {
        throwIfCancelled();
        noteSend(*waits, emscripten_get_now());
        throwIfFailed(webSend(message.data(), static_cast<int>(message.size())));
    };
    seam.poll = [waits, &seam](Bytes& message) {
        message.clear();
        throwIfCancelled();
        int length = webNextLength();
        if (length == 0) {
            const double start = emscripten_get_now();
            webAwaitMessage(waitLength(*waits, start));
            length = webNextLength();
            if (length == 0) seam.pollsPerEmptyPoll = pollsWaited(emscripten_get_now() - start);
        }
        if (length == 0) return;
        waits->nextWait = kShortestWaitMs;
        message.resize(static_cast<std::size_t>(length));
        webTake(message.data());
    };
    seam.missingPort = [] { return textFrom(webMissingPort); };
    seam.passRealTime = [] { webPassRealTime(); };
    link.hooks.sleepMs = [](unsigned ms) {
        throwIfCancelled();
        webSleep(static_cast<int>(ms));
    };
}
