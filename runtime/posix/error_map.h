// runtime/posix/error_map.h - errno to I/O error number.
// Only POSIX code belongs in this folder.
#pragma once

#include <cstdint>

namespace dorvane::posix {

/// The I/O error number for `error_code` (an errno value), with the meaning the
/// number has on Windows; an errno without a counterpart stands for itself.
std::uint16_t map_errno(int error_code);

} // namespace dorvane::posix
