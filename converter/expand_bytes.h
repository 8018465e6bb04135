// converter/expand_bytes.h - the expansion of a block of packed bytes at once.
// Converter layer; pure. Gives exactly the bytes that split_byte gives one by one.
#pragma once

#include "converter/split_byte.h"

#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dorvane {

/// Writes the high and then the low 4-bit value of each byte of `packed` to
/// `expanded`, which has room for twice as many bytes.
inline void expand_bytes(std::span<const std::uint8_t> packed, std::uint8_t* expanded) {
    const std::uint8_t* source = packed.data();
    std::size_t count = packed.size();
#if defined(__SSE2__)
    const __m128i low_nibbles = _mm_set1_epi8(0x0F);
    for (; count >= 16; count -= 16, source += 16, expanded += 32) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibbles);
        const __m128i low = _mm_and_si128(bytes, low_nibbles);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(expanded), _mm_unpacklo_epi8(high, low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(expanded + 16), _mm_unpackhi_epi8(high, low));
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        const SplitByte values = split_byte(source[i]);
        expanded[2 * i] = values.high;
        expanded[2 * i + 1] = values.low;
    }
}

} // namespace dorvane
