// runtime/report.h - the run-time error report and the walk over its call frames.
// Portable. NOTE: the report is also written from the fault handler, on its own
// stack: it writes through a text channel's fixed buffer and never allocates.
#pragma once

#include "runtime/text_channel.h"

#include <array>
#include <cstdint>

namespace dorvane {

/// Two blanks, "$" and `location` as 8 upper-case hexadecimal digits.
std::array<char, 11> location_line(std::uint32_t location);

/// The part of the stack in which a frame may be read: from `floor` (the current
/// stack pointer) up to `top` (the frame of start-up).
struct StackBounds {
    const void* floor;
    const void* top;
};

/// Called once per calling frame with the frame's return location.
using FrameVisitor = void (*)(const void* return_location, void* context);

/// Walks the chain of frame links from `frame`, innermost first, and visits each
/// caller's return location. `walker_frame` is the walk's own frame. A frame is read
/// only inside `bounds`; the walk stops at a zero link or return location, at a frame
/// that is not above the previous one, and after more than `line_limit` visits.
/// Returns the number of visits.
std::size_t walk_frames(const void* frame, const void* walker_frame, StackBounds bounds,
                        std::uint16_t line_limit, FrameVisitor visit, void* context);

/// Writes the report of run-time error `number` detected at `location` (an offset in
/// the program's image) in `frame`: the heading, the location, one line per calling
/// frame, an empty line. Each line goes out as it ends.
void write_report(TextChannel& channel, std::uint16_t number, std::uint32_t location,
                  const void* frame, StackBounds bounds, std::uint16_t line_limit);

} // namespace dorvane
