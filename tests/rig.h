// An in-process run of the program against the simulated handheld: the seam bound
// to the model, console streams in memory, pauses and sends recorded in order.
#pragma once

#include <RtMidi.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/run.h"
#include "handheld.h"
#include "link/state.h"


struct Rig {
    HandheldConfig config;
    std::unique_ptr<Handheld> handheld;
    ProgramState st;
    std::ostringstream out;
    std::istringstream in;
    // "sleep N", "send HEX", "open in N", "open out N", "destroy", in the order they happened.
    std::vector<std::string> events;
    std::vector<std::string> inputPorts{"trackpod-sim out:from-handheld"};
    std::vector<std::string> outputPorts{"trackpod-sim in:to-handheld"};
    bool createFails = false;
    bool openFails = false;
    long sendsBeforeFailure = -1;  // -1: sends never fail
    bool created = false;

    explicit Rig(HandheldConfig c = {}, const std::string& input = "\n")
        : config(std::move(c)), handheld(std::make_unique<Handheld>(config)), in(input) {
        st.out = &out;
        st.in = &in;
        st.sleepMs = [this](unsigned ms) { events.push_back("sleep " + std::to_string(ms)); };
        st.midi.create = [this] {
            if (createFails) throw RtMidiError("no MIDI system", RtMidiError::DRIVER_ERROR);
            created = true;
        };
        st.midi.destroy = [this] { events.push_back("destroy"); };
        st.midi.portNames = [this](Direction d) {
            return d == Direction::Input ? inputPorts : outputPorts;
        };
        st.midi.openPort = [this](Direction d, unsigned i) {
            if (openFails) throw RtMidiError("cannot open", RtMidiError::DRIVER_ERROR);
            events.push_back(std::string(d == Direction::Input ? "open in " : "open out ") +
                             std::to_string(i));
        };
        st.midi.send = [this](const Bytes& m) {
            if (sendsBeforeFailure == 0) throw RtMidiError("send failed", RtMidiError::WARNING);
            if (sendsBeforeFailure > 0) --sendsBeforeFailure;
            events.push_back("send " + hexLine(m));
            handheld->receive(m);
        };
        st.midi.poll = [this](Bytes& m) { handheld->take(m); };
    }

    // Rebuilds the model after the test changed `config`.
    void reset() { handheld = std::make_unique<Handheld>(config); }

    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "tpmidi01");
        return runProgram(st, args);
    }

    std::vector<std::string> sends() const {
        std::vector<std::string> result;
        for (const auto& e : events) {
            if (e.rfind("send ", 0) == 0) result.push_back(e.substr(5));
        }
        return result;
    }

    std::size_t count(const std::string& event) const {
        std::size_t n = 0;
        for (const auto& e : events) n += e == event;
        return n;
    }
};

// The console text of a run that chose both ports by name, ahead of the option's text.
inline const char* kPortsOpened =
    "\ntrackpod-sim out:from-handheld opened for input\n"
    "\ntrackpod-sim in:to-handheld opened for output\n";
