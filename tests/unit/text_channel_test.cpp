// tests/unit/text_channel_test.cpp - text channels: the grouping of bytes into writes,
// field widths, numbers, failed write-outs, the pending-error rule and the modes.
// Test code for the run-time layer.
#include "runtime/handle_io.h"
#include "runtime/io_error.h"
#include "runtime/text_channel.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using dorvane::FileState;
using dorvane::TextChannel;
using dorvane::test::PacketPair;
using dorvane::test::Redirection;
using Records = std::vector<std::string>;

std::string joined(const Records& records) {
    std::string all;
    for (const std::string& record : records)
        all += record;
    return all;
}

TEST(OpenChannel, FlushesAtLineEndOnlyOnAStandardHandle) {
    PacketPair sockets;
    TextChannel channel{};
    for (const dorvane::Handle handle :
         {dorvane::standard_input_handle(), dorvane::standard_output_handle(),
          dorvane::standard_error_handle()}) {
        dorvane::open_channel(channel, handle);
        EXPECT_TRUE(channel.flushes_at_line_end) << handle;
    }
    channel.held = 17;
    dorvane::open_channel(channel, sockets.writer);
    EXPECT_FALSE(channel.flushes_at_line_end);
    EXPECT_EQ(channel.handle, sockets.writer);
    EXPECT_EQ(channel.mode, FileState::output);
    EXPECT_EQ(channel.buffer_size, 256);
    EXPECT_EQ(channel.held, 0);
    EXPECT_EQ(std::string(channel.line_end, channel.line_end_length), "\r\n");
}

class PacketChannel : public dorvane::test::PacketChannelFixture {};

TEST_F(PacketChannel, AShortLineIsOneWriteAtItsEnd) {
    dorvane::write_text(0, channel_, "Do");
    dorvane::write_text(0, channel_, "ne.");
    EXPECT_TRUE(sockets_.records().empty());
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), Records{"Done.\r\n"});
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), Records{"\r\n"});
    EXPECT_EQ(dorvane::pending_io_error, 0);
}

TEST_F(PacketChannel, LongLinesGoOutInFullBuffers) {
    const std::string text_254(254, 'a');
    dorvane::write_text(0, channel_, text_254);
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), Records{text_254 + "\r\n"});

    const std::string text_255(255, 'b');
    dorvane::write_text(0, channel_, text_255);
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), (Records{text_255 + "\r", "\n"}));

    // A text is cut to 255 bytes.
    const std::string text_300 = std::string(255, 'c') + std::string(45, 'd');
    dorvane::write_text(0, channel_, text_300);
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), (Records{std::string(255, 'c') + "\r", "\n"}));

    // Bytes that fill the buffer exactly stay in it until more need the room.
    dorvane::write_text(0, channel_, std::string(255, 'e'));
    dorvane::write_text(0, channel_, "f");
    EXPECT_TRUE(sockets_.records().empty());
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), (Records{std::string(255, 'e') + "f", "\r\n"}));

    // A line made of several texts fills the buffer across them.
    for (int i = 0; i < 6; ++i)
        dorvane::write_text(0, channel_, std::string(100, static_cast<char>('0' + i)));
    dorvane::end_line(channel_);
    const Records records = sockets_.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].size(), 256u);
    EXPECT_EQ(records[1].size(), 256u);
    EXPECT_EQ(records[2].size(), 600u - 512u + 2u);
    std::string expected;
    for (int i = 0; i < 6; ++i)
        expected += std::string(100, static_cast<char>('0' + i));
    EXPECT_EQ(joined(records), expected + "\r\n");
    EXPECT_EQ(dorvane::pending_io_error, 0);
}

TEST_F(PacketChannel, WidthPadsWithBlanksInFront) {
    struct WidthCase {
        std::int32_t width;
        std::string text;
        std::string line;
    };
    const WidthCase cases[] = {
        {8, "hello", "   hello"},
        {6, "hello", " hello"},
        {5, "hello", "hello"},
        {3, "hello", "hello"},
        {0, "hello", "hello"},
        {-1, "hello", "hello"},
        {INT32_MIN, "hello", "hello"},
        {4, "", "    "},
        {40, "x", std::string(39, ' ') + "x"},
    };
    for (const WidthCase& width : cases) {
        dorvane::write_text(width.width, channel_, width.text);
        dorvane::end_line(channel_);
        EXPECT_EQ(sockets_.records(), Records{width.line + "\r\n"}) << width.width;
    }
    // Padding wider than the buffer goes out as the buffer fills, like any text.
    dorvane::write_text(300, channel_, "ab");
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(),
              (Records{std::string(256, ' '), std::string(42, ' ') + "ab\r\n"}));
}

TEST_F(PacketChannel, NumbersInDecimal) {
    const std::pair<std::uint32_t, std::string> cases[] = {
        {0, "0"}, {7, "7"}, {10, "10"}, {1000000, "1000000"}, {4294967295u, "4294967295"}};
    for (const auto& [value, digits] : cases) {
        dorvane::write_number(0, channel_, value);
        dorvane::end_line(channel_);
        EXPECT_EQ(sockets_.records(), Records{digits + "\r\n"}) << value;
    }
    dorvane::write_number(5, channel_, 42);
    dorvane::write_number(-3, channel_, 0);
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), Records{"   420\r\n"});
}

TEST_F(PacketChannel, WithoutFlushAtLineEndOnlyFlushWritesOut) {
    channel_.flushes_at_line_end = false;
    dorvane::write_text(0, channel_, "ab");
    dorvane::end_line(channel_);
    dorvane::write_text(0, channel_, "cd");
    EXPECT_TRUE(sockets_.records().empty());
    dorvane::flush_channel(channel_);
    EXPECT_EQ(sockets_.records(), Records{"ab\r\ncd"});
    dorvane::flush_channel(channel_); // nothing held: no write at all
    EXPECT_TRUE(sockets_.records().empty());
    EXPECT_EQ(dorvane::pending_io_error, 0);
}

TEST_F(PacketChannel, NothingHappensWhileAnErrorIsPending) {
    dorvane::write_text(0, channel_, "abc");
    dorvane::store_io_error(7);
    dorvane::write_text(0, channel_, "lost");
    dorvane::write_text(9, channel_, "");
    dorvane::write_number(0, channel_, 99);
    dorvane::end_line(channel_);
    dorvane::flush_channel(channel_);
    EXPECT_TRUE(sockets_.records().empty());
    EXPECT_EQ(channel_.held, 3);
    EXPECT_EQ(dorvane::take_io_error(), 7);
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), Records{"abc\r\n"});
}

TEST_F(PacketChannel, OnlyOutputModeWrites) {
    const std::pair<FileState, std::uint16_t> modes[] = {
        {FileState::input, 105},
        {FileState::unbound, 103},
        {FileState::closed, 103},
        {FileState::in_out, 103},
    };
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"write_text", [&] { dorvane::write_text(0, channel_, "x"); }},
        {"write_number", [&] { dorvane::write_number(0, channel_, 1); }},
        {"end_line", [&] { dorvane::end_line(channel_); }},
        {"flush_channel", [&] { dorvane::flush_channel(channel_); }},
    };
    dorvane::write_text(0, channel_, "held");
    for (const auto& [mode, number] : modes) {
        for (const auto& [name, operation] : operations) {
            channel_.mode = mode;
            operation();
            EXPECT_EQ(dorvane::take_io_error(), number)
                << name << " in mode " << static_cast<int>(mode);
            EXPECT_EQ(channel_.held, 4) << name << " in mode " << static_cast<int>(mode);
        }
    }
    EXPECT_TRUE(sockets_.records().empty());
    channel_.mode = FileState::output;
    dorvane::end_line(channel_);
    EXPECT_EQ(sockets_.records(), Records{"held\r\n"});
}

TEST(StandardChannel, EachLineIsOneWriteOnTheStandardOutputHandle) {
    PacketPair sockets;
    TextChannel channel{};
    Records records;
    {
        Redirection redirection(STDOUT_FILENO, sockets.writer);
        dorvane::open_channel(channel, dorvane::standard_output_handle());
        dorvane::write_text(0, channel, "Usage:");
        dorvane::end_line(channel);
        dorvane::write_text(0, channel, "Done.");
        dorvane::end_line(channel);
        dorvane::write_text(0, channel, "rest");
        dorvane::flush_channel(channel);
    }
    EXPECT_EQ(sockets.records(), (Records{"Usage:\r\n", "Done.\r\n", "rest"}));
    EXPECT_EQ(dorvane::take_io_error(), 0);
}

/// Makes `descriptor` standard output, writes a line that fails to go out, then a line
/// on a packet socket: the failure sets 101 and the failed line is never offered again.
void expect_lost_line(int descriptor) {
    PacketPair sockets;
    TextChannel channel{};
    std::uint16_t number = 0;
    std::int32_t held = -1;
    {
        Redirection redirection(STDOUT_FILENO, descriptor);
        dorvane::pending_io_error = 0;
        dorvane::open_channel(channel, dorvane::standard_output_handle());
        dorvane::write_text(0, channel, "the lost line");
        dorvane::end_line(channel);
        number = dorvane::take_io_error();
        held = channel.held;
    }
    EXPECT_EQ(number, 101);
    EXPECT_EQ(held, 0);
    channel.handle = sockets.writer;
    dorvane::write_text(0, channel, "next");
    dorvane::end_line(channel);
    EXPECT_EQ(sockets.records(), Records{"next\r\n"});
    EXPECT_EQ(dorvane::take_io_error(), 0);
}

TEST(StandardChannel, AFullDiskLosesTheLineWith101) {
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    expect_lost_line(full);
    ::close(full);
}

TEST(StandardChannel, APipeWithoutReaderLosesTheLineWith101) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    expect_lost_line(ends[1]); // EPIPE would map to 232: a write-out failure is 101
    ::close(ends[1]);
}

} // namespace
