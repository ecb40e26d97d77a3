#include "app/ports.h"

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

}  // namespace

bool choosePort(MidiSeam& midi, Console& console, Direction direction) {
    const bool input = direction == Direction::Input;
    writeLine(console, "");
    const std::vector<std::string> names = midi.portNames(direction);
    const std::uint32_t count = static_cast<std::uint32_t>(names.size());
    if (count == 0) {
        writeLine(console, input ? "No input ports available!" : "No output ports available!");
        return false;
    }
    std::optional<unsigned> chosen = pickPortByName(names);
    if (!chosen) {
        for (std::uint32_t i = 0; i < count; ++i) {
            *console.out << (input ? "  Input port #" : "  Output port #") << i << ": " << names[i]
                    << '\n';
        }
        std::uint32_t answer = count;
        while (answer >= count) {
            *console.out << "\nPlease choose a port number: ";
            console.out->flush();
            const PortAnswer read = readPortAnswer(*console.in, answer);
            if (read == PortAnswer::EndOfInput) {
                writeLine(console, "");
                return false;
            }
            if (read == PortAnswer::NotNumber) answer = count;
        }
        chosen = answer;
    }
    midi.openPort(direction, *chosen);
    writeLine(console, names[*chosen] + (input ? " opened for input" : " opened for output"));
    return true;
}
