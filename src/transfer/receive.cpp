#include "transfer/receive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "link/commands.h"
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
        std::error_code ignored;
        if (fd >= 0) closeFile(fd, ignored);
    }
    bool staged() const { return writing != name; }
};

// Opens the destination, or gives the reason why it cannot be written.
bool openDestination(const char* fileName, Destination& d, ReceiveOutcome& outcome, Progress& progress) {
    if (fileName == nullptr || *fileName == '\0') {
        outcome.problems.push_back({ReceiveFailure::NoFileName});
        return false;
    }
    d.name = fileName;
    const PathKind kind = pathKind(fileName);
    d.existed = kind != PathKind::Absent;
    d.writing = kind == PathKind::Other ? d.name : d.name + ".part";
    std::error_code why;
    if (kind == PathKind::Regular && !canWriteFile(fileName, why)) {
        outcome.problems.push_back({ReceiveFailure::CannotReplace, d.name, why});
        return false;
    }
    d.fd = openFileForWriting(d.writing.c_str(), why);
    if (d.fd < 0) {
        outcome.problems.push_back({ReceiveFailure::CannotWrite, d.writing, why});
        return false;
    }
    // Said before anything arrives: Ctrl-C, which the program does not catch, then still
    // leaves a pointer to the bytes.
    if (d.staged()) progress.receivingInto(d.writing, d.name);
    return true;
}

// The bank's message numbers. The handheld numbers them one after another and never
// sends one again, and every MIDI system drops whole messages when the program falls
// behind (RtMidi's queue, the ALSA sequencer's pool, JACK's and WinMM's buffers
// alike): a number skipped is the only sign of a loss, the same on every system.
// Until some messages in a row have counted, the numbering is not relied on.
constexpr int kCountingRun = 4;

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

// Asks for the bank and tells whether the handheld is ready; the bank is taken either way.
void requestBank(Link& link, ReceiveOutcome& outcome, Progress& progress) {
    pause(link, kCommandPauseMs);
    sendCommand(link, Command::BeginReceive);
    outcome.ready = answerStatus(waitForFirstMessage(link)) == wire::kStatusReady;
    // The handheld streams only once it has answered: what held the program up before the
    // answer came cost the bank nothing.
    forgetNotedHoldUps(link);
    progress.reached(outcome.ready ? Stage::HandheldReady : Stage::HandheldNotReady);
}

// Polls until a message comes, showing progress: the message, or an empty one once the
// handheld has been silent long enough to have ended the bank.
const Bytes& awaitMessage(Link& link, std::int32_t receivedCount, bool& progressShown, Progress& progress) {
    std::uint32_t idleCountdown = link.bankEndPolls();
    for (;;) {
        if (receivedCount != 0) idleCountdown -= std::min(idleCountdown, link.midi.pollsPerEmptyPoll);
        // Until the first byte, the handheld owes the bank; then silence ends it.
        const Bytes& message = pollMessage(link, receivedCount == 0);
        if (receivedCount != 0 && receivedCount % 1024 == 0 && !progressShown) {
            progress.moved(static_cast<std::uint32_t>(receivedCount), 0);
            progressShown = true;
        }
        if (idleCountdown == 0 || !message.empty()) return message;
    }
}

// Saves the bank's bytes until silence ends it or one cannot be written.
void receiveBank(Link& link, const Destination& file, Numbering& numbering, std::vector<Clock::time_point>& arrivals,
                 ReceiveOutcome& outcome, Progress& progress) {
    bool progressShown = false;
    std::error_code why;
    while (outcome.problems.empty()) {
        const Bytes& message = awaitMessage(link, outcome.receivedCount, progressShown, progress);
        if (message.empty()) return;
        // A message too short to carry a data byte (a channel message, say) is not one.
        if (message.size() >= wire::kByteMessageLength && belongsToBank(numbering, message, outcome.receivedCount)) {
            arrivals.push_back(link.now());
            // Each byte goes to the operating system at once, so that Ctrl-C, which
            // ends the process without warning, never loses a byte received.
            if (writeFileByte(file.fd, decodeByte(message), why)) {
                ++outcome.receivedCount;
                progressShown = false;
            } else {
                outcome.problems.push_back({ReceiveFailure::CannotWrite, file.writing, why});
            }
        }
    }
}

bool droppedAny(Link& link) { return link.midi.dropped && link.midi.dropped(); }

// How far the handheld's pace may stray during a hold-up from its median, and how many
// more messages than it seemed the MIDI system may have kept.
constexpr double kPaceJitter = 0.05;
constexpr double kBacklogMargin = 4;

// The handheld's pace: the median time per message over spans of some messages, which
// a hold-up, or messages handed over in bursts, barely move.
Clock::duration streamPace(const std::vector<Clock::time_point>& arrivals) {
    constexpr std::size_t kSpan = 8;
    std::vector<Clock::duration> spans;
    for (std::size_t i = kSpan; i < arrivals.size(); i += kSpan) spans.push_back((arrivals[i] - arrivals[i - kSpan]) / kSpan);
    if (spans.empty()) return wire::kBytePacketLength * wire::kByteTime;
    std::nth_element(spans.begin(), spans.begin() + static_cast<std::ptrdiff_t>(spans.size() / 2), spans.end());
    return spans[spans.size() / 2];
}

// What the MIDI system kept through a hold-up and handed over after it, in messages: how
// far those after the hold-up's gap ran ahead of the pace.
double backlogAfter(const std::vector<Clock::time_point>& arrivals, const HoldUp& h, Clock::duration pace) {
    constexpr std::size_t kLooked = 1024;  // more than any MIDI system keeps
    std::size_t gapEnd = 0;
    Clock::duration longest{};
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
        const Clock::duration gap = arrivals[i] - arrivals[i - 1];
        if (arrivals[i - 1] < h.noticed && arrivals[i] > h.since && gap > longest) longest = gap, gapEnd = i;
    }
    double ahead = 0;
    for (std::size_t k = 0; gapEnd != 0 && gapEnd + k < arrivals.size() && k < kLooked; ++k) {
        const double paced = std::chrono::duration<double>(arrivals[gapEnd + k] - arrivals[gapEnd]) /
                             std::chrono::duration<double>(pace);
        ahead = std::max(ahead, static_cast<double>(k) - paced);
    }
    return ahead;
}

// Whether a hold-up may have lost messages that no hole shows: the end of the bank when
// nothing came after it, its start when it came before the bank's first message, or a
// whole turn of the numbering. The handheld streams without a pause, so a silence of some
// messages' time before the look around that came before the hold-up means that the bank
// had ended, and the hold-up (a machine that froze in the closing silence) cost nothing.
bool mayHideLoss(const std::vector<Clock::time_point>& arrivals, const HoldUp& h) {
    constexpr int kSilentMessages = 8;
    if (arrivals.empty()) return true;
    const Clock::duration pace = streamPace(arrivals);
    if (arrivals.back() + kSilentMessages * pace < h.since) return false;
    if (!h.followed || arrivals.front() > h.since) return true;
    return pace.count() <= 0 || couldHideLoss(holdUpCost(h.length, pace, backlogAfter(arrivals, h, pace)));
}

// Closes the file and, when nothing says the bank may not be whole, puts it in the
// named file's place.
void placeIfWhole(Link& link, Destination& file, const std::vector<Clock::time_point>& arrivals, ReceiveOutcome& outcome) {
    std::vector<ReceiveProblem>& problems = outcome.problems;
    std::error_code why;
    // On the disk before it takes the old bank's place: a crash must not leave less.
    if (problems.empty() && file.staged() && !syncFile(file.fd, why)) {
        problems.push_back({ReceiveFailure::CannotWrite, file.writing, why});
    }
    if (!closeFile(std::exchange(file.fd, -1), why) && problems.empty()) {
        problems.push_back({ReceiveFailure::CannotWrite, file.writing, why});
    }
    // The end of a bank lost while the program was held up leaves no gap in the numbers;
    // the MIDI system's word that it dropped messages is then the only sign.
    if (droppedAny(link)) problems.push_back({ReceiveFailure::MidiDropped});
    // A hold-up longer than the MIDI system keeps messages for is a sign too, when it may
    // have cost messages that leave no gap.
    Clock::duration heldUp{};
    for (const HoldUp& h : link.holdUps()) {
        if (h.length > heldUp && mayHideLoss(arrivals, h)) heldUp = h.length;
    }
    if (heldUp.count() != 0) problems.push_back({ReceiveFailure::HeldUp, {}, {}, heldUp});
    outcome.placed = problems.empty() && outcome.holes.empty();
    if (outcome.placed && file.staged() && !replaceFile(file.writing.c_str(), file.name.c_str(), why)) {
        problems.push_back({ReceiveFailure::CannotReplace, file.name, why});
        outcome.placed = false;
    }
}

}  // namespace

HoldUpCost holdUpCost(Clock::duration held, Clock::duration pace, double backlog) {
    const std::chrono::duration<double> perMessage = pace;
    const double sentLeast = std::chrono::duration<double>(held) / perMessage;
    const double sentMost = std::chrono::duration<double>(held + HoldUpWatch::kPeriod) / perMessage;
    return {sentLeast * (1 - kPaceJitter) - backlog - kBacklogMargin, sentMost * (1 + kPaceJitter) - backlog};
}

bool couldHideLoss(const HoldUpCost& cost) {
    const double turn = wire::kNumberMask + 1;
    const double lastTurn = std::floor(cost.most / turn) * turn;
    return lastTurn >= turn && lastTurn >= cost.least;
}

ReceiveOutcome receiveFile(Link& link, const char* fileName, Progress& progress) {
    ReceiveOutcome outcome;
    Destination file;
    if (!openDestination(fileName, file, outcome, progress)) return outcome;
    outcome.requested = true;
    outcome.name = file.name;
    outcome.writing = file.writing;
    outcome.existed = file.existed;
    // What the MIDI system dropped, or what the program was held up for, before the
    // receive is none of the bank's business.
    droppedAny(link);
    forgetHoldUps(link);

    Numbering numbering;
    std::vector<Clock::time_point> arrivals;
    try {
        requestBank(link, outcome, progress);
        receiveBank(link, file, numbering, arrivals, outcome, progress);
    } catch (const MidiFailure& failure) {
        outcome.midiFailure = failure.what();
        outcome.holes = numbering.holes;
        return outcome;
    }
    outcome.holes = numbering.holes;
    placeIfWhole(link, file, arrivals, outcome);
    return outcome;
}
