#include "app/loopback.h"

#include <cmath>
#include <iomanip>
#include <sstream>

namespace {

const char* roundName(Round round) { return round == Round::StopAndWait ? "stop and wait" : "stream"; }
const char* roundInSentence(Round round) {
    return round == Round::StopAndWait ? "the stop-and-wait round" : "the stream";
}

// What a MIDI cable carries: a byte in the cable's byte time.
const long kCableRate = std::lround(1.0 / std::chrono::duration<double>(wire::kByteTime).count());

std::string hex(const Bytes& m) {
    std::ostringstream text;
    text << std::hex << std::uppercase << std::setfill('0');
    for (std::size_t i = 0; i < m.size(); ++i) text << (i ? " " : "") << std::setw(2) << int(m[i]);
    return text.str();
}

std::string hexByte(std::uint8_t b) { return hex({b}); }

std::string milliseconds(std::int64_t us) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << us / 1000.0 << " ms";
    return text.str();
}

// "message 500 of the stop-and-wait round (a block packet of 28 bytes)"
std::string messageNamed(const SentProbe& p) {
    const ProbeShape& shape = shapeOf(p.round, p.index);
    return "message " + std::to_string(p.index + 1) + " of " + roundInSentence(p.round) + " (a " + shape.name +
           " of " + std::to_string(shape.length) + " bytes)";
}

std::string differenceNamed(const SentProbe& p, const Bytes& copy) {
    const Difference d = firstDifference(p.bytes, copy);
    return "byte " + std::to_string(d.at) + ": sent " + (d.sent ? hexByte(*d.sent) : "nothing") + ", received " +
           (d.received ? hexByte(*d.received) : "nothing");
}

void writeRound(Console& console, const LoopbackResult& r, Round round) {
    const RoundCounts c = countRound(r.tally, round);
    std::string line = std::string(roundName(round)) + ": " + std::to_string(c.intact) + " of " +
                       std::to_string(c.sent) + " intact";
    const std::pair<std::uint32_t, const char*> faults[] = {
        {c.changed, "changed"}, {c.missing, "missing"}, {c.outOfOrder, "out of order"}, {c.extra, "extra"}};
    for (const auto& [count, what] : faults) {
        if (count != 0) line += ", " + std::to_string(count) + " " + what;
    }
    const std::vector<std::int64_t>& trips = r.roundTripsUs;
    if (round == Round::StopAndWait && c.missing >= kMostMissing) line += " (the round stopped there)";
    if (round == Round::StopAndWait && !trips.empty()) {
        line += ", round trip " + milliseconds(trips[trips.size() / 2]) + " (median), " + milliseconds(trips.back()) +
                " (worst)";
    }
    if (round == Round::Stream && r.copyRate > 0) {
        line += ", " + std::to_string(std::lround(r.copyRate)) + " bytes/s (the cable carries " +
                std::to_string(kCableRate) + ")";
    }
    writeLine(console, line);
    for (const FaultEvent& f : r.tally.faults) {
        if (f.kind != LoopFault::Changed || r.tally.sent[f.sent].round != round) continue;
        const SentProbe& p = r.tally.sent[f.sent];
        writeLine(console, "  first change: " + messageNamed(p) + ", " + differenceNamed(p, f.copy));
        break;
    }
}

void writeAdded(Console& console, const Tally& t) {
    for (const FaultEvent& f : t.faults) {
        if (f.kind != LoopFault::Extra) continue;
        writeLine(console, "the first message that came back but was never sent: " + hex(f.copy));
        break;
    }
    std::string added;
    if (t.activeSensing) added = std::to_string(t.activeSensing) + " Active Sensing";
    if (t.clocks) added += (added.empty() ? "" : " and ") + std::to_string(t.clocks) + " timing clock";
    if (!added.empty()) writeLine(console, "the interface added " + added + " messages of its own: no fault");
}

std::uint32_t missingInAll(const Tally& t) {
    return countRound(t, Round::StopAndWait).missing + countRound(t, Round::Stream).missing;
}

// What failed first, and what it means for banks.
std::string failure(const LoopbackResult& r, const FaultEvent& f) {
    const Tally& t = r.tally;
    switch (f.kind) {
        case LoopFault::Changed:
            return "it changed " + messageNamed(t.sent[f.sent]) + " at " + differenceNamed(t.sent[f.sent], f.copy) +
                   ". A bank or ROM sent through it can arrive changed without a word, and a bank received "
                   "through it can be saved wrong.";
        case LoopFault::Missing:
            return "it lost " + messageNamed(t.sent[f.sent]) + ", and " + std::to_string(missingInAll(t)) +
                   " in all. Through it an upload would wait for ever for a lost answer, and a bank received "
                   "would have holes.";
        case LoopFault::OutOfOrder:
            return messageNamed(t.sent[f.sent]) +
                   " came back after a later one. A bank received through it would have holes and end in \"error\".";
        case LoopFault::Extra:
            return "it gave back a message that was never sent (" + hex(f.copy) +
                   "). The program could take such a message for the handheld's answer.";
        case LoopFault::Slow:
            return "the stream came back at " + std::to_string(std::lround(r.copyRate)) + " bytes/s, slower than the " +
                   std::to_string(std::lround(r.sentRate)) +
                   " it left at. The handheld sends a bank at the cable's pace: through this interface a bank "
                   "received would fall behind and lose messages.";
    }
    return {};
}

struct ProgressLine : LoopbackProgress {
    Console& console;
    explicit ProgressLine(Console& c) : console(c) {}
    void reached(Round round, std::uint32_t done, std::uint32_t total) override {
        *console.out << roundName(round) << ": " << done << " of " << total << (round == Round::Stream ? " sent" : "");
        console.out->flush();
        *console.out << '\r';
    }
    void roundOver(Round round, const LoopbackResult& soFar) override { writeRound(console, soFar, round); }
};

}  // namespace

int reportLoopback(Console& console, const LoopbackResult& r) {
    // A round cut short, when anything came back in it.
    for (const Round round : {Round::StopAndWait, Round::Stream}) {
        const RoundCounts c = countRound(r.tally, round);
        if (!r.over[static_cast<std::size_t>(round)] && c.intact + c.changed + c.outOfOrder != 0) {
            writeRound(console, r, round);
        }
    }
    writeAdded(console, r.tally);
    const FaultEvent* first = firstFault(r.tally);
    switch (r.end) {
        case LoopbackEnd::NothingCameBack:
            writeLine(console, "nothing came back: cable the interface's MIDI OUT to its own MIDI IN");
            return 1;
        case LoopbackEnd::HandheldAnswered:
            writeLine(console, "the handheld is connected: unplug it for this check, and cable the interface's "
                               "MIDI OUT to its own MIDI IN");
            return 1;
        case LoopbackEnd::PortGone: return 1;
        case LoopbackEnd::Finished: break;
    }
    if (r.dropped) {
        writeLine(console, "The check cannot tell: the MIDI system dropped messages that came back, as it does "
                           "when the computer is busy or asleep. Run it again.");
        return 1;
    }
    if (first) {
        writeLine(console, "The interface fails: " + failure(r, *first));
        return 1;
    }
    writeLine(console, "The interface passes: every message came back intact.");
    return 0;
}

Ended checkInterface(Link& link, Console& console) {
    writeLine(console, "");
    writeLine(console, "Loopback check: cable the MIDI interface's OUT to its own IN, and unplug the handheld.");
    writeLine(console, "Then press enter here.");
    waitForEnter(console);
    ProgressLine progress(console);
    const LoopbackResult result = checkLoopback(link, progress);
    const int status = reportLoopback(console, result);
    if (result.end != LoopbackEnd::PortGone) return {status};
    return cutShort(console, result.midiFailure);
}
