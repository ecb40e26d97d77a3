// Integers typed by the user, read as C reads them: leading space skipped, an optional
// sign, then decimal digits up to the first other character.
#pragma once

#include <cstdint>
#include <string>

struct TypedInteger {
    bool digits = false;    // whether any digit came after the space and the sign
    bool negative = false;
    // The digits' value, held at `limit` when larger.
    std::uint64_t magnitude = 0;
};

TypedInteger readTypedInteger(const std::string& text, std::uint64_t limit);
