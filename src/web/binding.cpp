#include "web/binding.h"

#include <emscripten.h>

#include <string>

#include "app/page.h"

namespace {

// An empty poll waits this long for a message, and stands for as many of a busy loop's polls
// as the console program makes meanwhile on an idle PC: the bank's closing silence lasts
// about as long on the page (about 3.5 s), with the processor idle. Short: a loop that sends
// at the cable's pace while it reads (the interface check's stream, a message every 3.5 ms)
// sends only between two polls.
constexpr unsigned kWaitMs = 2;
constexpr unsigned kBankEndMs = 3500;

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
EM_ASYNC_JS(void, webAwaitMessage, (int ms), { await Module.tpMidi.awaitMessage(ms); });
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
    seam.send = [](const Bytes& message) {
        throwIfCancelled();
        throwIfFailed(webSend(message.data(), static_cast<int>(message.size())));
    };
    seam.poll = [](Bytes& message) {
        message.clear();
        throwIfCancelled();
        int length = webNextLength();
        if (length == 0) {
            webAwaitMessage(kWaitMs);
            length = webNextLength();
        }
        if (length == 0) return;
        message.resize(static_cast<std::size_t>(length));
        webTake(message.data());
    };
    seam.pollsPerEmptyPoll = kReceiveIdlePolls / (kBankEndMs / kWaitMs);
    seam.missingPort = [] { return textFrom(webMissingPort); };
    seam.passRealTime = [] { webPassRealTime(); };
    link.hooks.sleepMs = [](unsigned ms) {
        throwIfCancelled();
        webSleep(static_cast<int>(ms));
    };
}
