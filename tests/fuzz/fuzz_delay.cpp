// Arbitrary delay arguments: the low byte of the number as strtoll reads it, clamped to 32 bits.
#include <climits>
#include <cstdlib>

#include "app/run.h"
#include "peer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const long long number = std::min<long long>(std::max<long long>(std::strtoll(text.c_str(), nullptr, 10), INT_MIN), INT_MAX);
    FUZZ_CHECK(parseDelay(text) == static_cast<std::uint8_t>(static_cast<unsigned long long>(number) & 0xFF));
    return 0;
}
