// runtime/handle.h - the operating-system handle as the run-time layer stores it.
// Portable: a file descriptor on POSIX, a HANDLE on Windows, both fit this integer.
#pragma once

#include <cstdint>

namespace dorvane {

/// An operating-system handle: a file descriptor on POSIX, a HANDLE on Windows.
using Handle = std::intptr_t;

/// The handle of a record that holds no open file: all bits set.
inline constexpr Handle no_handle = -1;

} // namespace dorvane
