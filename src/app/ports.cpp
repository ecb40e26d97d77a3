#include "app/ports.h"

#include <cctype>
#include <limits>

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
    std::size_t i = 0;
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    bool negative = false;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
    if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) {
        return PortAnswer::NotNumber;
    }
    std::uint64_t value = 0;
    for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
        value = value * 10 + static_cast<unsigned>(line[i] - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            number = std::numeric_limits<std::uint32_t>::max();
            return PortAnswer::Number;
        }
    }
    number = static_cast<std::uint32_t>(value);
    if (negative) number = static_cast<std::uint32_t>(0u - number);
    return PortAnswer::Number;
}

}  // namespace

bool choosePort(ProgramState& st, Direction direction) {
    const bool input = direction == Direction::Input;
    writeLine(st, "");
    const std::vector<std::string> names = st.midi.portNames(direction);
    const std::uint32_t count = static_cast<std::uint32_t>(names.size());
    if (count == 0) {
        writeLine(st, input ? "No input ports available!" : "No output ports available!");
        return false;
    }
    std::optional<unsigned> chosen = pickPortByName(names);
    if (!chosen) {
        for (std::uint32_t i = 0; i < count; ++i) {
            *st.out << (input ? "  Input port #" : "  Output port #") << i << ": " << names[i]
                    << '\n';
        }
        std::uint32_t answer = count;
        while (answer >= count) {
            *st.out << "\nPlease choose a port number: ";
            st.out->flush();
            const PortAnswer read = readPortAnswer(*st.in, answer);
            if (read == PortAnswer::EndOfInput) {
                writeLine(st, "");
                return false;
            }
            if (read == PortAnswer::NotNumber) answer = count;
        }
        chosen = answer;
    }
    st.midi.openPort(direction, *chosen);
    writeLine(st, names[*chosen] + (input ? " opened for input" : " opened for output"));
    return true;
}
