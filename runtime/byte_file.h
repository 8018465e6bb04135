// runtime/byte_file.h - files of one-byte records, their states and block buffers.
// Portable. Every operation leaves its outcome in pending_io_error and does nothing
// while an error is pending, except assign_name.
#pragma once

#include "runtime/handle.h"
#include "runtime/short_text.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace dorvane {

/// The states of a ByteFile. A zero-filled record is `unbound`.
enum class FileState : std::uint8_t { unbound = 0, closed, input, output, in_out };

/// The access that open_for_reading takes: 0 read only, 1 write only, 2 read and write.
/// Process-wide; starts at 2.
extern std::uint8_t open_mode;

/// Bytes a ByteFile moves per system call.
inline constexpr std::size_t file_block_size = 128 * 1024;

/// A named file of fixed-size records with its own block buffer. The buffer only
/// changes when the system calls happen: the bytes delivered, their order, the
/// logical position and the error numbers are those of one call per byte.
struct ByteFile {
    enum class BufferUse : std::uint8_t { empty, reading, writing };

    Handle handle;
    FileState state;
    std::int32_t record_size;
    ShortText name;

    // The block buffer. Reading: bytes [buffer_next, buffer_end) are read ahead and
    // not yet delivered. Writing: bytes [0, buffer_end) are written and not yet out.
    BufferUse buffer_use;
    std::uint32_t buffer_next;
    std::uint32_t buffer_end;
    std::uint64_t position; ///< bytes delivered or written since the open
    ByteFile* next_open;    ///< the chain of open files, written out at termination
    ByteFile* previous_open;
    alignas(64) std::uint8_t buffer[file_block_size];

    /// Writes out and closes a file that is still open, so that a record that goes
    /// out of scope leaves no dangling entry behind.
    ~ByteFile();
};

/// Binds `name` and resets the record to `closed`. Performs no I/O beyond writing out
/// what an open record still buffers; never reads or sets pending_io_error.
/// A name that was cut from a longer text can be bound but never opened.
void assign_name(ByteFile& file, const ShortText& name);

/// Opens an existing file with the access of open_mode. The empty name takes standard
/// input (read only) or standard output. Sets 102 when unbound, 2 for a record size
/// below 1, 3 for a cut name, and the platform's number when the open fails.
void open_for_reading(ByteFile& file, std::int32_t record_size);

/// Creates the file for reading and writing; an existing file is emptied. The empty
/// name takes standard output. Errors as open_for_reading.
void create_for_writing(ByteFile& file, std::int32_t record_size);

/// True when no whole record remains after the position. Reads ahead to find out, so
/// it works on pipes and terminals, and leaves the logical position unchanged.
/// Sets 103 when the file is not open, the platform's number when a read fails.
bool at_end(ByteFile& file);

/// Reads the next byte. Sets 100 when no byte arrives (end of file or a failed read),
/// 104 on a file open for writing only, 103 when not open.
void read_byte(ByteFile& file, std::uint8_t& destination);

/// Writes one byte at the position. Sets the platform's number when the block write
/// that it triggers fails (101 for a full disk), 105 on a file open for reading only,
/// 103 when not open.
void write_byte(ByteFile& file, std::uint8_t source);

/// Writes out what the buffer holds and closes the file; a standard handle stays open.
/// The file is `closed` afterwards even when that fails. Sets 103 when not open.
void close_file(ByteFile& file);

/// The bytes that read_byte would deliver next without a system call; empty when an
/// error is pending or the file cannot be read.
std::span<const std::uint8_t> buffered_input(const ByteFile& file);

/// Takes `count` bytes of buffered_input as read_byte would take them one by one.
void consume_buffered_input(ByteFile& file, std::size_t count);

/// The room that write_byte would fill without a system call; empty when an error is
/// pending or the file cannot be written.
std::span<std::uint8_t> buffered_output_room(ByteFile& file);

/// Records that the first `count` bytes of buffered_output_room were written, as
/// write_byte would write them one by one.
void commit_buffered_output(ByteFile& file, std::size_t count);

/// Writes out what every open file still buffers, ignoring and storing no failure.
/// Used on the way out of the process, so that nothing written is lost.
void write_out_open_files();

} // namespace dorvane
