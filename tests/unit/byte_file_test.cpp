// tests/unit/byte_file_test.cpp - byte-file states and transitions on real files: each
// open and close, the error numbers that the layer sets, the pending-error rule, and the
// access that open_mode gives. Test code for the run-time layer.
#include "byte_file_support.h"
#include "runtime/byte_file.h"
#include "runtime/io_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using dorvane::FileState;
using dorvane::ShortText;
using dorvane::take_io_error;
using dorvane::test::Bytes;
using dorvane::test::bytes_of;
using dorvane::test::file_named;
using dorvane::test::path_exists;
using dorvane::test::read_to_end;
using dorvane::test::read_whole_file;
using dorvane::test::unbound_file;
using dorvane::test::write_bytes;
using dorvane::test::write_whole_file;

class ByteFileStates : public dorvane::test::ByteFileFixture {};

// States and transitions.

TEST_F(ByteFileStates, AnUnboundRecordCannotBeUsed) {
    auto file = unbound_file();
    EXPECT_EQ(file->state, FileState::unbound);
    dorvane::open_for_reading(*file, 1);
    EXPECT_EQ(take_io_error(), 102);
    dorvane::create_for_writing(*file, 1);
    EXPECT_EQ(take_io_error(), 102);
    EXPECT_EQ(file->state, FileState::unbound);
    EXPECT_FALSE(dorvane::at_end(*file));
    EXPECT_EQ(take_io_error(), 103);
    std::uint8_t byte = 0;
    dorvane::read_byte(*file, byte);
    EXPECT_EQ(take_io_error(), 103);
    dorvane::write_byte(*file, 1);
    EXPECT_EQ(take_io_error(), 103);
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 103);
    EXPECT_EQ(file->state, FileState::unbound);
}

TEST_F(ByteFileStates, ABoundRecordIsClosed) {
    auto file = file_named(path("f"));
    EXPECT_EQ(file->state, FileState::closed);
    EXPECT_EQ(file->handle, dorvane::no_handle);
    EXPECT_EQ(file->record_size, 0);
    EXPECT_EQ(file->name.view(), path("f"));
    EXPECT_FALSE(dorvane::at_end(*file));
    EXPECT_EQ(take_io_error(), 103);
    std::uint8_t byte = 0;
    dorvane::read_byte(*file, byte);
    EXPECT_EQ(take_io_error(), 103);
    dorvane::write_byte(*file, 1);
    EXPECT_EQ(take_io_error(), 103);
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 103);
    EXPECT_FALSE(path_exists(path("f")));
}

TEST_F(ByteFileStates, EachOpenGivesItsStateAndCloseGivesClosed) {
    write_whole_file(path("f"), "data");
    struct OpenCase {
        int open_mode; // -1 for create_for_writing
        FileState state;
    };
    for (const OpenCase open : {OpenCase{0, FileState::input}, OpenCase{1, FileState::output},
                                OpenCase{2, FileState::in_out}, OpenCase{-1, FileState::in_out}}) {
        auto file = file_named(path("f"));
        if (open.open_mode < 0) {
            dorvane::create_for_writing(*file, 3);
        } else {
            dorvane::open_mode = static_cast<std::uint8_t>(open.open_mode);
            dorvane::open_for_reading(*file, 3);
        }
        EXPECT_EQ(take_io_error(), 0) << open.open_mode;
        EXPECT_EQ(file->state, open.state) << open.open_mode;
        EXPECT_EQ(file->record_size, 3);
        const dorvane::Handle handle = file->handle;
        EXPECT_TRUE(dorvane::test::descriptor_is_open(static_cast<int>(handle)));
        EXPECT_EQ(::fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0); // inheritable
        dorvane::close_file(*file);
        EXPECT_EQ(take_io_error(), 0);
        EXPECT_EQ(file->state, FileState::closed);
        EXPECT_EQ(file->handle, handle); // the old value stays in the record
        EXPECT_FALSE(dorvane::test::descriptor_is_open(static_cast<int>(handle)));
    }
}

TEST_F(ByteFileStates, ARecordSizeBelowOneIsRefusedWith2) {
    write_whole_file(path("old"), "contents");
    for (const std::int32_t record_size : {0, -1, INT32_MIN}) {
        auto created = file_named(path("new"));
        dorvane::create_for_writing(*created, record_size);
        EXPECT_EQ(take_io_error(), 2) << record_size;
        EXPECT_EQ(created->state, FileState::closed);
        EXPECT_EQ(created->record_size, 0);
        EXPECT_FALSE(path_exists(path("new")));

        auto opened = file_named(path("old"));
        dorvane::open_for_reading(*opened, record_size);
        EXPECT_EQ(take_io_error(), 2) << record_size;
        EXPECT_EQ(opened->state, FileState::closed);
        dorvane::create_for_writing(*opened, record_size);
        EXPECT_EQ(take_io_error(), 2) << record_size;
        EXPECT_EQ(read_whole_file(path("old")), bytes_of("contents"));
    }
    // An open record is closed first, then the size is refused.
    auto file = file_named(path("old"));
    dorvane::open_for_reading(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    dorvane::open_for_reading(*file, 0);
    EXPECT_EQ(take_io_error(), 2);
    EXPECT_EQ(file->state, FileState::closed);
    EXPECT_EQ(file->record_size, 1);
}

TEST_F(ByteFileStates, AFailedOpenLeavesTheRecordClosedWithItsRecordSize) {
    write_whole_file(path("plain"), "x");
    ASSERT_EQ(::symlink(path("loop").c_str(), path("loop").c_str()), 0);
    struct FailureCase {
        std::string name;
        std::uint16_t number;
    };
    const FailureCase cases[] = {
        {path("missing"), 2},
        {path("no-such-folder/f"), 2},
        {path("plain/f"), 3}, // a file used as a folder
        {path("loop"), 3},
    };
    for (const FailureCase& failure : cases) {
        auto file = file_named(failure.name);
        dorvane::open_for_reading(*file, 4);
        EXPECT_EQ(take_io_error(), failure.number) << failure.name;
        EXPECT_EQ(file->state, FileState::closed);
        EXPECT_EQ(file->record_size, 4);
        if (failure.name != path("missing")) {
            dorvane::create_for_writing(*file, 5);
            EXPECT_EQ(take_io_error(), failure.number) << failure.name;
            EXPECT_EQ(file->record_size, 5);
        }
    }
}

TEST_F(ByteFileStates, OpeningAnOpenRecordClosesItFirst) {
    auto file = file_named(path("f"));
    dorvane::create_for_writing(*file, 1);
    write_bytes(*file, bytes_of("abc"));
    dorvane::open_for_reading(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    EXPECT_EQ(read_to_end(*file), bytes_of("abc"));
}

TEST_F(ByteFileStates, ClosingTwiceGives103AndAtEndAfterCloseIsFalse) {
    write_whole_file(path("f"), "x");
    auto file = file_named(path("f"));
    dorvane::open_for_reading(*file, 1);
    dorvane::close_file(*file);
    ASSERT_EQ(take_io_error(), 0);
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 103);
    EXPECT_FALSE(dorvane::at_end(*file));
    EXPECT_EQ(take_io_error(), 103);
    EXPECT_EQ(file->state, FileState::closed);
}

TEST_F(ByteFileStates, TakeIoErrorClearsTheNumber) {
    auto file = unbound_file();
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 103);
    EXPECT_EQ(take_io_error(), 0);
    EXPECT_EQ(dorvane::pending_io_error, 0);
}

// The pending-error rule.

TEST_F(ByteFileStates, NothingHappensWhileAnErrorIsPending) {
    write_whole_file(path("keep"), "contents");
    write_whole_file(path("open"), "xyz");
    auto open = file_named(path("open"));
    dorvane::open_for_reading(*open, 1);
    std::uint8_t byte = 0;
    dorvane::read_byte(*open, byte);
    write_whole_file(path("empty"), Bytes{});
    auto empty = file_named(path("empty"));
    dorvane::open_for_reading(*empty, 1);
    ASSERT_EQ(take_io_error(), 0);

    dorvane::store_io_error(7);
    EXPECT_FALSE(dorvane::at_end(*empty));
    auto keep = file_named(path("keep"));
    dorvane::create_for_writing(*keep, 1);
    EXPECT_EQ(keep->state, FileState::closed);
    EXPECT_FALSE(dorvane::at_end(*keep));
    auto created = file_named(path("new"));
    dorvane::create_for_writing(*created, 1);
    dorvane::open_for_reading(*created, 1);
    EXPECT_EQ(created->state, FileState::closed);
    auto never_bound = unbound_file();
    dorvane::open_for_reading(*never_bound, 1);
    dorvane::close_file(*never_bound);

    byte = 0xEE;
    EXPECT_FALSE(dorvane::at_end(*open));
    dorvane::read_byte(*open, byte);
    EXPECT_EQ(byte, 0xEE);
    dorvane::write_byte(*open, 'W');
    dorvane::close_file(*open);
    EXPECT_EQ(open->state, FileState::in_out);
    EXPECT_EQ(dorvane::pending_io_error, 7);

    // Binding a name is the one operation that still works, and it leaves the number.
    auto late = unbound_file();
    dorvane::assign_name(*late, ShortText::from(path("late")));
    EXPECT_EQ(late->state, FileState::closed);
    EXPECT_EQ(take_io_error(), 7);

    EXPECT_EQ(read_whole_file(path("keep")), bytes_of("contents"));
    EXPECT_FALSE(path_exists(path("new")));
    dorvane::read_byte(*open, byte); // the position did not move
    EXPECT_EQ(byte, 'y');
    dorvane::close_file(*open);
    EXPECT_EQ(take_io_error(), 0);
    EXPECT_EQ(read_whole_file(path("open")), bytes_of("xyz"));
}

// open_mode and the access it gives.

TEST_F(ByteFileStates, OpenMode0ReadsOnly) {
    write_whole_file(path("f"), "abc");
    dorvane::open_mode = 0;
    auto file = file_named(path("f"));
    dorvane::open_for_reading(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    dorvane::write_byte(*file, 'X');
    EXPECT_EQ(take_io_error(), 105);
    EXPECT_EQ(read_to_end(*file), bytes_of("abc"));
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 0);
    EXPECT_EQ(read_whole_file(path("f")), bytes_of("abc"));
}

TEST_F(ByteFileStates, OpenMode1WritesOnlyWithoutEmptying) {
    write_whole_file(path("f"), "abcdef");
    dorvane::open_mode = 1;
    auto file = file_named(path("f"));
    dorvane::open_for_reading(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    std::uint8_t byte = 0;
    dorvane::read_byte(*file, byte);
    EXPECT_EQ(take_io_error(), 104);
    EXPECT_FALSE(dorvane::at_end(*file));
    write_bytes(*file, bytes_of("XYZ"));
    EXPECT_FALSE(dorvane::at_end(*file));
    write_bytes(*file, bytes_of("UVW"));
    EXPECT_TRUE(dorvane::at_end(*file)); // counts the bytes still in the buffer
    dorvane::write_byte(*file, '!');
    EXPECT_TRUE(dorvane::at_end(*file));
    EXPECT_EQ(take_io_error(), 0);
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 0);
    EXPECT_EQ(read_whole_file(path("f")), bytes_of("XYZUVW!"));
}

TEST_F(ByteFileStates, ACreatedFileCanBeRead) {
    auto file = file_named(path("f"));
    dorvane::create_for_writing(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    EXPECT_TRUE(dorvane::at_end(*file));
    write_bytes(*file, bytes_of("abc"));
    EXPECT_TRUE(dorvane::at_end(*file));
    std::uint8_t byte = 0;
    dorvane::read_byte(*file, byte); // at the end: 100, where a write-only file gives 104
    EXPECT_EQ(take_io_error(), 100);
    dorvane::close_file(*file);
    EXPECT_EQ(read_whole_file(path("f")), bytes_of("abc"));
}

/// Runs `body` in a child process without root's rights and returns its exit status.
int as_unprivileged_child(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(250);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(ByteFileStates, AReadOnlyFileOpensOnlyWithOpenMode0) {
    // Root ignores permissions: the opens run in a child that gives them up.
    write_whole_file(path("read-only"), "r");
    ASSERT_EQ(::chmod(folder_.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path("read-only").c_str(), 0444), 0);
    const std::string name = path("read-only");
    const auto open_with = [&](int mode) {
        return as_unprivileged_child([&] {
            auto file = file_named(name);
            if (mode < 0) {
                dorvane::create_for_writing(*file, 1);
            } else {
                dorvane::open_mode = static_cast<std::uint8_t>(mode);
                dorvane::open_for_reading(*file, 1);
            }
            if (const std::uint16_t number = take_io_error())
                return static_cast<int>(number);
            std::uint8_t byte = 0;
            dorvane::read_byte(*file, byte);
            return take_io_error() == 0 && byte == 'r' ? 0 : 200;
        });
    };
    EXPECT_EQ(open_with(0), 0);
    EXPECT_EQ(open_with(1), 5);
    EXPECT_EQ(open_with(2), 5);
    EXPECT_EQ(open_with(-1), 5);
    EXPECT_EQ(read_whole_file(name), bytes_of("r"));
}

} // namespace
