#include "transfer/receive.h"

#include <algorithm>
#include <array>
#include <iomanip>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "link/commands.h"
#include "link/link.h"
#include "platform/platform.h"

namespace {

// Where the bank goes. A regular file, or a new one, is written as NAME.part beside
// it and put in NAME's place only once the whole bank has arrived: a receive cut
// short never costs the user the bank NAME held. Anything else (a device, a FIFO,
// a link such as /dev/stdout) is written directly.
struct Destination {
    std::string name, writing;
    bool existed = false;
    int fd = -1;
    // Closed on every way out, a library failure included.
    ~Destination() {
        if (fd >= 0) closeFile(fd);
    }
    bool staged() const { return writing != name; }
};

// "tpmidi01: cannot write NAME: <the system's reason>", a line of the error stream.
std::string fileFailure(const char* what, const std::string& name) {
    return "tpmidi01: cannot " + std::string(what) + " " + name + ": " + fileError() + "\n";
}

// Opens the destination, or says on the error stream why it cannot be written.
bool openDestination(ProgramState& st, const char* fileName, Destination& d) {
    if (fileName == nullptr || *fileName == '\0') {
        *st.err << "tpmidi01: -receive needs the name of the file to write\n";
        return false;
    }
    d.name = fileName;
    const PathKind kind = pathKind(fileName);
    d.existed = kind != PathKind::Absent;
    d.writing = kind == PathKind::Other ? d.name : d.name + ".part";
    if (kind == PathKind::Regular && !canWriteFile(fileName)) {
        *st.err << fileFailure("replace", d.name);
        return false;
    }
    d.fd = openFileForWriting(d.writing.c_str());
    if (d.fd < 0) {
        *st.err << fileFailure("write", d.writing);
        return false;
    }
    if (d.staged()) {
        *st.err << "tpmidi01: receiving into " << d.writing << ", which becomes " << d.name
                << " once the whole bank has arrived\n";
    }
    return true;
}

// The bank's message numbers. The handheld numbers them one after another and never
// sends one again, and every MIDI system drops whole messages when the program falls
// behind (RtMidi's queue, the ALSA sequencer's pool, JACK's and WinMM's buffers
// alike): a number skipped is the only sign of a loss, the same on every system.
// Until some messages in a row have counted, the numbering is not relied on.
constexpr int kCountingRun = 4;

struct Hole {
    std::int32_t after;
    std::uint8_t expected, came;
};

struct Numbering {
    std::array<std::uint8_t, wire::kNumberAt - 1> kind{};  // bytes 1 to 4: IDs and sub-IDs
    std::uint8_t last = 0;
    int run = 0;
    std::vector<Hole> holes;
    bool known() const { return run >= kCountingRun; }
};

// Whether a message of nine bytes or more is a byte of the bank. Once the numbering is
// known, a message of another kind is not (an interface's identity reply, say), and a
// number that is not the next one marks a hole before it.
bool belongsToBank(Numbering& n, const Bytes& m, std::int32_t receivedCount) {
    const std::uint8_t number = m[wire::kNumberAt];
    const std::uint8_t next = (n.last + 1) & wire::kNumberMask;
    const bool sameKind = std::equal(n.kind.begin(), n.kind.end(), m.begin() + 1);
    if (n.known()) {
        if (!sameKind) return false;
        if (number != next) n.holes.push_back({receivedCount, next, number});
    } else if (sameKind && number == next) {
        ++n.run;
    } else {
        n.run = 1;
        std::copy(m.begin() + 1, m.begin() + wire::kNumberAt, n.kind.begin());
    }
    n.last = number;
    return true;
}

// What the error stream is told at the end: each hole, why the bank is not whole, and
// how many bytes are where (the console counts whole kibibytes only).
std::string account(const Destination& d, const Numbering& n, const std::string& failure,
                    std::int32_t receivedCount, bool placed) {
    std::ostringstream text;
    for (const Hole& h : n.holes) {
        const int lost = (h.came - h.expected) & wire::kNumberMask;
        text << "tpmidi01: the bank has a hole after byte " << h.after << ": at least " << lost
             << (lost == 1 ? " message" : " messages") << " lost (number " << int(h.expected)
             << ", then " << int(h.came) << ")\n";
    }
    text << failure << "tpmidi01: " << receivedCount << " bytes ";
    if (placed || !d.staged()) {
        text << "saved in " << d.name;
    } else {
        text << "received are in " << d.writing << "; " << d.name
             << (d.existed ? " was left as it was" : " was not created");
    }
    return text.str();
}

}  // namespace

void receiveFile(ProgramState& st, const char* fileName) {
    std::int32_t receivedCount = 0;
    bool progressShown = false;
    st.inMessage.clear();

    Destination file;
    if (!openDestination(st, fileName, file)) {
        writeLine(st, "Please enter a file name.");
        *st.out << "It is recommended to use suffixes '.tp1' and '.tp2' for trackpod 1.6 and "
                   "trackpod 2.5 files.";
        return;
    }

    Numbering numbering;
    std::string failure;
    // What the MIDI system dropped, or what the program was held up for, before the
    // receive is none of the bank's business.
    const auto droppedAny = [&st] { return st.midi.dropped && st.midi.dropped(); };
    droppedAny();
    if (st.longestHoldUp) st.longestHoldUp();
    st.heldUp = {};
    try {
        pause(st, kCommandPauseMs);
        sendCommand(st, Command::BeginReceive);
        waitForFirstMessage(st);
        if (answerStatus(st.inMessage) == wire::kStatusReady) {
            writeLine(st, "Ready to receive data.");
            writeLine(st, "");
        } else {
            writeLine(st, "");
            writeLine(st, "error");
        }
        st.inMessage.clear();

        std::uint32_t idleCountdown = st.receiveIdlePolls;
        while (idleCountdown != 0 && failure.empty()) {
            idleCountdown = st.receiveIdlePolls;
            do {
                if (receivedCount != 0 && idleCountdown != 0) --idleCountdown;
                // Until the first byte, the handheld owes the bank; then silence ends it.
                pollMessage(st, receivedCount == 0);
                if (receivedCount != 0 && receivedCount % 1024 == 0 && !progressShown) {
                    *st.out << (receivedCount / 1024) << "k saved ";
                    st.out->flush();
                    *st.out << '\r';
                    progressShown = true;
                }
            } while (idleCountdown != 0 && st.inMessage.empty());

            // A message too short to carry a data byte (a channel message, say) is not one.
            if (st.inMessage.size() >= wire::kByteMessageLength &&
                belongsToBank(numbering, st.inMessage, receivedCount)) {
                // Each byte goes to the operating system at once, so that Ctrl-C, which
                // ends the process without warning, never loses a byte received.
                if (writeFileByte(file.fd, decodeByte(st.inMessage))) {
                    ++receivedCount;
                    progressShown = false;
                } else {
                    failure = fileFailure("write", file.writing);
                }
            }
            st.inMessage.clear();
        }
    } catch (...) {
        st.closingNote = account(file, numbering, failure, receivedCount, false);
        throw;
    }

    // On the disk before it takes the old bank's place: a crash must not leave less.
    if (failure.empty() && file.staged() && !syncFile(file.fd)) failure = fileFailure("write", file.writing);
    if (!closeFile(std::exchange(file.fd, -1)) && failure.empty()) failure = fileFailure("write", file.writing);
    // The end of a bank lost while the program was held up leaves no gap in the numbers;
    // the MIDI system's word that it dropped messages is then the only sign.
    if (droppedAny()) {
        failure += "tpmidi01: the MIDI system dropped messages of the bank: the program could not take them in "
                   "time (was it stopped, or the computer busy or asleep?)\n";
    }
    // A hold-up that lasted until the end is a sign too: the MIDI system may have dropped
    // the end without a word (the ALSA sequencer does).
    if (st.heldUp.count() != 0) {
        std::ostringstream said;
        said << "tpmidi01: the program was held up for " << std::fixed << std::setprecision(1)
             << std::chrono::duration<double>(st.heldUp).count()
             << " s near the end of the bank (stopped, or the computer asleep): its end may be lost\n";
        failure += said.str();
    }
    bool placed = failure.empty() && numbering.holes.empty();
    if (placed && file.staged() && !replaceFile(file.writing.c_str(), file.name.c_str())) {
        failure = fileFailure("replace", file.name);
        placed = false;
    }
    st.closingNote = account(file, numbering, failure, receivedCount, placed);
    if (!placed) {
        writeLine(st, "");
        writeLine(st, "error");
        return;
    }
    *st.out << (receivedCount / 1024) << "k saved... done.";
    writeLine(st, "");
}
