// runtime/io_error.cpp - the pending I/O error.
// Portable.
#include "runtime/io_error.h"

namespace dorvane {

thread_local std::uint16_t pending_io_error = 0;

void store_io_error(std::uint16_t number) {
    pending_io_error = number;
}

std::uint16_t take_io_error() {
    const std::uint16_t number = pending_io_error;
    pending_io_error = 0;
    return number;
}

} // namespace dorvane
