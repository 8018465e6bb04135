// runtime/os.h - the only interface that the platform back ends implement.
// Run-time layer only: runtime/posix/ and runtime/win32/ each define every function
// here in files of the same names; the build compiles one of the two folders.
// Each call reports 0 for success or an I/O error number; none sets pending_io_error.
#pragma once

#include "runtime/handle.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::os {

enum class Access : std::uint8_t { read, write, read_write };
enum class Creation : std::uint8_t { open_existing, create_always };
enum class Origin : std::uint8_t { begin, current, end };
enum class StandardStream : std::uint8_t { input, output, error };

// files.cpp

/// The process's standard handle for `stream`, as the system supplies it.
Handle standard_handle(StandardStream stream);

/// Opens `name` (a byte string of at most 255 bytes) with `access`, others may read
/// the file but not write it while it is open here. `create_always` creates the file
/// or empties an existing one, after it has been secured against other writers.
/// A directory is refused with 5. The handle is inheritable.
std::uint16_t open_file(std::string_view name, Access access, Creation creation, Handle& handle);

/// Reads at most `count` bytes; `received` is 0 at the end of the file.
std::uint16_t read_file(Handle handle, std::uint8_t* buffer, std::size_t count,
                        std::size_t& received);

/// Writes all `count` bytes unless a call fails; `written` counts what was taken.
std::uint16_t write_file(Handle handle, const std::uint8_t* buffer, std::size_t count,
                         std::size_t& written);

/// Moves the file position by `offset` from `origin` and reports the new position.
std::uint16_t seek_file(Handle handle, std::int64_t offset, Origin origin, std::int64_t& position);

/// The size of the file in bytes; 0 for a stream that has no size.
std::uint16_t file_size(Handle handle, std::int64_t& size);

/// Closes a handle that the program opened itself.
std::uint16_t close_handle(Handle handle);

// arguments.cpp

/// The argument vector: entry 0 the program's own path, then one entry per argument,
/// bytes unchanged. `argc` and `argv` are those that the process entry received.
std::vector<std::string> program_arguments(int argc, char** argv);

// faults.cpp

/// Turns the processor faults of this thread into run-time errors, and makes
/// writes to a pipe without a reader fail instead of ending the process.
void install_fault_handler();

/// Gives the processor faults back to the system's default course.
void remove_fault_handler();

// process.cpp

/// The address as an offset into the program's own image, cut to 32 bits, so that a
/// code location reads the same from run to run and matches the symbol tables.
std::uint32_t image_offset(const void* address);

/// Ends the process with `status`, without running anything else.
[[noreturn]] void exit_process(std::uint32_t status);

} // namespace dorvane::os
