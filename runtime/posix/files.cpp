// runtime/posix/files.cpp - files and standard handles on file descriptors.
// Only POSIX code belongs in this folder.
#include "runtime/os.h"

#include "runtime/io_error.h"
#include "runtime/posix/error_map.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorvane::os {

namespace {

std::uint16_t last_error() {
    return posix::map_errno(errno);
}

int as_descriptor(Handle handle) {
    return static_cast<int>(handle);
}

/// Realises the share rule on a regular file: others may read it while it is open
/// here, but not write it. Readers share a lock, a writer holds it alone.
std::uint16_t take_share_lock(int descriptor, Access access) {
    const int operation = (access == Access::read ? LOCK_SH : LOCK_EX) | LOCK_NB;
    while (flock(descriptor, operation) != 0) {
        if (errno != EINTR)
            return errno == EWOULDBLOCK ? io_error::access_denied : last_error();
    }
    return 0;
}

/// True when standard output or standard error writes the file `status` describes:
/// the shell opened it for writing, so it is in use by a writer that holds no lock.
bool is_written_by_standard_stream(const struct stat& status) {
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat stream_status {};
        const int flags = fcntl(stream, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(stream, &stream_status) == 0 &&
            stream_status.st_dev == status.st_dev && stream_status.st_ino == status.st_ino)
            return true;
    }
    return false;
}

std::uint16_t secure_opened_file(int descriptor, Access access, Creation creation) {
    struct stat status {};
    if (fstat(descriptor, &status) != 0)
        return last_error();
    if (S_ISDIR(status.st_mode))
        return io_error::access_denied;
    if (!S_ISREG(status.st_mode))
        return 0; // devices and FIFOs are neither locked nor emptied
    if (is_written_by_standard_stream(status))
        return io_error::access_denied;
    if (const std::uint16_t error = take_share_lock(descriptor, access))
        return error;
    if (fstat(descriptor, &status) != 0) // the size as it is now that the file is ours
        return last_error();
    // Emptied only now that nobody else may be writing it: a file that cannot be
    // secured keeps its contents.
    // NOTE: an empty file is not truncated again: on some file systems a truncation
    // to 0 makes the close wait for the whole new contents to reach the disk.
    if (creation == Creation::create_always && status.st_size != 0) {
        while (ftruncate(descriptor, 0) != 0) {
            if (errno != EINTR)
                return last_error();
        }
    }
    return 0;
}

} // namespace

Handle standard_handle(StandardStream stream) {
    switch (stream) {
    case StandardStream::input:
        return STDIN_FILENO;
    case StandardStream::output:
        return STDOUT_FILENO;
    case StandardStream::error:
        return STDERR_FILENO;
    }
    return no_handle;
}

std::uint16_t open_file(std::string_view name, Access access, Creation creation, Handle& handle) {
    const std::string path(name);
    int flags = O_NOCTTY;
    switch (access) {
    case Access::read:
        flags |= O_RDONLY;
        break;
    case Access::write:
        flags |= O_WRONLY;
        break;
    case Access::read_write:
        flags |= O_RDWR;
        break;
    }
    if (creation == Creation::create_always)
        flags |= O_CREAT;
    int descriptor = -1;
    do {
        descriptor = ::open(path.c_str(), flags, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return last_error();
    // NOTE: a process started with a standard stream closed gets its number back from
    // open; the file must not pass for that standard stream.
    if (descriptor <= STDERR_FILENO) {
        const int moved = fcntl(descriptor, F_DUPFD, STDERR_FILENO + 1);
        const std::uint16_t error = moved < 0 ? last_error() : 0;
        ::close(descriptor);
        if (error != 0)
            return error;
        descriptor = moved;
    }
    if (const std::uint16_t error = secure_opened_file(descriptor, access, creation)) {
        ::close(descriptor);
        return error;
    }
    handle = descriptor;
    return 0;
}

std::uint16_t read_file(Handle handle, std::uint8_t* buffer, std::size_t count,
                        std::size_t& received) {
    received = 0;
    for (;;) {
        const ssize_t result = ::read(as_descriptor(handle), buffer, count);
        if (result >= 0) {
            received = static_cast<std::size_t>(result);
            return 0;
        }
        if (errno != EINTR)
            return last_error();
    }
}

std::uint16_t write_file(Handle handle, const std::uint8_t* buffer, std::size_t count,
                         std::size_t& written) {
    written = 0;
    while (written < count) {
        const ssize_t result = ::write(as_descriptor(handle), buffer + written, count - written);
        if (result > 0) {
            written += static_cast<std::size_t>(result);
        } else if (result == 0) {
            return io_error::disk_full; // nothing taken and no reason given
        } else if (errno != EINTR) {
            return last_error();
        }
    }
    return 0;
}

std::uint16_t seek_file(Handle handle, std::int64_t offset, Origin origin, std::int64_t& position) {
    const int whence = origin == Origin::begin     ? SEEK_SET
                       : origin == Origin::current ? SEEK_CUR
                                                   : SEEK_END;
    const off_t result = ::lseek(as_descriptor(handle), static_cast<off_t>(offset), whence);
    if (result < 0)
        return last_error();
    position = result;
    return 0;
}

std::uint16_t file_size(Handle handle, std::int64_t& size) {
    struct stat status {};
    if (fstat(as_descriptor(handle), &status) != 0)
        return last_error();
    size = S_ISREG(status.st_mode) ? status.st_size : 0;
    return 0;
}

std::uint16_t close_handle(Handle handle) {
    // NOTE: close is not retried on EINTR: on Linux the descriptor is gone either way.
    if (::close(as_descriptor(handle)) != 0 && errno != EINTR)
        return last_error();
    return 0;
}

} // namespace dorvane::os
