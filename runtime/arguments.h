// runtime/arguments.h - the program's argument vector.
// Portable. Entry 0 is the program's own path; the bytes of every entry pass unchanged.
#pragma once

#include "runtime/short_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dorvane {

/// Makes `entries` the argument vector. Called once by start-up.
void set_argument_vector(std::vector<std::string> entries);

/// Releases the argument vector at the end of the program.
void release_argument_vector();

/// The number of arguments after the program's own path: the entry count minus 1.
std::int32_t argument_count();

/// Entry `index` cut to its first 255 bytes (marked overlong when cut), or the empty
/// text outside 0 .. entry count - 1. Never fails, never touches pending_io_error.
void argument_text(std::int32_t index, ShortText& destination);

} // namespace dorvane
