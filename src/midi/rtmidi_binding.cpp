#include "midi/rtmidi_binding.h"

#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>
#include <vector>

#include "link/protocol.h"
#include "midi/drop_watch.h"
#include "platform/platform.h"

#ifdef TPMIDI_ALSA_INPUT_POOL
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#endif

namespace {

// Messages RtMidi keeps for the program to take; it drops what arrives beyond them.
// A stalled program gets what piled up meanwhile in one burst: 1024 hold 3.6 s of the
// handheld's stream (docs/reliability.md).
constexpr unsigned kInputQueueLimit = 1024;
// What that queue holds of the stream, less a margin: over JACK it is all a stopped program
// has, the server's own buffer being a cycle's. Elsewhere the MIDI system's own buffer
// fills first (the ALSA sequencer's, 0.28 s unless enlarged, below), and the link counts
// on no more.
constexpr std::chrono::milliseconds kJackKeeps{2500};
// What the ALSA sequencer keeps once it granted the program's larger input buffer (2.8 s
// of the stream, below), less a margin; where it did not, 0.28 s, and the link counts on
// no more.
constexpr std::chrono::milliseconds kAlsaEnlargedKeeps{2500};
// Whether the sequencer granted the input buffer last asked for (a run opens one input).
std::atomic<bool> alsaInputEnlarged{false};

// The objects of one run, and what the seam remembers of them.
struct RtMidiObjects {
    DropWatch watch{std::cerr.rdbuf()};
    // The seam's destroy deletes the output first, then the input; declared in this
    // order, they are deleted so too when the objects go out of scope.
    RtMidiInPtr in;
    RtMidiOutPtr out;
    // The names of the ports opened, and the first of them found gone, for good.
    std::string inName, outName, gone;
};

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

// Whether the object's MIDI system may still list a port of that name: a port that
// vanishes while it is looked at makes the library complain, and is looked for again later.
bool mayStillBeListed(RtMidi& object, const std::string& name) {
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
        if (!name.empty() && !mayStillBeListed(objectOf(objects, direction), name)) {
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

void closeBeforeDelete(RtMidi& object, RtMidi::Api api) {
    if (api == RtMidi::UNIX_JACK) std::this_thread::sleep_for(kJackSettle);
    try {
        object.closePort();
    } catch (const RtMidiError&) {
    }
    std::this_thread::sleep_for(kCallbackSettle);
}

// The MIDI systems to try for `api` (UNSPECIFIED: every one compiled in, in the library's
// order). Without its device the ALSA sequencer is not tried: its library and RtMidi
// would print their complaints, then fail. What is missing is added to `missing`.
std::vector<RtMidi::Api> systemsToTry(RtMidi::Api api, std::string& missing) {
    std::vector<RtMidi::Api> apis = {api};
    if (api == RtMidi::UNSPECIFIED) RtMidi::getCompiledApi(apis);
    if (std::count(apis.begin(), apis.end(), RtMidi::LINUX_ALSA) && !std::filesystem::exists("/dev/snd/seq")) {
        apis.erase(std::remove(apis.begin(), apis.end(), RtMidi::LINUX_ALSA), apis.end());
        missing = "no ALSA sequencer (/dev/snd/seq)";
    }
    return apis;
}

// The object's port count, or -1 when its MIDI system failed (RtMidi's JACK backend only
// warns when it finds no server, and then counts none); the library's text in `failure`.
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

// The failure that says in plain words which MIDI systems are missing, and what to start.
MidiFailure noMidiSystem(RtMidi::Api system, const std::string& failure, std::string& missing) {
    missing += (missing.empty() ? "" : " and ") + (system == RtMidi::UNIX_JACK ? "no JACK server running" : failure);
    return MidiFailure("no MIDI system: " + missing +
                       "; start a JACK server or load the ALSA sequencer (see TROUBLESHOOTING in man tpmidi01)");
}


// Creates an object on the first MIDI system whose object has a port, or else on the
// first that works.
template <typename T, typename Ptr, typename... Args>
Ptr createOnSomeSystem(RtMidi::Api api, const std::string& clientName, Args... args) {
    std::string missing;
    MidiFailure noSystem("no MIDI system");
    Ptr portless;
    for (const RtMidi::Api system : systemsToTry(api, missing)) {
        Ptr object;
        int ports = -1;
        std::string failure;
        {
            QuietErrorStream quiet;
            try {
                object.reset(new T(system, clientName, args...));
                ports = portCount(*object, failure);
            } catch (const RtMidiError& error) {
                failure = error.getMessage();
            }
            if (ports < 0) object.reset();
        }
        if (ports < 0) {
            noSystem = noMidiSystem(system, failure, missing);
        } else if (ports > 0) {
            return object;
        } else if (!portless) {
            portless = std::move(object);
        }
    }
    if (!portless) throw noSystem;
    return portless;
}


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

void CloseAndDelete::operator()(RtMidiIn* object) const {
    closeBeforeDelete(*object, object->getCurrentApi());
    delete object;
}

void CloseAndDelete::operator()(RtMidiOut* object) const {
    closeBeforeDelete(*object, object->getCurrentApi());
    delete object;
}

RtMidiOutPtr createMidiOut(const std::string& clientName) {
    return createOnSomeSystem<RtMidiOut, RtMidiOutPtr>(RtMidi::UNSPECIFIED, clientName);
}

RtMidiInPtr createMidiIn(const std::string& clientName, RtMidiOut& sameSystemAs) {
    RtMidiInPtr in = createOnSomeSystem<RtMidiIn, RtMidiInPtr>(sameSystemAs.getCurrentApi(),
                                                               clientName, kInputQueueLimit);
    // WinMM silently drops a System Exclusive message that arrives while its driver
    // holds none of the program's buffers (RtMidi gives it 4): one for each message
    // the queue can hold. Each is as long as the longest message the program sends,
    // which the loopback check takes back: RtMidi hands over each buffer as a message
    // of its own, so a longer message would come in pieces. Only WinMM uses this.
    in->setBufferSize(wire::kBlockPacketLength, kInputQueueLimit);
    in->ignoreTypes(false, true, true);
    return in;
}

void throwLibraryErrors(RtMidiIn& object) { object.setErrorCallback(onLibraryError, nullptr); }
void throwLibraryErrors(RtMidiOut& object) { object.setErrorCallback(onLibraryError, nullptr); }

void bindRtMidi(MidiSeam& seam) {
    const auto objects = std::make_shared<RtMidiObjects>();
    seam.create = reported([objects] {
        std::cerr.rdbuf(&objects->watch);
        objects->out = createMidiOut("RtMidi Output Client");
        // The input uses the output's API, so both ports live on the same system.
        objects->in = createMidiIn("RtMidi Input Client", *objects->out);
        throwLibraryErrors(*objects->out);
        throwLibraryErrors(*objects->in);
    });
    seam.destroy = [objects] {
        // The output first, then the input.
        objects->out.reset();
        objects->in.reset();
        std::cerr.rdbuf(objects->watch.through());
    };
    seam.portNames = reported([objects](Direction direction) { return portNamesOf(objectOf(*objects, direction)); });
    seam.openPort = reported([objects](Direction direction, unsigned index) {
        RtMidi& object = objectOf(*objects, direction);
        openedName(*objects, direction) = object.getPortName(index);
        object.openPort(index, "RtMidi");
    });
    seam.missingPort = [objects] { return missingPort(*objects); };
    seam.send = reported([objects](const Bytes& message) { objects->out->sendMessage(&message); });
    seam.poll = reported([objects](Bytes& message) { objects->in->getMessage(&message); });
    seam.passRealTime = reported([objects] { objects->in->ignoreTypes(false, false, false); });
    seam.dropped = [objects] { return objects->watch.dropped(); };
    seam.keptWhileStopped = [objects] {
        const RtMidi::Api api = objects->in ? objects->in->getCurrentApi() : RtMidi::UNSPECIFIED;
        if (api == RtMidi::UNIX_JACK) return kJackKeeps;
        return api == RtMidi::LINUX_ALSA && alsaInputEnlarged ? kAlsaEnlargedKeeps : std::chrono::milliseconds(0);
    };
}

#ifdef TPMIDI_ALSA_INPUT_POOL
// The ALSA sequencer keeps 200 cells for a client that does not read: about 80 of the
// handheld's messages, 0.28 s of its stream. When RtMidi's input thread waits longer for
// the processor (every core busy), the kernel drops all it kept. RtMidi offers no way to
// enlarge that, so its opening of the sequencer is wrapped, here in the program, where
// the dynamic linker finds it before the library's, and each client that reads asks for
// the most the kernel grants: 2000 cells, about 2.8 s. Looked up, not linked, so the
// program needs no more than RtMidi does; where the kernel refuses, the default stays.
constexpr size_t kAlsaInputCells = 2000;

extern "C" int snd_seq_open(snd_seq_t** handle, const char* name, int streams, int mode) {
    using Open = int (*)(snd_seq_t**, const char*, int, int);
    using SetPool = int (*)(snd_seq_t*, size_t);
    static const auto open = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "snd_seq_open"));
    static const auto setPool = reinterpret_cast<SetPool>(dlsym(RTLD_NEXT, "snd_seq_set_client_pool_input"));
    if (!open) return -ENOSYS;
    const int result = open(handle, name, streams, mode);
    if (result == 0 && (streams & SND_SEQ_OPEN_INPUT)) alsaInputEnlarged = setPool && setPool(*handle, kAlsaInputCells) == 0;
    return result;
}
#endif
