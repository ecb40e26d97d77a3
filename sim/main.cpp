// trackpod-sim: the simulated handheld on virtual MIDI ports whose names begin with
// "trackpod", so that tpmidi01 finds them by itself.
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
#include <mutex>
#include <string>
#include <thread>

#include "midi/rtmidi_binding.h"
#include "handheld.h"
#include "platform/platform.h"
#include "rawmidi.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) { stopRequested = true; }

// Messages from the MIDI library's thread, handed to the main loop.
struct Inbox {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Message> messages;
};

void onMessage(double, std::vector<unsigned char>* message, void* data) {
    auto* inbox = static_cast<Inbox*>(data);
    {
        std::lock_guard<std::mutex> lock(inbox->mutex);
        inbox->messages.push_back(*message);
    }
    inbox->ready.notify_one();
}

const char* kHelp =
    "usage: trackpod-sim [options]\n"
    "\n"
    "A simulated trackpod handheld on virtual MIDI ports named \"trackpod-sim ...\".\n"
    "It answers tpmidi01's commands and data packets until it is stopped (Ctrl-C or\n"
    "SIGTERM), then writes what it was asked to save and a summary.\n"
    "\n"
    "  --bank FILE        send FILE, one message per byte, when asked for a bank\n"
    "  --save FILE        on exit, write what the last upload delivered: its bytes,\n"
    "                     or for a multiboot the console's image\n"
    "  --gba-save FILE    on exit, write the Game Boy Advance's decrypted image\n"
    "  --log FILE         write every message received, in hex, one per line\n"
    "  --pace-us N        pause between the messages of a bank (default 3520: a\n"
    "                     cable's 11 bytes of 320 us)\n"
    "  --status N         answer status N to every mode switch and bank request\n"
    "  --silent           never answer a command\n"
    "  --stray KIND       put a stray message (channel, short, sysex) ahead of\n"
    "                     every command answer\n"
    "  --bank-stray I:KIND  put a stray message (channel, sysex, identity: an\n"
    "                     interface's identity reply) before bank byte I\n"
    "  --bank-hole K:N    leave out N messages of the bank after byte K, their\n"
    "                     numbers used up, as a MIDI system that drops them\n"
    "  --bank-number N    number every message of the bank N: a numbering that\n"
    "                     does not count\n"
    "  --faults N         give every N-th data answer a fault: wrong number, stale,\n"
    "                     duplicate, short, channel message, unrelated SysEx, in turn\n"
    "  --answer-packets N answer N data packets, then fall silent\n"
    "  --gba-client N     the console's client byte (default 0)\n"
    "  --gba-length N     the byte the console answers to the length (default 0)\n"
    "  --gba-wait N       tries before the console answers the first 0x6202 (default 1)\n"
    "  --gba-end N|never  0x65 tries before the console confirms the end (default 1)\n"
    "  --name NAME        client name prefix (default trackpod-sim)\n"
    "  --raw-midi DEVICE  no virtual ports: serve the byte stream of a raw MIDI\n"
    "                     device (Linux: /dev/snd/midiC<n>D0 of an snd-virmidi card\n"
    "                     or of a USB MIDI gadget), as a handheld behind a MIDI\n"
    "                     interface; ends when the device goes away\n"
    "  --cable-pace       with --raw-midi, take and send every byte at the MIDI\n"
    "                     cable's rate (320 us a byte)\n"
    "  --help             this text\n";

// Names are UTF-8 on every system; u8path makes them wide where Windows needs it.
bool readFile(const std::string& name, Message& data) {
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
    std::string save, gbaSave, log, name = "trackpod-sim", rawDevice;
    // A bank streams as fast as the cable carries it: a byte packet at a byte's time each.
    unsigned paceUs = static_cast<unsigned>(wire::kBytePacketLength * RawMidi::kByteTime.count());
    bool cablePace = false;
};

unsigned number(const char* text) { return static_cast<unsigned>(std::stoul(text, nullptr, 0)); }

// The two halves of an option's "A:B" value.
std::pair<std::string, std::string> pair(const std::string& option, const std::string& value) {
    const auto colon = value.find(':');
    if (colon == std::string::npos) throw std::invalid_argument(option + " wants two values: A:B");
    return {value.substr(0, colon), value.substr(colon + 1)};
}

void parse(const std::vector<std::string>& args, Options& o) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string arg = args[i];
        const bool hasValue = i + 1 < args.size();
        auto value = [&]() -> const char* {
            if (!hasValue) throw std::invalid_argument(arg + " needs a value");
            return args[++i].c_str();
        };
        if (arg == "--help") {
            std::cout << kHelp;
            std::exit(0);
        } else if (arg == "--bank") {
            const std::string name = value();
            if (!readFile(name, o.config.bank)) throw std::invalid_argument("cannot read " + name);
        } else if (arg == "--save") {
            o.save = value();
        } else if (arg == "--gba-save") {
            o.gbaSave = value();
        } else if (arg == "--log") {
            o.log = value();
        } else if (arg == "--pace-us") {
            o.paceUs = number(value());
        } else if (arg == "--status") {
            o.config.commandStatus = static_cast<int>(number(value()));
        } else if (arg == "--silent") {
            o.config.silent = true;
        } else if (arg == "--stray") {
            o.config.strayBeforeAnswer.push_back(strayMessage(value()));
        } else if (arg == "--bank-stray") {
            const auto [at, kind] = pair(arg, value());
            o.config.bankStrays.emplace_back(std::stoul(at), strayMessage(kind));
        } else if (arg == "--bank-hole") {
            const auto [after, count] = pair(arg, value());
            o.config.bankHoles.emplace_back(std::stoul(after), std::stoul(count));
        } else if (arg == "--bank-number") {
            o.config.bankNumber = static_cast<std::uint8_t>(number(value()) & wire::kNumberMask);
        } else if (arg == "--faults") {
            o.config.faultEvery = number(value());
        } else if (arg == "--answer-packets") {
            o.config.answerPackets = number(value());
        } else if (arg == "--gba-client") {
            o.config.gba.clientByte = static_cast<std::uint8_t>(number(value()));
        } else if (arg == "--gba-length") {
            o.config.gba.lengthByte = static_cast<std::uint8_t>(number(value()));
        } else if (arg == "--gba-wait") {
            o.config.gba.waitTries = number(value());
        } else if (arg == "--gba-end") {
            const std::string v = value();
            o.config.gba.endTries = v == "never" ? -1 : static_cast<int>(number(v.c_str()));
        } else if (arg == "--name") {
            o.name = value();
        } else if (arg == "--raw-midi") {
            o.rawDevice = value();
        } else if (arg == "--cable-pace") {
            o.cablePace = true;
        } else {
            throw std::invalid_argument("unknown option " + arg + " (see --help)");
        }
    }
}

// What a run served, for the summary.
struct Served {
    bool ready = false;  // its ports were open
    unsigned streamed = 0;
    std::chrono::steady_clock::time_point firstPacket, lastPacket;
};

// One message from the program: logged, handed to the handheld, and its answers sent.
void serve(const Message& message, Handheld& handheld, const Options& options, std::ofstream& log,
           Served& served, const std::function<void(const Message&)>& send) {
    if (log.is_open()) log << hexLine(message) << std::endl;
    const unsigned packetsBefore = handheld.dataPackets();
    handheld.receive(message);
    if (handheld.dataPackets() != packetsBefore) {
        served.lastPacket = std::chrono::steady_clock::now();
        if (packetsBefore == 0) served.firstPacket = served.lastPacket;
    }
    Outgoing outgoing;
    while (!stopRequested && handheld.take(outgoing)) {
        if (outgoing.streamed) {
            // A real cable carries one message per 3.5 ms; the program's input
            // queue is bounded, so an unpaced stream would lose bytes.
            std::this_thread::sleep_for(std::chrono::microseconds(options.paceUs));
            ++served.streamed;
        }
        send(outgoing.bytes);
    }
}

// The handheld on virtual ports of the MIDI library's own system.
int serveVirtualPorts(Handheld& handheld, const Options& options, std::ofstream& log, Served& served) {
    Inbox inbox;
    RtMidiPtr<RtMidiOut> out;
    RtMidiPtr<RtMidiIn> in;
    // The ports' own names begin with the client's too: WinMM (Wine's driver over ALSA)
    // shows a port's name without its client's.
    const std::string toHandheld = options.name + " to-handheld", fromHandheld = options.name + " from-handheld";
    try {
        out = createRtMidi<RtMidiOut>(RtMidi::UNSPECIFIED, options.name + " out");
        in = createRtMidi<RtMidiIn>(out->getCurrentApi(), options.name + " in", kInputQueueLimit);
        in->ignoreTypes(false, true, true);
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
        std::cerr << "trackpod-sim: cannot open virtual MIDI ports: " << e.getMessage() << "\n";
        return 1;
    }
    served.ready = true;
    std::cout << "trackpod-sim ready on " << RtMidi::getApiDisplayName(out->getCurrentApi()) << ": \""
              << toHandheld << "\" in, \"" << fromHandheld << "\" out" << std::endl;
    int status = 0;
    Message message;
    try {
        while (!stopRequested) {
            {
                std::unique_lock<std::mutex> lock(inbox.mutex);
                inbox.ready.wait_for(lock, std::chrono::milliseconds(50),
                                     [&] { return !inbox.messages.empty(); });
                if (inbox.messages.empty()) continue;
                message.swap(inbox.messages.front());
                inbox.messages.pop_front();
            }
            serve(message, handheld, options, log, served, [&](const Message& m) { out->sendMessage(&m); });
        }
    } catch (const RtMidiError& e) {
        std::cerr << "trackpod-sim: the MIDI system failed: " << e.getMessage() << "\n";
        status = 1;
    }
    // The callback off before its object goes; then the input, then the output, as the
    // simulator has always closed them.
    in->cancelCallback();
    in.reset();
    out.reset();
    return status;
}

// The handheld behind a MIDI interface: the byte stream of a raw MIDI device.
int serveRawMidi(Handheld& handheld, const Options& options, std::ofstream& log, Served& served) {
    try {
        RawMidi cable(options.rawDevice, options.cablePace);
        served.ready = true;
        std::cout << "trackpod-sim ready on " << options.rawDevice << (options.cablePace ? " at cable pace" : "")
                  << std::endl;
        Message message;
        while (!stopRequested) {
            if (cable.next(message, std::chrono::milliseconds(50))) {
                serve(message, handheld, options, log, served, [&](const Message& m) { cable.send(m); });
            }
        }
    } catch (const std::runtime_error& e) {
        std::cerr << "trackpod-sim: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        parse(programArguments(argc, argv), options);
    } catch (const std::exception& e) {
        std::cerr << "trackpod-sim: " << e.what() << "\n";
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Handheld handheld(options.config);
    std::ofstream log;
    if (!options.log.empty()) log.open(std::filesystem::u8path(options.log));
    Served served;
    const int status = options.rawDevice.empty() ? serveVirtualPorts(handheld, options, log, served)
                                                 : serveRawMidi(handheld, options, log, served);
    if (!served.ready) return status;
    // What was served is saved and summed up however serving ended.

    if (!options.save.empty() && !writeFile(options.save, handheld.uploaded())) {
        std::cerr << "trackpod-sim: cannot write " << options.save << "\n";
    }
    if (!options.gbaSave.empty() && !writeFile(options.gbaSave, handheld.gba().image())) {
        std::cerr << "trackpod-sim: cannot write " << options.gbaSave << "\n";
    }
    std::cout << "trackpod-sim: " << handheld.summary() << ", " << served.streamed
              << " bank bytes sent\n";
    if (handheld.dataPackets() > 1) {
        const double span = std::chrono::duration<double>(served.lastPacket - served.firstPacket).count();
        std::cout << "trackpod-sim: data packets " << handheld.dataPackets() << " in " << span
                  << " s, " << span * 1e6 / (handheld.dataPackets() - 1) << " us each\n";
    }
    if (handheld.gba().blocksReceived() > 0) {
        std::cout << "trackpod-sim: " << handheld.gba().verdict() << "\n";
    }
    return status;
}
