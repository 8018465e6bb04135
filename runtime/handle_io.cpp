// runtime/handle_io.cpp - the standard handles and the handle primitives.
// Portable.
#include "runtime/handle_io.h"

#include "runtime/io_error.h"
#include "runtime/os.h"

namespace dorvane {

namespace {
Handle standard_handles[3] = {no_handle, no_handle, no_handle};
}

void init_file_layer() {
    standard_handles[0] = os::standard_handle(os::StandardStream::input);
    standard_handles[1] = os::standard_handle(os::StandardStream::output);
    standard_handles[2] = os::standard_handle(os::StandardStream::error);
}

Handle standard_input_handle() {
    return standard_handles[0];
}
Handle standard_output_handle() {
    return standard_handles[1];
}
Handle standard_error_handle() {
    return standard_handles[2];
}

bool is_standard_handle(Handle handle) {
    return handle == standard_handles[0] || handle == standard_handles[1] ||
           handle == standard_handles[2];
}

std::size_t write_handle(Handle handle, const std::uint8_t* buffer, std::size_t count) {
    std::size_t written = 0;
    if (const std::uint16_t error = os::write_file(handle, buffer, count, written))
        store_io_error(error);
    return written;
}

} // namespace dorvane
