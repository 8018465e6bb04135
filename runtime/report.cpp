// runtime/report.cpp - the run-time error report and the walk over its call frames.
// Portable for every target whose frames start with the caller's frame link followed
// by the return location, as frame-pointer code on x86, x86-64 and AArch64 does.
// NOTE: runs inside the fault handler: no allocation, no locks, reads only memory
// that lies inside the stack bounds.
#include "runtime/report.h"

#include "runtime/os.h"

#include <string_view>

namespace dorvane {

namespace {

bool lies_inside(const void* frame, StackBounds bounds) {
    const auto address = reinterpret_cast<std::uintptr_t>(frame);
    return frame != nullptr && address >= reinterpret_cast<std::uintptr_t>(bounds.floor) &&
           address + 2 * sizeof(void*) <= reinterpret_cast<std::uintptr_t>(bounds.top);
}

struct ReportContext {
    TextChannel* channel;
};

void write_frame_line(const void* return_location, void* context) {
    TextChannel& channel = *static_cast<ReportContext*>(context)->channel;
    const auto line = location_line(os::image_offset(return_location));
    write_text(0, channel, std::string_view(line.data(), line.size()));
    end_line(channel);
}

} // namespace

std::array<char, 11> location_line(std::uint32_t location) {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<char, 11> line{' ', ' ', '$'};
    for (int i = 10; i >= 3; --i) {
        line[static_cast<std::size_t>(i)] = digits[location & 0xF];
        location >>= 4;
    }
    return line;
}

std::size_t walk_frames(const void* frame, const void* walker_frame, StackBounds bounds,
                        std::uint16_t line_limit, FrameVisitor visit, void* context) {
    const auto top = reinterpret_cast<std::uintptr_t>(bounds.top);
    const void* previous = walker_frame;
    std::size_t count = 0;
    for (;;) {
        const auto address = reinterpret_cast<std::uintptr_t>(frame);
        if (address <= reinterpret_cast<std::uintptr_t>(previous) || address >= top)
            return count;
        previous = frame;
        const void* link = nullptr;
        const void* return_location = nullptr;
        if (lies_inside(frame, bounds)) {
            const auto* slots = static_cast<const void* const*>(frame);
            link = slots[0];
            return_location = slots[1];
        }
        if (return_location == nullptr)
            return count;
        visit(return_location, context);
        ++count;
        if (link == nullptr || count > line_limit)
            return count;
        frame = link;
    }
}

void write_report(TextChannel& channel, std::uint16_t number, std::uint32_t location,
                  const void* frame, StackBounds bounds, std::uint16_t line_limit) {
    const auto line = location_line(location);
    write_text(0, channel, "Runtime error ");
    write_number(0, channel, number);
    write_text(0, channel, " at $");
    write_text(0, channel, std::string_view(line.data() + 3, 8));
    end_line(channel);
    write_text(0, channel, std::string_view(line.data(), line.size()));
    end_line(channel);
    ReportContext context{&channel};
    walk_frames(frame, __builtin_frame_address(0), bounds, line_limit, write_frame_line, &context);
    end_line(channel);
}

} // namespace dorvane
