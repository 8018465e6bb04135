// runtime/posix/error_map.cpp - errno to I/O error number: the one mapping function.
// Only POSIX code belongs in this folder.
#include "runtime/posix/error_map.h"

#include "runtime/io_error.h"

#include <cerrno>

namespace dorvane::posix {

std::uint16_t map_errno(int error_code) {
    switch (error_code) {
    case ENOENT:
        return io_error::file_not_found;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return io_error::path_not_found;
    case EMFILE:
    case ENFILE:
        return io_error::too_many_open_files;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK:
        return io_error::access_denied;
    case EBADF:
        return io_error::invalid_handle;
    case ENOMEM:
        return io_error::not_enough_memory;
    case EROFS:
        return io_error::write_protected;
    case ENXIO:
    case ENODEV:
        return io_error::drive_not_ready;
    case EIO:
        return io_error::device_failure;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return io_error::disk_full;
    case EPIPE:
        return io_error::broken_pipe;
    case EINVAL:
        return io_error::invalid_parameter;
    default:
        return static_cast<std::uint16_t>(error_code);
    }
}

} // namespace dorvane::posix
