// The simulator program: the simulated handheld on virtual MIDI ports whose names begin with
// "trackpod", so that tpmidi01 finds them by itself.
#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "midi/rtmidi_binding.h"
#include "cable.h"
#include "handheld.h"
#include "link/protocol.h"
#include "platform/platform.h"
#include "rawmidi.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) { stopRequested = true; }

// Every line the simulator says of itself begins so, on either stream.
std::ostream& said(std::ostream& to) { return to << "trackpod-sim: "; }

// Messages from the MIDI library's thread, handed to the main loop.
struct Inbox {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Bytes> messages;
};

void onMessage(double, std::vector<unsigned char>* message, void* data) {
    auto* inbox = static_cast<Inbox*>(data);
    {
        std::lock_guard<std::mutex> lock(inbox->mutex);
        inbox->messages.push_back(*message);
    }
    inbox->ready.notify_one();
}

// Names are UTF-8 on every system; u8path makes them wide where Windows needs it.
bool readFile(const std::string& name, Bytes& data) {
    std::ifstream file(std::filesystem::u8path(name), std::ios::binary);
    if (!file) return false;
    data.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

bool writeFile(const std::string& name, const std::vector<std::uint8_t>& data) {
    std::ofstream file(std::filesystem::u8path(name), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(file);
}

struct Options {
    HandheldConfig config;
    // No handheld: a cable from the program's output back to its input.
    bool loopback = false;
    CableConfig cable;
    std::string save, gbaSave, log, name = "trackpod-sim", rawDevice;
    // A bank streams as fast as the cable carries it: a byte packet at a byte's time each.
    unsigned paceUs = static_cast<unsigned>(wire::kBytePacketLength * wire::kByteTime.count());
    bool cablePace = false;
};

// A whole number, in decimal or 0x hex, or the option's value is refused.
unsigned number(const std::string& text) {
    std::size_t end = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &end, 0);
    } catch (const std::logic_error&) {
        end = 0;
    }
    if (end == 0 || end != text.size() || value > std::numeric_limits<unsigned>::max()) {
        throw std::invalid_argument("not a number: " + text);
    }
    return static_cast<unsigned>(value);
}

// The two halves of an option's "A:B" value.
std::pair<std::string, std::string> twoValues(const std::string& value) {
    const auto colon = value.find(':');
    if (colon == std::string::npos) throw std::invalid_argument("wants two values: A:B");
    return {value.substr(0, colon), value.substr(colon + 1)};
}

// One option: its name, the form of its value (null for none), its lines in --help, and
// what it sets. The table drives --help and the parsing alike.
struct SimOption {
    const char* name;
    const char* value;
    const char* help;
    void (*apply)(Options& o, const std::string& value);
};

std::uint8_t byteOf(const std::string& v) { return static_cast<std::uint8_t>(number(v)); }

const SimOption kOptions[] = {
    {"--bank", "FILE", "send FILE, one message per byte, when asked for a bank",
     [](Options& o, const std::string& v) {
         if (!readFile(v, o.config.bank)) throw std::invalid_argument("cannot read " + v);
     }},
    {"--save", "FILE", "on exit, write what the last upload delivered: its bytes,\nor for a multiboot the console's image",
     [](Options& o, const std::string& v) { o.save = v; }},
    {"--gba-save", "FILE", "on exit, write the Game Boy Advance's decrypted image",
     [](Options& o, const std::string& v) { o.gbaSave = v; }},
    {"--log", "FILE", "write every message received, in hex, one per line",
     [](Options& o, const std::string& v) { o.log = v; }},
    {"--pace-us", "N", "pause between the messages of a bank (default 3520: a\ncable's 11 bytes of 320 us)",
     [](Options& o, const std::string& v) { o.paceUs = number(v); }},
    {"--status", "N", "answer status N to every mode switch and bank request",
     [](Options& o, const std::string& v) { o.config.commandStatus = static_cast<int>(number(v)); }},
    {"--silent", nullptr, "never answer a command", [](Options& o, const std::string&) { o.config.silent = true; }},
    {"--stray", "KIND", "put a stray message (channel, short, sysex, identity)\nahead of every command answer",
     [](Options& o, const std::string& v) { o.config.strayBeforeAnswer.push_back(strayMessage(v)); }},
    {"--bank-stray", "I:KIND",
     "put a stray message (channel, short, sysex, identity: an\ninterface's identity reply) before bank byte I",
     [](Options& o, const std::string& v) {
         const auto [at, kind] = twoValues(v);
         o.config.bankStrays.emplace_back(number(at), strayMessage(kind));
     }},
    {"--bank-hole", "K:N", "leave out N messages of the bank after byte K, their\nnumbers used up, as a MIDI system that drops them",
     [](Options& o, const std::string& v) {
         const auto [after, count] = twoValues(v);
         o.config.bankHoles.emplace_back(number(after), number(count));
     }},
    {"--bank-number", "N", "number every message of the bank N: a numbering that\ndoes not count",
     [](Options& o, const std::string& v) { o.config.bankNumber = static_cast<std::uint8_t>(byteOf(v) & wire::kNumberMask); }},
    {"--faults", "N", "give every N-th data answer a fault: wrong number, stale,\nduplicate, short, channel message, unrelated SysEx, in turn",
     [](Options& o, const std::string& v) { o.config.faultEvery = number(v); }},
    {"--answer-packets", "N", "answer N data packets, then fall silent",
     [](Options& o, const std::string& v) { o.config.answerPackets = number(v); }},
    {"--gba-client", "N", "the console's client byte (default 0)",
     [](Options& o, const std::string& v) { o.config.gba.clientByte = byteOf(v); }},
    {"--gba-length", "N", "the byte the console answers to the length (default 0)",
     [](Options& o, const std::string& v) { o.config.gba.lengthByte = byteOf(v); }},
    {"--gba-wait", "N", "tries before the console answers the first 0x6202 (default 1)",
     [](Options& o, const std::string& v) { o.config.gba.waitTries = number(v); }},
    {"--gba-end", "N|never", "0x65 tries before the console confirms the end (default 1)",
     [](Options& o, const std::string& v) { o.config.gba.endTries = v == "never" ? -1 : static_cast<int>(number(v)); }},
    {"--name", "NAME", "client name prefix (default trackpod-sim)", [](Options& o, const std::string& v) { o.name = v; }},
    {"--raw-midi", "DEVICE",
     "no virtual ports: serve the byte stream of a raw MIDI\ndevice (Linux: /dev/snd/midiC<n>D0 of an snd-virmidi card\n"
     "or of a USB MIDI gadget), as a handheld behind a MIDI\ninterface; ends when the device goes away",
     [](Options& o, const std::string& v) { o.rawDevice = v; }},
    {"--cable-pace", nullptr, "take and send every byte at the MIDI cable's rate (320 us\na byte): with --raw-midi the device's; on virtual ports\neach answer leaves once it and the message before it\nwould have crossed a cable",
     [](Options& o, const std::string&) { o.cablePace = true; }},
    {"--loopback", nullptr, "no handheld: a cable from the program's output back to its\ninput, which returns what it is sent; the --loop-* options\nspoil it (and imply it)",
     [](Options& o, const std::string&) { o.loopback = true; }},
    {"--loop-change", "N", "change a byte of every N-th message carried",
     [](Options& o, const std::string& v) { o.loopback = true, o.cable.changeEvery = number(v); }},
    {"--loop-lose-two-of-six", nullptr, "lose two bytes of every six carried, as a CH345 chip does",
     [](Options& o, const std::string&) { o.loopback = true, o.cable.loseTwoOfSix = true; }},
    {"--loop-drop-byte", "N", "lose the N-th byte carried, and every 256th after it",
     [](Options& o, const std::string& v) { o.loopback = true, o.cable.dropByte = number(v); }},
    {"--loop-cut", "N", "cut messages longer than N bytes to N, the last an F7",
     [](Options& o, const std::string& v) { o.loopback = true, o.cable.cutAt = number(v); }},
    {"--loop-lose", "N", "lose every N-th message",
     [](Options& o, const std::string& v) { o.loopback = true, o.cable.loseEvery = number(v); }},
    {"--loop-byte-us", "N", "carry each message at N us a byte, slower than the\ncable's 320",
     [](Options& o, const std::string& v) { o.loopback = true, o.cable.byteTimeUs = number(v); }},
    {"--loop-sensing", "N", "add an Active Sensing message after every N-th message",
     [](Options& o, const std::string& v) { o.loopback = true, o.cable.sensingEvery = number(v); }},
    {"--help", nullptr, "this text", nullptr},
};

void printHelp() {
    std::cout << "usage: trackpod-sim [options]\n\n"
                 "A simulated trackpod handheld on virtual MIDI ports named \"trackpod-sim ...\".\n"
                 "It answers tpmidi01's commands and data packets until it is stopped (Ctrl-C or\n"
                 "SIGTERM), then writes what it was asked to save and a summary.\n\n";
    for (const SimOption& option : kOptions) {
        std::string head = std::string("  ") + option.name + (option.value ? std::string(" ") + option.value : "");
        head.resize(std::max<std::size_t>(head.size() + 1, 21), ' ');
        std::string help = option.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
            help.insert(at + 1, std::string(21, ' '));
        }
        std::cout << head << help << '\n';
    }
}

// What the command line asked for: to serve, the usage text, or nothing, for a reason.
struct Parsed {
    bool help = false;
    std::string error;
};

Parsed parse(const std::vector<std::string>& args, Options& o) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [&arg](const SimOption& known) { return arg == known.name; });
        if (option == std::end(kOptions)) return {false, "unknown option " + arg + " (see --help)"};
        if (!option->apply) return {true, ""};
        if (option->value && i + 1 >= args.size()) return {false, arg + " needs a value"};
        try {
            option->apply(o, option->value ? args[++i] : std::string());
        } catch (const std::invalid_argument& e) {
            return {false, arg + ": " + e.what()};
        }
    }
    return {};
}

// What a run served, for the summary.
struct Served {
    bool ready = false;  // its ports were open
    unsigned streamed = 0;
    std::chrono::steady_clock::time_point firstPacket, lastPacket;
};

// One message from the program: logged, handed to the far end, and its answers sent.
template <typename FarEnd>
void serve(const Bytes& message, FarEnd& farEnd, const Options& options, std::ofstream& log,
           Served& served, const std::function<void(const Bytes&)>& send) {
    if (log.is_open()) log << hexLine(message) << std::endl;
    const unsigned packetsBefore = farEnd.dataPackets();
    farEnd.receive(message);
    if (farEnd.dataPackets() != packetsBefore) {
        served.lastPacket = std::chrono::steady_clock::now();
        if (packetsBefore == 0) served.firstPacket = served.lastPacket;
    }
    // On virtual ports at the cable's pace, an answer leaves once the message and the answer
    // would have crossed a cable (a raw device paces its own bytes).
    const bool carried = options.cablePace && options.rawDevice.empty();
    std::size_t bytesBefore = message.size();
    Outgoing outgoing;
    while (!stopRequested && farEnd.take(outgoing)) {
        if (carried && !outgoing.streamed) {
            std::this_thread::sleep_for(wire::kByteTime * (std::exchange(bytesBefore, 0) + outgoing.bytes.size()));
        }
        if (outgoing.streamed) {
            // A real cable carries one message per 3.5 ms; the program's input
            // queue is bounded, so an unpaced stream would lose bytes.
            std::this_thread::sleep_for(std::chrono::microseconds(options.paceUs));
            ++served.streamed;
        }
        std::this_thread::sleep_for(outgoing.hold);
        send(outgoing.bytes);
    }
}

// The two virtual ports, or false, said why, where the MIDI system has none.
bool openVirtualPorts(const Options& options, Inbox& inbox, RtMidiOutPtr& out, RtMidiInPtr& in) {
    // The ports' own names begin with the client's too: WinMM (Wine's driver over ALSA)
    // shows a port's name without its client's.
    const std::string toHandheld = options.name + " to-handheld", fromHandheld = options.name + " from-handheld";
    try {
        out = createMidiOut(options.name + " out");
        in = createMidiIn(options.name + " in", *out);
        in->setCallback(onMessage, &inbox);
        // Where the MIDI system has no virtual ports (Windows) the library only
        // warns: fail at once instead of serving nothing.
        throwLibraryErrors(*in);
        throwLibraryErrors(*out);
        in->openVirtualPort(toHandheld);
        out->openVirtualPort(fromHandheld);
        in->setErrorCallback(nullptr, nullptr);
        out->setErrorCallback(nullptr, nullptr);
    } catch (const RtMidiError& e) {
        said(std::cerr) << "cannot open virtual MIDI ports: " << e.getMessage() << "\n";
        return false;
    } catch (const MidiFailure& e) {
        said(std::cerr) << "cannot open virtual MIDI ports: " << e.what() << "\n";
        return false;
    }
    std::cout << "trackpod-sim ready on " << RtMidi::getApiDisplayName(out->getCurrentApi()) << ": \""
              << toHandheld << "\" in, \"" << fromHandheld << "\" out" << std::endl;
    return true;
}

// The oldest message the library's thread has handed over, waiting a little for one.
bool nextFromInbox(Inbox& inbox, Bytes& message) {
    std::unique_lock<std::mutex> lock(inbox.mutex);
    inbox.ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return !inbox.messages.empty(); });
    if (inbox.messages.empty()) return false;
    message.swap(inbox.messages.front());
    inbox.messages.pop_front();
    return true;
}

// The far end on virtual ports of the MIDI library's own system.
template <typename FarEnd>
int serveVirtualPorts(FarEnd& farEnd, const Options& options, std::ofstream& log, Served& served) {
    Inbox inbox;
    RtMidiOutPtr out;
    RtMidiInPtr in;
    if (!openVirtualPorts(options, inbox, out, in)) return 1;
    served.ready = true;
    int status = 0;
    Bytes message;
    try {
        while (!stopRequested) {
            if (!nextFromInbox(inbox, message)) continue;
            serve(message, farEnd, options, log, served, [&](const Bytes& m) { out->sendMessage(&m); });
        }
    } catch (const RtMidiError& e) {
        said(std::cerr) << "the MIDI system failed: " << e.getMessage() << "\n";
        status = 1;
    }
    // The callback off before its object goes; then the input, then the output.
    in->cancelCallback();
    in.reset();
    out.reset();
    return status;
}

// The far end behind a MIDI interface: the byte stream of a raw MIDI device.
template <typename FarEnd>
int serveRawMidi(FarEnd& farEnd, const Options& options, std::ofstream& log, Served& served) {
    try {
        RawMidi cable(options.rawDevice, options.cablePace);
        served.ready = true;
        std::cout << "trackpod-sim ready on " << options.rawDevice << (options.cablePace ? " at cable pace" : "")
                  << std::endl;
        Bytes message;
        while (!stopRequested) {
            if (cable.next(message, std::chrono::milliseconds(50))) {
                serve(message, farEnd, options, log, served, [&](const Bytes& m) { cable.send(m); });
            }
        }
    } catch (const std::runtime_error& e) {
        said(std::cerr) << e.what() << "\n";
        return 1;
    }
    return 0;
}

template <typename FarEnd>
int serveFarEnd(FarEnd& farEnd, const Options& options, std::ofstream& log, Served& served) {
    return options.rawDevice.empty() ? serveVirtualPorts(farEnd, options, log, served)
                                     : serveRawMidi(farEnd, options, log, served);
}

// What was served is saved and summed up however serving ended.
void sayWhatWasServed(const Handheld& handheld, const Options& options, const Served& served) {
    if (!options.save.empty() && !writeFile(options.save, handheld.uploaded())) {
        said(std::cerr) << "cannot write " << options.save << "\n";
    }
    if (!options.gbaSave.empty() && !writeFile(options.gbaSave, handheld.gba().image())) {
        said(std::cerr) << "cannot write " << options.gbaSave << "\n";
    }
    said(std::cout) << handheld.summary() << ", " << served.streamed << " bank bytes sent\n";
    if (handheld.dataPackets() > 1) {
        const double span = std::chrono::duration<double>(served.lastPacket - served.firstPacket).count();
        said(std::cout) << "data packets " << handheld.dataPackets() << " in " << span << " s, "
                        << span * 1e6 / (handheld.dataPackets() - 1) << " us each\n";
    }
    if (handheld.gba().blocksReceived() > 0) said(std::cout) << handheld.gba().verdict() << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const Parsed parsed = parse(programArguments(argc, argv), options);
    if (parsed.help) {
        printHelp();
        return 0;
    }
    if (!parsed.error.empty()) {
        said(std::cerr) << parsed.error << "\n";
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    std::ofstream log;
    if (!options.log.empty()) log.open(std::filesystem::u8path(options.log));
    Served served;
    if (options.loopback) {
        Cable cable(options.cable);
        const int status = serveFarEnd(cable, options, log, served);
        if (served.ready) said(std::cout) << cable.summary() << "\n";
        return status;
    }
    Handheld handheld(options.config);
    const int status = serveFarEnd(handheld, options, log, served);
    if (served.ready) sayWhatWasServed(handheld, options, served);
    return status;
}
