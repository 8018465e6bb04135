// runtime/text_channel.cpp - buffered text channels on the standard handles.
// Portable. NOTE: this code also writes the report of a processor fault, from the
// fault handler: it uses only the channel's fixed buffer and never allocates.
#include "runtime/text_channel.h"

#include "runtime/handle_io.h"
#include "runtime/io_error.h"

#include <algorithm>

namespace dorvane {

namespace {

thread_local TextChannel standard_output_channel{};
thread_local TextChannel standard_error_channel{};

void write_out(TextChannel& channel) {
    if (channel.held == 0)
        return;
    const auto held = static_cast<std::size_t>(channel.held);
    const std::size_t written =
        write_handle(channel.handle, reinterpret_cast<const std::uint8_t*>(channel.buffer), held);
    if (written != held)
        store_io_error(io_error::disk_full);
    // The bytes of a failed or short write are dropped, never offered again.
    channel.held = 0;
}

void append(TextChannel& channel, std::string_view bytes) {
    while (bytes.size() > static_cast<std::size_t>(channel.buffer_size - channel.held)) {
        const auto room = static_cast<std::size_t>(channel.buffer_size - channel.held);
        std::copy_n(bytes.data(), room, channel.buffer + channel.held);
        channel.held = channel.buffer_size;
        bytes.remove_prefix(room);
        write_out(channel); // a failed write-out does not stop the rest
    }
    std::copy_n(bytes.data(), bytes.size(), channel.buffer + channel.held);
    channel.held += static_cast<std::int32_t>(bytes.size());
}

/// The checks shared by every text operation: nothing while an error is pending,
/// and the channel must be open for output.
bool ready_for_output(const TextChannel& channel) {
    if (io_error_is_pending())
        return false;
    if (channel.mode == FileState::output)
        return true;
    store_io_error(channel.mode == FileState::input ? io_error::not_open_for_output
                                                    : io_error::file_not_open);
    return false;
}

constexpr std::string_view blanks = "                                ";

} // namespace

void open_channel(TextChannel& channel, Handle handle) {
    channel.handle = handle;
    channel.mode = FileState::output;
    channel.buffer_size = TextChannel::capacity;
    channel.held = 0;
    channel.flushes_at_line_end = is_standard_handle(handle);
    channel.line_end_length = 2;
    channel.line_end[0] = '\r';
    channel.line_end[1] = '\n';
    channel.line_end[2] = 0;
}

TextChannel& standard_output() {
    return standard_output_channel;
}
TextChannel& standard_error() {
    return standard_error_channel;
}

void write_text(std::int32_t width, TextChannel& channel, std::string_view text) {
    if (!ready_for_output(channel))
        return;
    text = text.substr(0, 255);
    for (std::int64_t padding = std::int64_t{width} - static_cast<std::int64_t>(text.size());
         padding > 0;) {
        const auto chunk = static_cast<std::size_t>(
            std::min<std::int64_t>(padding, static_cast<std::int64_t>(blanks.size())));
        append(channel, blanks.substr(0, chunk));
        padding -= static_cast<std::int64_t>(chunk);
    }
    append(channel, text);
}

void write_number(std::int32_t width, TextChannel& channel, std::uint32_t value) {
    char digits[10];
    std::size_t first = sizeof digits;
    do {
        digits[--first] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    write_text(width, channel, std::string_view(digits + first, sizeof digits - first));
}

void end_line(TextChannel& channel) {
    if (!ready_for_output(channel))
        return;
    append(channel, std::string_view(channel.line_end, channel.line_end_length));
    if (channel.flushes_at_line_end)
        write_out(channel);
}

void flush_channel(TextChannel& channel) {
    if (!ready_for_output(channel))
        return;
    write_out(channel);
}

} // namespace dorvane
