// runtime/byte_file.cpp - files of one-byte records, their states and block buffers.
// Portable.
#include "runtime/byte_file.h"

#include "runtime/handle_io.h"
#include "runtime/io_error.h"
#include "runtime/os.h"

#include <cstring>

namespace dorvane {

std::uint8_t open_mode = 2;

namespace {

using BufferUse = ByteFile::BufferUse;

ByteFile* first_open_file = nullptr;

bool is_open(FileState state) {
    return state == FileState::input || state == FileState::output || state == FileState::in_out;
}
bool is_readable(FileState state) {
    return state == FileState::input || state == FileState::in_out;
}
bool is_writable(FileState state) {
    return state == FileState::output || state == FileState::in_out;
}

void link_open_file(ByteFile& file) {
    file.previous_open = nullptr;
    file.next_open = first_open_file;
    if (first_open_file != nullptr)
        first_open_file->previous_open = &file;
    first_open_file = &file;
}

void unlink_open_file(ByteFile& file) {
    if (file.previous_open != nullptr)
        file.previous_open->next_open = file.next_open;
    else if (first_open_file == &file)
        first_open_file = file.next_open;
    if (file.next_open != nullptr)
        file.next_open->previous_open = file.previous_open;
    file.next_open = file.previous_open = nullptr;
}

void empty_buffer(ByteFile& file) {
    file.buffer_use = BufferUse::empty;
    file.buffer_next = file.buffer_end = 0;
}

/// Writes out the bytes buffered for writing. The buffer is empty afterwards
/// whatever happened: bytes that the system refused are not offered again.
std::uint16_t write_out(ByteFile& file) {
    if (file.buffer_use != BufferUse::writing)
        return 0;
    std::size_t written = 0;
    const std::uint16_t error = os::write_file(file.handle, file.buffer, file.buffer_end, written);
    empty_buffer(file);
    return error;
}

/// Gives back the bytes read ahead and not delivered, so that the system's position
/// is the logical one again before a write.
std::uint16_t give_back_read_ahead(ByteFile& file) {
    const std::int64_t unread = std::int64_t{file.buffer_end} - file.buffer_next;
    empty_buffer(file);
    if (unread == 0)
        return 0;
    std::int64_t position = 0;
    return os::seek_file(file.handle, -unread, os::Origin::current, position);
}

enum class Fill : std::uint8_t { ready, end, failed };

/// Makes at least `wanted` unread bytes available, unless the file ends first.
/// A failed read is stored.
Fill read_ahead(ByteFile& file, std::size_t wanted) {
    if (file.buffer_use == BufferUse::writing) {
        if (const std::uint16_t error = write_out(file)) {
            store_io_error(error);
            return Fill::failed;
        }
    }
    if (file.buffer_use != BufferUse::reading) {
        empty_buffer(file);
        file.buffer_use = BufferUse::reading;
    }
    while (file.buffer_end - file.buffer_next < wanted) {
        const std::uint32_t unread = file.buffer_end - file.buffer_next;
        if (file.buffer_next != 0) {
            std::memmove(file.buffer, file.buffer + file.buffer_next, unread);
            file.buffer_next = 0;
            file.buffer_end = unread;
        }
        std::size_t received = 0;
        if (const std::uint16_t error = os::read_file(file.handle, file.buffer + unread,
                                                      file_block_size - unread, received)) {
            store_io_error(error);
            return Fill::failed;
        }
        if (received == 0)
            return Fill::end;
        file.buffer_end += static_cast<std::uint32_t>(received);
    }
    return Fill::ready;
}

/// The end test by the system's position and size, for a file that cannot be read
/// ahead: one open for writing only, or one whose records are larger than the buffer.
bool at_end_by_size(ByteFile& file) {
    std::int64_t system_position = 0;
    std::int64_t size = 0;
    std::uint16_t error = os::seek_file(file.handle, 0, os::Origin::current, system_position);
    if (error == 0)
        error = os::file_size(file.handle, size);
    if (error != 0) {
        store_io_error(error);
        return false;
    }
    std::int64_t position = system_position;
    if (file.buffer_use == BufferUse::writing)
        position += file.buffer_end;
    else
        position -= file.buffer_end - file.buffer_next;
    if (size < position)
        size = position;
    return position / file.record_size >= size / file.record_size;
}

/// Writes out and closes an open file, as close_file does after its checks.
void close_open_file(ByteFile& file) {
    std::uint16_t error = write_out(file);
    empty_buffer(file);
    if (!is_standard_handle(file.handle)) {
        const std::uint16_t close_error = os::close_handle(file.handle);
        if (error == 0)
            error = close_error;
    }
    unlink_open_file(file);
    file.state = FileState::closed;
    if (error != 0)
        store_io_error(error);
}

/// Writes out what an open record buffers and forgets it, storing no failure.
void abandon_open_file(ByteFile& file) {
    if (!is_open(file.state))
        return;
    write_out(file);
    empty_buffer(file);
    unlink_open_file(file);
}

enum class OpenKind : std::uint8_t { existing, created };

void open_byte_file(ByteFile& file, std::int32_t record_size, OpenKind kind) {
    if (io_error_is_pending())
        return;
    if (file.state == FileState::unbound) {
        store_io_error(io_error::file_not_assigned);
        return;
    }
    if (is_open(file.state))
        close_open_file(file); // a failure here stays pending; the open goes on
    // NOTE: a negative record size is refused like 0: no record could be delivered.
    if (record_size <= 0) {
        store_io_error(io_error::file_not_found);
        return;
    }

    FileState new_state = FileState::in_out;
    os::Access access = os::Access::read_write;
    if (kind == OpenKind::existing && open_mode == 0) {
        new_state = FileState::input;
        access = os::Access::read;
    } else if (kind == OpenKind::existing && open_mode == 1) {
        new_state = FileState::output;
        access = os::Access::write;
    }

    file.handle = no_handle;
    file.state = new_state;
    file.position = 0;
    empty_buffer(file);

    if (file.name.overlong) {
        // A cut name could name another file, which create_for_writing would empty.
        store_io_error(io_error::path_not_found);
        file.state = FileState::closed;
    } else if (file.name.length == 0) {
        file.handle =
            new_state == FileState::input ? standard_input_handle() : standard_output_handle();
    } else {
        Handle handle = no_handle;
        const os::Creation creation =
            kind == OpenKind::created ? os::Creation::create_always : os::Creation::open_existing;
        if (const std::uint16_t error = os::open_file(file.name.view(), access, creation, handle)) {
            store_io_error(error);
            file.state = FileState::closed;
        } else {
            file.handle = handle;
        }
    }
    if (is_open(file.state))
        link_open_file(file);
    file.record_size = record_size;
}

} // namespace

ByteFile::~ByteFile() {
    if (!is_open(state))
        return;
    abandon_open_file(*this);
    if (!is_standard_handle(handle))
        os::close_handle(handle);
    state = FileState::closed;
}

void assign_name(ByteFile& file, const ShortText& name) {
    abandon_open_file(file);
    file.handle = no_handle;
    file.state = FileState::closed;
    file.record_size = 0;
    file.name = name;
    file.position = 0;
    empty_buffer(file);
}

void open_for_reading(ByteFile& file, std::int32_t record_size) {
    open_byte_file(file, record_size, OpenKind::existing);
}

void create_for_writing(ByteFile& file, std::int32_t record_size) {
    open_byte_file(file, record_size, OpenKind::created);
}

bool at_end(ByteFile& file) {
    if (io_error_is_pending())
        return false;
    if (!is_open(file.state)) {
        store_io_error(io_error::file_not_open);
        return false;
    }
    const auto record_size = static_cast<std::uint64_t>(file.record_size);
    const std::uint64_t wanted = record_size - file.position % record_size;
    if (file.state == FileState::output || wanted > file_block_size)
        return at_end_by_size(file);
    if (file.buffer_use == BufferUse::reading && file.buffer_end - file.buffer_next >= wanted)
        return false;
    return read_ahead(file, static_cast<std::size_t>(wanted)) == Fill::end;
}

void read_byte(ByteFile& file, std::uint8_t& destination) {
    if (io_error_is_pending())
        return;
    if (!is_readable(file.state)) {
        store_io_error(file.state == FileState::output ? io_error::not_open_for_input
                                                       : io_error::file_not_open);
        return;
    }
    if (file.buffer_use != BufferUse::reading || file.buffer_next == file.buffer_end) {
        if (file.buffer_use == BufferUse::writing) {
            if (const std::uint16_t error = write_out(file)) {
                store_io_error(error);
                return;
            }
        }
        if (read_ahead(file, 1) != Fill::ready) {
            store_io_error(io_error::read_past_end);
            return;
        }
    }
    destination = file.buffer[file.buffer_next++];
    ++file.position;
}

void write_byte(ByteFile& file, std::uint8_t source) {
    if (io_error_is_pending())
        return;
    if (!is_writable(file.state)) {
        store_io_error(file.state == FileState::input ? io_error::not_open_for_output
                                                      : io_error::file_not_open);
        return;
    }
    if (file.buffer_use != BufferUse::writing) {
        if (const std::uint16_t error = give_back_read_ahead(file)) {
            store_io_error(error);
            return;
        }
        file.buffer_use = BufferUse::writing;
    } else if (file.buffer_end == file_block_size) {
        // The block goes out when the next byte needs its room, never earlier, so
        // that bytes expanded straight into the buffer trigger the same calls.
        if (const std::uint16_t error = write_out(file)) {
            store_io_error(error);
            return;
        }
        file.buffer_use = BufferUse::writing;
    }
    file.buffer[file.buffer_end++] = source;
    ++file.position;
}

void close_file(ByteFile& file) {
    if (io_error_is_pending())
        return;
    if (!is_open(file.state)) {
        store_io_error(io_error::file_not_open);
        return;
    }
    close_open_file(file);
}

std::span<const std::uint8_t> buffered_input(const ByteFile& file) {
    if (io_error_is_pending() || !is_readable(file.state) || file.buffer_use != BufferUse::reading)
        return {};
    return {file.buffer + file.buffer_next, file.buffer_end - file.buffer_next};
}

void consume_buffered_input(ByteFile& file, std::size_t count) {
    file.buffer_next += static_cast<std::uint32_t>(count);
    file.position += count;
}

std::span<std::uint8_t> buffered_output_room(ByteFile& file) {
    if (io_error_is_pending() || !is_writable(file.state))
        return {};
    switch (file.buffer_use) {
    case BufferUse::writing:
        return {file.buffer + file.buffer_end, file_block_size - file.buffer_end};
    case BufferUse::empty:
        return {file.buffer, file_block_size};
    case BufferUse::reading:
        // Only when nothing read ahead would have to be given back first.
        if (file.buffer_next == file.buffer_end)
            return {file.buffer, file_block_size};
        return {};
    }
    return {};
}

void commit_buffered_output(ByteFile& file, std::size_t count) {
    if (count == 0)
        return;
    if (file.buffer_use != BufferUse::writing) {
        empty_buffer(file);
        file.buffer_use = BufferUse::writing;
    }
    file.buffer_end += static_cast<std::uint32_t>(count);
    file.position += count;
}

void write_out_open_files() {
    for (ByteFile* file = first_open_file; file != nullptr; file = file->next_open)
        write_out(*file);
}

} // namespace dorvane
