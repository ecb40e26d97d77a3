#include "app/ports.h"

#include <algorithm>
#include <limits>

#include "app/numbers.h"

std::optional<unsigned> pickPortByName(const std::vector<std::string>& names) {
    if (names.size() == 1) return 0u;
    std::optional<unsigned> chosen;
    for (unsigned i = 0; i < names.size(); ++i) {
        if (names[i].size() >= 8 && names[i].compare(0, 8, "trackpod") == 0) chosen = i;
    }
    return chosen;
}

namespace {

enum class PortAnswer { Number, NotNumber, EndOfInput };

// Reads one answer line from the prompt. A number (optionally signed; negative values
// wrap as an unsigned read does, values too large saturate) fills `number`; the rest
// of the line is always consumed.
PortAnswer readPortAnswer(std::istream& in, std::uint32_t& number) {
    std::string line;
    if (!std::getline(in, line)) return PortAnswer::EndOfInput;
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint32_t>::max();
    const TypedInteger typed = readTypedInteger(line, kMost + 1);
    if (!typed.digits) return PortAnswer::NotNumber;
    if (typed.magnitude > kMost) {
        number = static_cast<std::uint32_t>(kMost);
    } else {
        number = static_cast<std::uint32_t>(typed.magnitude);
        if (typed.negative) number = 0u - number;
    }
    return PortAnswer::Number;
}

// "  Input port #N: NAME", as the prompt lists it.
std::string portLine(Direction direction, unsigned index, const std::string& name) {
    return (direction == Direction::Input ? "  Input port #" : "  Output port #") + std::to_string(index) + ": " + name;
}

// Letter case folded for ASCII letters only: port names are UTF-8, and the others stay as
// they are.
std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

PortChoice choosePortByName(const std::vector<std::string>& names, const std::string& wanted) {
    PortChoice choice;
    if (!wanted.empty()) {
        const std::string lowWanted = lowerCase(wanted);
        for (unsigned i = 0; i < names.size(); ++i) {
            if (lowerCase(names[i]).find(lowWanted) != std::string::npos) choice.offered.push_back(i);
        }
        if (choice.offered.size() == 1) choice.chosen = choice.offered[0];
        if (!choice.offered.empty()) return choice;
        choice.wantedMatchesNothing = true;
    } else {
        choice.chosen = pickPortByName(names);
        if (choice.chosen) return choice;
    }
    for (unsigned i = 0; i < names.size(); ++i) choice.offered.push_back(i);
    return choice;
}

bool choosePort(MidiSeam& midi, Console& console, Direction direction, const std::string& wanted) {
    const bool input = direction == Direction::Input;
    writeLine(console, "");
    const std::vector<std::string> names = midi.portNames(direction);
    if (names.empty()) {
        writeLine(console, input ? "No input ports available!" : "No output ports available!");
        return false;
    }
    const PortChoice choice = choosePortByName(names, wanted);
    if (choice.wantedMatchesNothing) {
        writeDiagnostic(console, std::string("no ") + (input ? "input" : "output") + " port's name contains \"" +
                                     wanted + "\" (TPMIDI01_PORT): choose one");
    }
    std::optional<unsigned> chosen = choice.chosen;
    if (!chosen) {
        for (const unsigned i : choice.offered) writeLine(console, portLine(direction, i, names[i]));
        const auto offered = [&choice](std::uint32_t n) {
            return std::find(choice.offered.begin(), choice.offered.end(), n) != choice.offered.end();
        };
        std::uint32_t answer = 0;
        PortAnswer read = PortAnswer::NotNumber;
        while (read != PortAnswer::Number || !offered(answer)) {
            *console.out << "\nPlease choose a port number: ";
            console.out->flush();
            read = readPortAnswer(*console.in, answer);
            if (read == PortAnswer::EndOfInput) {
                writeLine(console, "");
                return false;
            }
        }
        chosen = answer;
    }
    midi.openPort(direction, *chosen);
    writeLine(console, names[*chosen] + (input ? " opened for input" : " opened for output"));
    return true;
}

void listPorts(MidiSeam& midi, Console& console, Direction direction, const std::string& wanted) {
    const std::vector<std::string> names = midi.portNames(direction);
    if (names.empty()) {
        writeLine(console, direction == Direction::Input ? "No input ports available!" : "No output ports available!");
        return;
    }
    const PortChoice choice = choosePortByName(names, wanted);
    for (unsigned i = 0; i < names.size(); ++i) {
        writeLine(console, portLine(direction, i, names[i]) + (choice.chosen == i ? "   (opened without asking)" : ""));
    }
}
