#include "midi/rtmidi_binding.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <thread>

namespace {

const std::thread::id mainThread = std::this_thread::get_id();

void onLibraryError(RtMidiError::Type type, const std::string& text, void*) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    if (std::this_thread::get_id() == mainThread) throw RtMidiError(text, type);
    std::cerr << '\n' << text << "\n\n";
}

RtMidi& objectOf(RtMidiObjects& objects, Direction direction) {
    if (direction == Direction::Input) return *objects.in;
    return *objects.out;
}

std::string& openedName(RtMidiObjects& objects, Direction direction) {
    return direction == Direction::Input ? objects.inName : objects.outName;
}

// The names of the ports the object's MIDI system lists, in its order.
std::vector<std::string> portNamesOf(RtMidi& object) {
    std::vector<std::string> names;
    const unsigned count = object.getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(object.getPortName(i));
    return names;
}

// Whether the object's MIDI system lists a port of that name. A port that vanishes
// while it is looked at makes the library complain: then it is looked for again later.
bool listed(RtMidi& object, const std::string& name) {
    try {
        const std::vector<std::string> names = portNamesOf(object);
        return std::find(names.begin(), names.end(), name) != names.end();
    } catch (const RtMidiError&) {
        return true;
    }
}

// The first of the opened ports that the MIDI system no longer lists, or empty; a port
// found gone stays gone.
std::string missingPort(RtMidiObjects& objects) {
    if (!objects.gone.empty()) return objects.gone;
    for (Direction direction : {Direction::Input, Direction::Output}) {
        const std::string& name = openedName(objects, direction);
        if (!name.empty() && !listed(objectOf(objects, direction), name)) {
            objects.gone = name;
            break;
        }
    }
    return objects.gone;
}

// The JACK backend of RtMidi 5.0 frees its send buffer while its process callback may
// still read it, so the callback is given a moment after the port is closed.
// JACK (1.9.21) announces each change of its graph to every client on a thread that
// walks the client's ports with no lock against one being closed meanwhile, and can
// crash the process. A change is announced a cycle after it is made (the other object's
// client just closed, another program just ended), so those announcements are given
// time to end before the port is closed.
constexpr std::chrono::milliseconds kCallbackSettle{20}, kJackSettle{50};

}  // namespace

std::streamsize DropWatch::xsputn(const char* text, std::streamsize n) {
    // RtMidi writes each such message in one piece.
    const std::string_view piece(text, static_cast<std::size_t>(n));
    if (piece.find("message queue limit reached") != piece.npos || piece.find("input buffer overrun") != piece.npos) {
        dropped_ = true;
        return n;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return through_->sputn(text, n);
}

DropWatch::int_type DropWatch::overflow(int_type c) {
    std::lock_guard<std::mutex> lock(mutex_);
    return traits_type::eq_int_type(c, traits_type::eof()) ? traits_type::not_eof(c) : through_->sputc(char(c));
}

int DropWatch::sync() {
    std::lock_guard<std::mutex> lock(mutex_);
    return through_->pubsync();
}

std::vector<RtMidi::Api> systemsToTry(RtMidi::Api api, std::string& missing) {
    std::vector<RtMidi::Api> apis = {api};
    if (api == RtMidi::UNSPECIFIED) RtMidi::getCompiledApi(apis);
    if (std::count(apis.begin(), apis.end(), RtMidi::LINUX_ALSA) && !std::filesystem::exists("/dev/snd/seq")) {
        apis.erase(std::remove(apis.begin(), apis.end(), RtMidi::LINUX_ALSA), apis.end());
        missing = "no ALSA sequencer (/dev/snd/seq)";
    }
    return apis;
}

int portCount(RtMidi& object, std::string& failure) {
    object.setErrorCallback(
        [](RtMidiError::Type type, const std::string& text, void* data) {
            if (type != RtMidiError::DEBUG_WARNING) *static_cast<std::string*>(data) = text;
        },
        &failure);
    const unsigned count = object.getPortCount();
    object.setErrorCallback(nullptr, nullptr);
    return failure.empty() ? static_cast<int>(count) : -1;
}

RtMidiError noMidiSystem(RtMidi::Api system, const std::string& failure, std::string& missing) {
    missing += (missing.empty() ? "" : " and ") + (system == RtMidi::UNIX_JACK ? "no JACK server running" : failure);
    return RtMidiError("no MIDI system: " + missing +
                           "; start a JACK server or load the ALSA sequencer (see TROUBLESHOOTING in man tpmidi01)",
                       RtMidiError::NO_DEVICES_FOUND);
}

void throwLibraryErrors(RtMidi& object) { object.setErrorCallback(onLibraryError, nullptr); }

void closeBeforeDelete(RtMidi& object, RtMidi::Api api) {
    if (api == RtMidi::UNIX_JACK) std::this_thread::sleep_for(kJackSettle);
    try {
        object.closePort();
    } catch (const RtMidiError&) {
    }
    std::this_thread::sleep_for(kCallbackSettle);
}

namespace {

// The seam's function, with RtMidi's failures turned into the program's.
template <typename F>
auto reported(F f) {
    return [f](auto&&... args) {
        try {
            return f(std::forward<decltype(args)>(args)...);
        } catch (const RtMidiError& error) {
            throw MidiFailure(error.getMessage());
        }
    };
}

}  // namespace

void bindRtMidi(MidiSeam& seam, RtMidiObjects& objects) {
    seam.create = reported([&objects] {
        std::cerr.rdbuf(&objects.watch);
        objects.out = createRtMidi<RtMidiOut>(RtMidi::UNSPECIFIED, "RtMidi Output Client");
        // The input uses the output's API, so both ports live on the same system.
        objects.in = createRtMidi<RtMidiIn>(objects.out->getCurrentApi(), "RtMidi Input Client",
                                            kInputQueueLimit);
        // WinMM silently drops a System Exclusive message that arrives while its driver
        // holds none of the program's buffers (RtMidi gives it 4): one for each message
        // the queue can hold, each as long as the longest the handheld sends. Only
        // WinMM uses this.
        objects.in->setBufferSize(wire::kLongestAnswerLength, kInputQueueLimit);
        throwLibraryErrors(*objects.out);
        throwLibraryErrors(*objects.in);
        objects.in->ignoreTypes(false, true, true);
    });
    seam.destroy = [&objects] {
        // The output first, as the program has always closed them.
        objects.out.reset();
        objects.in.reset();
        std::cerr.rdbuf(objects.watch.through());
    };
    seam.portNames = reported([&objects](Direction direction) { return portNamesOf(objectOf(objects, direction)); });
    seam.openPort = reported([&objects](Direction direction, unsigned index) {
        RtMidi& object = objectOf(objects, direction);
        openedName(objects, direction) = object.getPortName(index);
        object.openPort(index, "RtMidi");
    });
    seam.missingPort = [&objects] { return missingPort(objects); };
    seam.send = reported([&objects](const Bytes& message) { objects.out->sendMessage(&message); });
    seam.poll = reported([&objects](Bytes& message) { objects.in->getMessage(&message); });
    seam.dropped = [&objects] { return objects.watch.dropped(); };
}
