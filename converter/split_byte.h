// converter/split_byte.h - the split of one packed byte into its two 4-bit values.
// Converter layer; pure.
#pragma once

#include <cstdint>

namespace dorvane {

struct SplitByte {
    std::uint8_t high; ///< bits 7 to 4, as a value from 0 to 15
    std::uint8_t low;  ///< bits 3 to 0, as a value from 0 to 15
};

constexpr SplitByte split_byte(std::uint8_t packed) {
    return {static_cast<std::uint8_t>(packed >> 4), static_cast<std::uint8_t>(packed & 15)};
}

} // namespace dorvane
