// converter/expand_buffered.h - the byte loop's fast step: what the input already
// buffers, expanded straight into the output's buffer.
// Converter layer. The step makes no system call and cannot fail, so the calls and
// the failures of the per-byte steps around it stay exactly as they would be.
#pragma once

#include "converter/expand_bytes.h"
#include "runtime/byte_file.h"

#include <algorithm>

namespace dorvane {

/// Expands as many bytes as both buffers allow, as the per-byte loop would read,
/// split and write them; does nothing while an error is pending.
inline void expand_buffered(ByteFile& input, ByteFile& output) {
    const std::span<const std::uint8_t> packed = buffered_input(input);
    const std::span<std::uint8_t> room = buffered_output_room(output);
    const std::size_t count = std::min(packed.size(), room.size() / 2);
    if (count == 0)
        return;
    expand_bytes(packed.first(count), room.data());
    consume_buffered_input(input, count);
    commit_buffered_output(output, 2 * count);
}

} // namespace dorvane
