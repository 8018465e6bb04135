// tests/unit/report_test.cpp - the run-time error report: location lines, the walk
// over fabricated call frames with its stop rules, and the report's lines and writes.
// Test code for the run-time layer.
#include "runtime/io_error.h"
#include "runtime/os.h"
#include "runtime/report.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using dorvane::StackBounds;

std::string as_string(const std::array<char, 11>& line) {
    return {line.data(), line.size()};
}

TEST(LocationLine, EightUpperCaseDigitsWithLeadingZeros) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x0, "  $00000000"},        {0x2, "  $00000002"},        {0xABCD, "  $0000ABCD"},
        {0xDEADBEEF, "  $DEADBEEF"}, {0x12345678, "  $12345678"}, {0xFFFFFFFF, "  $FFFFFFFF"},
        {0x0A0B0C0D, "  $0A0B0C0D"},
    };
    for (const auto& [location, line] : cases)
        EXPECT_EQ(as_string(dorvane::location_line(location)), line) << location;
}

const void* fake_location(std::uintptr_t value) {
    return reinterpret_cast<const void*>(value);
}

void collect(const void* return_location, void* context) {
    static_cast<std::vector<const void*>*>(context)->push_back(return_location);
}

/// A page of frame slots with an unreadable page on each side, so that a walk that
/// reads a frame outside the bounds ends the test with a fault instead of passing.
class FrameWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        void* mapping = ::mmap(nullptr, 3 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(mapping, MAP_FAILED);
        mapping_ = static_cast<char*>(mapping);
        ASSERT_EQ(::mprotect(mapping_ + page_, page_, PROT_READ | PROT_WRITE), 0);
        slots_ = reinterpret_cast<const void**>(mapping_ + page_);
        slot_count_ = page_ / sizeof(void*);
    }
    void TearDown() override { ::munmap(mapping_, 3 * page_); }

    /// The frame at slot `index`: its link slot, then its return location slot.
    const void* frame(std::size_t index) const { return &slots_[index]; }
    void set_frame(std::size_t index, const void* link, std::uintptr_t return_location) {
        slots_[index] = link;
        slots_[index + 1] = fake_location(return_location);
    }
    StackBounds bounds() const { return {mapping_ + page_, mapping_ + 2 * page_}; }
    const char* below_bounds() const { return mapping_ + page_ - 2 * sizeof(void*); }

    std::vector<const void*> walk(const void* first, std::uint16_t line_limit = 8,
                                  std::size_t* visits = nullptr) {
        std::vector<const void*> visited;
        const std::size_t count =
            dorvane::walk_frames(first, nullptr, bounds(), line_limit, collect, &visited);
        if (visits != nullptr)
            *visits = count;
        return visited;
    }

    std::size_t page_ = 0;
    char* mapping_ = nullptr;
    const void** slots_ = nullptr;
    std::size_t slot_count_ = 0;
};

TEST_F(FrameWalk, VisitsInnermostFirstAndStopsAtAZeroLink) {
    set_frame(0, frame(6), 0x100);
    set_frame(6, frame(10), 0x200);
    set_frame(10, nullptr, 0x300);
    std::size_t visits = 0;
    EXPECT_EQ(walk(frame(0), 8, &visits),
              (std::vector{fake_location(0x100), fake_location(0x200), fake_location(0x300)}));
    EXPECT_EQ(visits, 3u);
}

TEST_F(FrameWalk, StopsAtAZeroReturnLocation) {
    set_frame(0, frame(4), 0x100);
    set_frame(4, frame(8), 0);
    set_frame(8, nullptr, 0x300);
    EXPECT_EQ(walk(frame(0)), std::vector{fake_location(0x100)});
}

TEST_F(FrameWalk, StopsAtAFrameNotAboveThePreviousOne) {
    set_frame(4, frame(8), 0x100);
    set_frame(8, frame(2), 0x200); // back down the stack
    set_frame(2, nullptr, 0x300);
    EXPECT_EQ(walk(frame(4)), (std::vector{fake_location(0x100), fake_location(0x200)}));

    set_frame(8, frame(8), 0x200); // a frame that links to itself
    EXPECT_EQ(walk(frame(4)), (std::vector{fake_location(0x100), fake_location(0x200)}));
}

TEST_F(FrameWalk, StartsOnlyAboveTheWalkersOwnFrame) {
    set_frame(4, nullptr, 0x100);
    std::vector<const void*> visited;
    EXPECT_EQ(dorvane::walk_frames(frame(4), frame(4), bounds(), 8, collect, &visited), 0u);
    EXPECT_EQ(dorvane::walk_frames(frame(4), frame(6), bounds(), 8, collect, &visited), 0u);
    EXPECT_EQ(dorvane::walk_frames(frame(4), frame(2), bounds(), 8, collect, &visited), 1u);
    EXPECT_EQ(dorvane::walk_frames(nullptr, nullptr, bounds(), 8, collect, &visited), 0u);
}

TEST_F(FrameWalk, NeverReadsAFrameOutsideTheBounds) {
    // Below the floor: the frame lies in the unreadable page under the bounds.
    std::size_t visits = 99;
    EXPECT_TRUE(walk(below_bounds(), 8, &visits).empty());
    EXPECT_EQ(visits, 0u);

    // Straddling the top: its return location slot would be in the page above.
    set_frame(0, frame(slot_count_ - 1), 0x100);
    EXPECT_EQ(walk(frame(0)), std::vector{fake_location(0x100)});

    // At the top and beyond it.
    set_frame(0, mapping_ + 2 * page_, 0x100);
    EXPECT_EQ(walk(frame(0)), std::vector{fake_location(0x100)});
    set_frame(0, mapping_ + 2 * page_ + 64, 0x100);
    EXPECT_EQ(walk(frame(0)), std::vector{fake_location(0x100)});
}

TEST_F(FrameWalk, ALongChainGivesOneVisitMoreThanTheLineLimit) {
    for (std::size_t index = 0; index < 20; ++index)
        set_frame(index * 4, frame(index * 4 + 4), 0x1000 + index);
    std::size_t visits = 0;
    const std::vector<const void*> visited = walk(frame(0), 8, &visits);
    ASSERT_EQ(visits, 9u);
    ASSERT_EQ(visited.size(), 9u);
    for (std::size_t index = 0; index < 9; ++index)
        EXPECT_EQ(visited[index], fake_location(0x1000 + index));

    EXPECT_EQ(walk(frame(0), 0).size(), 1u);
    EXPECT_EQ(walk(frame(0), 3).size(), 4u);
}

/// The report on a packet socket channel, with frame lines as the report prints them.
class ReportChannel : public dorvane::test::PacketChannelFixture {
  protected:
    static std::string frame_line(std::uintptr_t return_location) {
        return as_string(dorvane::location_line(
                   dorvane::os::image_offset(fake_location(return_location)))) +
               "\r\n";
    }
};

TEST_F(ReportChannel, WithoutFramesEachLineIsOneWrite) {
    dorvane::write_report(channel_, 2, 0xABCD, nullptr, StackBounds{nullptr, nullptr}, 8);
    EXPECT_EQ(sockets_.records(), (std::vector<std::string>{"Runtime error 2 at $0000ABCD\r\n",
                                                            "  $0000ABCD\r\n", "\r\n"}));
    dorvane::write_report(channel_, 65535, 0xFEDCBA98, nullptr, StackBounds{nullptr, nullptr}, 8);
    EXPECT_EQ(sockets_.records(), (std::vector<std::string>{"Runtime error 65535 at $FEDCBA98\r\n",
                                                            "  $FEDCBA98\r\n", "\r\n"}));
    EXPECT_EQ(dorvane::pending_io_error, 0);
}

TEST_F(ReportChannel, OneLinePerCallingFrame) {
    // The frames lie in this test's own stack frame, above the report's own frame, as
    // the frames of the callers of a failing routine do.
    const void* slots[64] = {};
    slots[0] = &slots[4];
    slots[1] = fake_location(0x401000);
    slots[4] = &slots[8];
    slots[5] = fake_location(0x401234);
    slots[8] = nullptr;
    slots[9] = fake_location(0x40ABCD);
    dorvane::write_report(channel_, 101, 0x1F, &slots[0], StackBounds{&slots[0], &slots[64]}, 8);
    EXPECT_EQ(sockets_.records(),
              (std::vector<std::string>{"Runtime error 101 at $0000001F\r\n", "  $0000001F\r\n",
                                        frame_line(0x401000), frame_line(0x401234),
                                        frame_line(0x40ABCD), "\r\n"}));
}

TEST_F(ReportChannel, AtMostNineFrameLines) {
    const void* slots[64] = {};
    for (std::size_t index = 0; index < 15; ++index) {
        slots[index * 4] = &slots[index * 4 + 4];
        slots[index * 4 + 1] = fake_location(0x500000 + index * 0x10);
    }
    dorvane::write_report(channel_, 216, 0x77, &slots[0], StackBounds{&slots[0], &slots[64]}, 8);
    const std::vector<std::string> records = sockets_.records();
    ASSERT_EQ(records.size(), 2u + 9u + 1u);
    for (std::size_t index = 0; index < 9; ++index)
        EXPECT_EQ(records[2 + index], frame_line(0x500000 + index * 0x10)) << index;
    EXPECT_EQ(records.back(), "\r\n");
}

} // namespace
