// runtime/text_channel.h - buffered text channels on the standard handles.
// Portable. A channel holds at most 256 bytes and writes them out at each line end;
// a failed or short write-out sets 101 and drops what was held.
#pragma once

#include "runtime/byte_file.h"
#include "runtime/handle.h"

#include <cstdint>
#include <string_view>

namespace dorvane {

struct TextChannel {
    static constexpr std::int32_t capacity = 256;

    Handle handle;
    FileState mode;
    std::int32_t buffer_size;
    std::int32_t held;
    bool flushes_at_line_end;
    std::uint8_t line_end_length;
    char line_end[3];
    char buffer[capacity];
};

/// Makes `channel` an empty output channel on `handle`; it flushes at each line end
/// when the handle is a standard handle.
void open_channel(TextChannel& channel, Handle handle);

/// This thread's channel on the standard output handle: the converter's messages.
TextChannel& standard_output();

/// This thread's channel on the standard error handle: the run-time error report.
TextChannel& standard_error();

/// Appends `text` (at most 255 bytes; more are cut), after blanks up to `width`.
/// Sets 105 on an input channel, 103 on one not open, 101 when a write-out fails.
void write_text(std::int32_t width, TextChannel& channel, std::string_view text);

/// Appends `value` in decimal, as write_text appends a text.
void write_number(std::int32_t width, TextChannel& channel, std::uint32_t value);

/// Appends CR LF and writes the line out when the channel flushes at line end.
void end_line(TextChannel& channel);

/// Writes out what the channel holds.
void flush_channel(TextChannel& channel);

} // namespace dorvane
