// runtime/posix/process.cpp - code locations in the program's image, and the exit.
// Only POSIX code belongs in this folder.
#include "runtime/os.h"

#include <unistd.h>

// Placed by the linker at the first byte of the program's image.
extern "C" const char __executable_start;

namespace dorvane::os {

std::uint32_t image_offset(const void* address) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) -
                                      reinterpret_cast<std::uintptr_t>(&__executable_start));
}

void exit_process(std::uint32_t status) {
    // The system keeps 8 bits of the status: a number above 255 must not end as a
    // success just because its low byte is 0.
    _exit(status > 255 ? 255 : static_cast<int>(status));
}

} // namespace dorvane::os
