// tests/unit/error_map_test.cpp - the errno to I/O error number table of the POSIX
// back end, case by case, including errno values that stand for themselves.
// Test code for the run-time layer's POSIX back end.
#include "runtime/posix/error_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

namespace {

struct Mapping {
    int error_code;
    const char* name;
    std::uint16_t number;
};

TEST(ErrorMap, EveryErrnoMapsToItsNumber) {
    const Mapping table[] = {
        {ENOENT, "ENOENT", 2},
        {ENOTDIR, "ENOTDIR", 3},
        {ENAMETOOLONG, "ENAMETOOLONG", 3},
        {ELOOP, "ELOOP", 3},
        {EMFILE, "EMFILE", 4},
        {ENFILE, "ENFILE", 4},
        {EACCES, "EACCES", 5},
        {EPERM, "EPERM", 5},
        {EISDIR, "EISDIR", 5},
        {EBUSY, "EBUSY", 5},
        {ETXTBSY, "ETXTBSY", 5},
        {EWOULDBLOCK, "EWOULDBLOCK", 5},
        {EAGAIN, "EAGAIN", 5},
        {EBADF, "EBADF", 6},
        {ENOMEM, "ENOMEM", 8},
        {EROFS, "EROFS", 150},
        {ENXIO, "ENXIO", 152},
        {ENODEV, "ENODEV", 152},
        {EIO, "EIO", 162},
        {ENOSPC, "ENOSPC", 101},
        {EDQUOT, "EDQUOT", 101},
        {EFBIG, "EFBIG", 101},
        {EPIPE, "EPIPE", 232},
        {EINVAL, "EINVAL", 87},
        // Without a counterpart: the errno stands for itself.
        {ESPIPE, "ESPIPE", ESPIPE},
        {EEXIST, "EEXIST", EEXIST},
        {ECONNRESET, "ECONNRESET", ECONNRESET},
        {0, "0", 0},
    };
    for (const Mapping& mapping : table)
        EXPECT_EQ(dorvane::posix::map_errno(mapping.error_code), mapping.number) << mapping.name;
}

} // namespace
