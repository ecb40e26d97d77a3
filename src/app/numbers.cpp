#include "app/numbers.h"

#include <cctype>

TypedInteger readTypedInteger(const std::string& text, std::uint64_t limit) {
    TypedInteger result;
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) result.negative = text[i++] == '-';
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        result.digits = true;
        result.magnitude = result.magnitude * 10 + static_cast<unsigned>(text[i] - '0');
        if (result.magnitude > limit) result.magnitude = limit;
    }
    return result;
}
