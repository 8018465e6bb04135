// tests/unit/byte_file_names_test.cpp - byte-file names and what they open: creating
// over and beside other opens, folders, name lengths, the backslash, and the empty name
// on the standard handles. Test code for the run-time layer.
#include "byte_file_support.h"
#include "runtime/byte_file.h"
#include "runtime/handle_io.h"
#include "runtime/io_error.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using dorvane::FileState;
using dorvane::ShortText;
using dorvane::take_io_error;
using dorvane::test::bytes_of;
using dorvane::test::file_named;
using dorvane::test::path_exists;
using dorvane::test::read_to_end;
using dorvane::test::read_whole_file;
using dorvane::test::Redirection;
using dorvane::test::unbound_file;
using dorvane::test::write_bytes;
using dorvane::test::write_whole_file;

class ByteFileNames : public dorvane::test::ByteFileFixture {};

// Creating, sharing, folders and names.

TEST_F(ByteFileNames, CreateEmptiesAnExistingFile) {
    write_whole_file(path("f"), "old contents");
    auto file = file_named(path("f"));
    dorvane::create_for_writing(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    EXPECT_TRUE(read_whole_file(path("f")).empty());
    EXPECT_TRUE(dorvane::at_end(*file));
    dorvane::close_file(*file);
    EXPECT_TRUE(read_whole_file(path("f")).empty());
}

TEST_F(ByteFileNames, AFileOpenForReadingCannotBeCreated) {
    write_whole_file(path("f"), "kept");
    ASSERT_EQ(::link(path("f").c_str(), path("hard-link").c_str()), 0);
    dorvane::open_mode = 0;
    auto reader = file_named(path("f"));
    dorvane::open_for_reading(*reader, 1);
    ASSERT_EQ(take_io_error(), 0);

    for (const char* name : {"f", "hard-link"}) {
        auto writer = file_named(path(name));
        dorvane::create_for_writing(*writer, 1);
        EXPECT_EQ(take_io_error(), 5) << name;
        EXPECT_EQ(writer->state, FileState::closed);
        dorvane::open_mode = 2;
        dorvane::open_for_reading(*writer, 1);
        EXPECT_EQ(take_io_error(), 5) << name;
        dorvane::open_mode = 0;
    }
    EXPECT_EQ(read_whole_file(path("f")), bytes_of("kept"));
    EXPECT_EQ(read_to_end(*reader), bytes_of("kept"));

    // A second reader shares the file.
    auto second = file_named(path("f"));
    dorvane::open_for_reading(*second, 1);
    EXPECT_EQ(take_io_error(), 0);
    dorvane::close_file(*second);
    dorvane::close_file(*reader);

    auto writer = file_named(path("f"));
    dorvane::create_for_writing(*writer, 1);
    EXPECT_EQ(take_io_error(), 0);
    EXPECT_TRUE(read_whole_file(path("f")).empty());
}

TEST_F(ByteFileNames, FoldersAreRefusedWith5) {
    ASSERT_EQ(::mkdir(path("folder").c_str(), 0755), 0);
    for (const int mode : {0, 1, 2, -1}) {
        auto file = file_named(path("folder"));
        if (mode < 0) {
            dorvane::create_for_writing(*file, 1);
        } else {
            dorvane::open_mode = static_cast<std::uint8_t>(mode);
            dorvane::open_for_reading(*file, 1);
        }
        EXPECT_EQ(take_io_error(), 5) << mode;
        EXPECT_EQ(file->state, FileState::closed) << mode;
    }
}

TEST_F(ByteFileNames, ANameOf255BytesWorks) {
    const std::string name =
        folder_.path() + "/" + std::string(255 - folder_.path().size() - 1, 'n');
    ASSERT_EQ(name.size(), 255u);
    auto file = file_named(name);
    EXPECT_FALSE(file->name.overlong);
    dorvane::create_for_writing(*file, 1);
    write_bytes(*file, bytes_of("ok"));
    dorvane::close_file(*file);
    ASSERT_EQ(take_io_error(), 0);
    EXPECT_EQ(read_whole_file(name), bytes_of("ok"));
    dorvane::open_for_reading(*file, 1);
    EXPECT_EQ(read_to_end(*file), bytes_of("ok"));
}

TEST_F(ByteFileNames, AnOverlongNameIsRefusedWith3) {
    const std::string cut_name =
        folder_.path() + "/" + std::string(255 - folder_.path().size() - 1, 'n');
    const std::string long_name = cut_name + "x";
    const ShortText text = ShortText::from(long_name);
    ASSERT_TRUE(text.overlong);
    auto file = unbound_file();
    dorvane::assign_name(*file, text);

    dorvane::create_for_writing(*file, 1);
    EXPECT_EQ(take_io_error(), 3);
    EXPECT_EQ(file->state, FileState::closed);
    EXPECT_FALSE(path_exists(cut_name));
    EXPECT_FALSE(path_exists(long_name));

    // The file that the cut name would name is neither emptied nor opened.
    write_whole_file(cut_name, "keep");
    dorvane::create_for_writing(*file, 1);
    EXPECT_EQ(take_io_error(), 3);
    dorvane::open_for_reading(*file, 1);
    EXPECT_EQ(take_io_error(), 3);
    EXPECT_EQ(file->state, FileState::closed);
    EXPECT_EQ(read_whole_file(cut_name), bytes_of("keep"));
}

TEST_F(ByteFileNames, BackslashIsAnOrdinaryByteInNames) {
    ASSERT_EQ(::mkdir(path("a").c_str(), 0755), 0);
    auto file = file_named(path("a\\b"));
    dorvane::create_for_writing(*file, 1);
    dorvane::write_byte(*file, '1');
    dorvane::close_file(*file);
    ASSERT_EQ(take_io_error(), 0);
    EXPECT_EQ(read_whole_file(path("a\\b")), bytes_of("1"));
    EXPECT_FALSE(path_exists(path("a/b")));
}

// The empty name and the standard handles.

TEST_F(ByteFileNames, TheEmptyNameReadsStandardInput) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "xyz", 3), 3);
    ::close(ends[1]);
    Redirection redirection(STDIN_FILENO, ends[0]);
    ::close(ends[0]);

    dorvane::open_mode = 0;
    auto file = file_named("");
    dorvane::open_for_reading(*file, 1);
    ASSERT_EQ(take_io_error(), 0);
    EXPECT_EQ(file->state, FileState::input);
    EXPECT_EQ(file->handle, dorvane::standard_input_handle());
    EXPECT_EQ(read_to_end(*file), bytes_of("xyz")); // a pipe answers no size query
    dorvane::close_file(*file);
    EXPECT_EQ(take_io_error(), 0);
    EXPECT_EQ(file->state, FileState::closed);
    EXPECT_TRUE(dorvane::test::descriptor_is_open(STDIN_FILENO));
}

TEST_F(ByteFileNames, TheEmptyNameWritesStandardOutput) {
    for (const int mode : {-1, 1, 2}) {
        const int output = ::open(path("out").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(output, 0);
        FileState state = FileState::unbound;
        dorvane::Handle handle = dorvane::no_handle;
        std::uint16_t number = 0;
        bool still_open = false;
        {
            Redirection redirection(STDOUT_FILENO, output);
            auto file = file_named("");
            if (mode < 0) {
                dorvane::create_for_writing(*file, 1);
            } else {
                dorvane::open_mode = static_cast<std::uint8_t>(mode);
                dorvane::open_for_reading(*file, 1);
            }
            state = file->state;
            handle = file->handle;
            write_bytes(*file, bytes_of("out"));
            dorvane::close_file(*file);
            number = take_io_error();
            still_open = ::write(STDOUT_FILENO, "!", 1) == 1;
        }
        ::close(output);
        EXPECT_EQ(number, 0) << mode;
        EXPECT_EQ(state, mode == 1 ? FileState::output : FileState::in_out) << mode;
        EXPECT_EQ(handle, dorvane::standard_output_handle()) << mode;
        EXPECT_TRUE(still_open) << mode;
        EXPECT_EQ(read_whole_file(path("out")), bytes_of("out!")) << mode;
    }
}

TEST_F(ByteFileNames, AFailedReadEndsAs100) {
    // open_mode 2 takes standard output for the empty name; made write-only, it fails
    // every read.
    const int output = ::open(path("out").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(output, 0);
    std::uint16_t at_end_number = 0;
    std::uint16_t read_number = 0;
    bool at_end = true;
    {
        Redirection redirection(STDOUT_FILENO, output);
        auto file = file_named("");
        dorvane::open_for_reading(*file, 1);
        at_end = dorvane::at_end(*file);
        at_end_number = take_io_error();
        std::uint8_t byte = 0;
        dorvane::read_byte(*file, byte);
        read_number = take_io_error();
        dorvane::close_file(*file);
    }
    ::close(output);
    EXPECT_FALSE(at_end);
    EXPECT_EQ(at_end_number, 6); // the platform's number for a bad handle
    EXPECT_EQ(read_number, 100);
}

} // namespace
