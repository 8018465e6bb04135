// runtime/handle_io.h - the standard handles, and the write primitive of the text
// channels. Portable: the primitive makes one back-end call and stores its failure as
// the pending I/O error.
#pragma once

#include "runtime/handle.h"

#include <cstddef>
#include <cstdint>

namespace dorvane {

/// Takes the standard input, output and error handles, in that order, as the system
/// supplies them. Called once by start-up.
void init_file_layer();

Handle standard_input_handle();
Handle standard_output_handle();
Handle standard_error_handle();

/// True when `handle` is one of the three standard handles, which are never closed.
bool is_standard_handle(Handle handle);

/// Writes `count` bytes and returns how many were taken; a failure is stored.
std::size_t write_handle(Handle handle, const std::uint8_t* buffer, std::size_t count);

} // namespace dorvane
