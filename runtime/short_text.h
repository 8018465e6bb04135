// runtime/short_text.h - texts of at most 255 bytes, as they cross the run-time interfaces.
// Portable.
#pragma once

#include <cstdint>
#include <string_view>

namespace dorvane {

/// A byte string of at most 255 bytes. `overlong` records that the source it was
/// taken from was longer and had to be cut, so that a cut name is never used as
/// if it were the whole one.
struct ShortText {
    static constexpr std::size_t capacity = 255;

    std::uint8_t length;
    bool overlong;
    char bytes[capacity];

    /// Copies at most 255 bytes of `source`; sets `overlong` when more were given.
    void assign(std::string_view source);

    std::string_view view() const { return {bytes, length}; }

    static ShortText from(std::string_view source) {
        ShortText text{};
        text.assign(source);
        return text;
    }
};

inline void ShortText::assign(std::string_view source) {
    overlong = source.size() > capacity;
    length = static_cast<std::uint8_t>(overlong ? capacity : source.size());
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = source[i];
}

} // namespace dorvane
