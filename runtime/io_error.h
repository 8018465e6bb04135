// runtime/io_error.h - the pending I/O error and every I/O error number.
// Portable: the one place that stores a failure and the one guard that tests for it.
#pragma once

#include <cstdint>

namespace dorvane {

/// The number of the last I/O error not yet taken or passed to check_io; 0 when none.
/// One per thread. A new number replaces the one held.
extern thread_local std::uint16_t pending_io_error;

/// The I/O error numbers. The first group are operating-system codes with the
/// meaning they have on Windows; the back ends map their platform's codes onto them.
namespace io_error {
inline constexpr std::uint16_t file_not_found = 2; ///< the file does not exist
inline constexpr std::uint16_t path_not_found =
    3; ///< a directory is missing, or the name is too long
inline constexpr std::uint16_t too_many_open_files = 4; ///< no handle left in the process or system
inline constexpr std::uint16_t access_denied = 5;      ///< no rights, a directory, or a file in use
inline constexpr std::uint16_t invalid_handle = 6;     ///< the handle is not open
inline constexpr std::uint16_t not_enough_memory = 8;  ///< the system has no memory for the call
inline constexpr std::uint16_t invalid_parameter = 87; ///< the call was refused as malformed
inline constexpr std::uint16_t read_past_end = 100;    ///< a read delivered no byte
inline constexpr std::uint16_t disk_full = 101; ///< a write did not fit, or a text write-out failed
inline constexpr std::uint16_t file_not_assigned = 102; ///< the file was never bound to a name
inline constexpr std::uint16_t file_not_open = 103;     ///< the file is not open
inline constexpr std::uint16_t not_open_for_input =
    104; ///< a read from a file open for writing only
inline constexpr std::uint16_t not_open_for_output =
    105;                                              ///< a write to a file open for reading only
inline constexpr std::uint16_t write_protected = 150; ///< read-only media
inline constexpr std::uint16_t unknown_unit = 151;    ///< the device is unknown
inline constexpr std::uint16_t drive_not_ready = 152; ///< the device is absent or not ready
inline constexpr std::uint16_t device_failure = 162;  ///< the device reported a hardware failure
inline constexpr std::uint16_t broken_pipe = 232;     ///< the reader of a pipe has gone
} // namespace io_error

/// Makes `number` the pending I/O error, replacing whatever was pending. Every
/// failure in the run-time layer is stored through here.
void store_io_error(std::uint16_t number);

/// True while an I/O error is pending: the one guard that makes every file and
/// text operation do nothing until the error is taken.
inline bool io_error_is_pending() {
    return pending_io_error != 0;
}

/// Returns the pending I/O error and clears it; 0 when none was pending.
std::uint16_t take_io_error();

} // namespace dorvane
