// tests/cli/write_failure_test.cpp - writes that fail: the output on /dev/full, on a full
// file system and past a file size limit, and the messages on a full or broken stream.
// Command-line test layer.
#include "tests/cli/cli_fixture.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace dorvane::cli_test {
namespace {

using WriteFailureTest = ScratchTest;

class FullDeviceTest : public ScratchTest, public testing::WithParamInterface<std::size_t> {};

// A short output fails when the file is closed, a long one in the loop: both are a
// failed check in the driver.
TEST_P(FullDeviceTest, OutputOnFullDeviceEndsWithTheReport) {
    write_file("in.bin", random_bytes(GetParam(), 1));

    const Outcome outcome = run_dorvane({"in.bin", "/dev/full"});

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 101);
    EXPECT_TRUE(outcome.output_records.empty());
    EXPECT_TRUE(is_driver_report(outcome.error_records, 101));
}

INSTANTIATE_TEST_SUITE_P(InputSizes, FullDeviceTest,
                         testing::Values(1, block_size / 2, block_size / 2 + 1, block_size));

TEST_F(WriteFailureTest, EmptyInputOnFullDeviceWritesNothingAndSucceeds) {
    write_file("in.bin", "");

    const Outcome outcome = run_dorvane({"in.bin", "/dev/full"});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
}

TEST_F(WriteFailureTest, ReportOnFullStandardErrorIsDroppedButTheStatusStays) {
    write_file("in.bin", "\x12");
    Command run_command = command({"in.bin", "/dev/full"});
    run_command.error = OutputSink::file("/dev/full");

    const Outcome outcome = run(run_command);

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 101);
    EXPECT_TRUE(outcome.output_records.empty());
}

/// A small tmpfs mounted inside the scratch folder, in a mount namespace of this test
/// process where one can be made, so that nothing stays mounted if the test dies.
class FullDiskTest : public ScratchTest, public testing::WithParamInterface<std::size_t> {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "mounting a tmpfs needs root";
        if (unshare(CLONE_NEWNS) == 0)
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        disk_ = path("disk");
        ASSERT_EQ(mkdir(disk_.c_str(), 0755), 0);
        if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
        mounted_ = true;
    }

    void TearDown() override {
        if (mounted_)
            umount2(disk_.c_str(), MNT_DETACH);
        ScratchTest::TearDown();
    }

    std::string disk_;
    bool mounted_ = false;
};

TEST_P(FullDiskTest, OutputHoldsExactlyWhatFits) {
    const std::string input = random_bytes(GetParam(), 2);
    write_file("in.bin", input);

    const Outcome outcome = run_dorvane({"in.bin", "disk/out.bin"});

    EXPECT_EQ(outcome.exit_status, 101);
    EXPECT_TRUE(outcome.output_records.empty());
    EXPECT_TRUE(is_driver_report(outcome.error_records, 101));
    const std::string output = read_file("disk/out.bin");
    EXPECT_GT(output.size(), 0U);
    EXPECT_LT(output.size(), 2 * input.size());
    EXPECT_TRUE(output == expanded(input).substr(0, output.size()));
    // Not a byte of room left: nothing that the disk could still take was dropped.
    struct statvfs disk {};
    ASSERT_EQ(statvfs(disk_.c_str(), &disk), 0);
    EXPECT_EQ(disk.f_bavail, 0U);
}

// 40000 bytes expand into less than one block, which fails when the file is closed;
// 100000 fail at the first block write inside the loop.
INSTANTIATE_TEST_SUITE_P(InputSizes, FullDiskTest, testing::Values(40000, 100000));

struct SizeLimitCase {
    std::size_t input_size;
    rlim_t limit;
};

class SizeLimitTest : public ScratchTest, public testing::WithParamInterface<SizeLimitCase> {};

TEST_P(SizeLimitTest, OutputIsThePrefixUpToTheLimit) {
    const SizeLimitCase& test_case = GetParam();
    const std::string input = random_bytes(test_case.input_size, test_case.limit);
    write_file("in.bin", input);
    Command run_command = command({"in.bin", "out.bin"});
    run_command.limits = {{RLIMIT_FSIZE, test_case.limit}};
    run_command.ignored_signals = {SIGXFSZ};

    const Outcome outcome = run(run_command);

    const std::string output = read_file("out.bin");
    const std::string expected = expanded(input);
    if (test_case.limit >= expected.size()) {
        EXPECT_EQ(outcome.exit_status, 0);
        EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
        EXPECT_TRUE(outcome.error_records.empty());
        EXPECT_TRUE(output == expected);
        return;
    }
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 101);
    EXPECT_TRUE(outcome.output_records.empty());
    EXPECT_TRUE(is_driver_report(outcome.error_records, 101));
    ASSERT_EQ(output.size(), test_case.limit);
    EXPECT_TRUE(output == expected.substr(0, output.size()));
}

std::vector<SizeLimitCase> size_limit_cases() {
    constexpr std::size_t input_size = 300000;
    std::vector<SizeLimitCase> cases = {{input_size, 0},
                                        {input_size, 1},
                                        {input_size, block_size - 1},
                                        {input_size, block_size},
                                        {input_size, block_size + 1},
                                        {input_size, 2 * input_size - 1},
                                        {input_size, 2 * input_size}};
    std::mt19937_64 generator(20240611);
    std::uniform_int_distribution<rlim_t> limits(1, 2 * input_size - 1);
    for (int i = 0; i < 4; ++i)
        cases.push_back({input_size, limits(generator)});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Limits, SizeLimitTest, testing::ValuesIn(size_limit_cases()),
                         [](const testing::TestParamInfo<SizeLimitCase>& param_info) {
                             return "limit_" + std::to_string(param_info.param.limit);
                         });

std::string find_program(const std::string& name) {
    const char* search = std::getenv("PATH");
    std::stringstream folders(search != nullptr ? search : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

/// The function names that addr2line gives for the code locations, in order.
std::vector<std::string> function_names(const std::string& addr2line,
                                        const std::vector<std::string>& locations) {
    Command lookup;
    lookup.program = addr2line;
    lookup.arguments = {"-f", "-C", "-e", dorvane_program};
    for (const std::string& location : locations)
        lookup.arguments.push_back("0x" + location);
    lookup.output = OutputSink::pipe();
    const Outcome outcome = run(lookup);
    std::vector<std::string> names;
    std::stringstream lines(outcome.output_text());
    std::string line;
    // addr2line -f gives two lines per location: the function, then file and line.
    for (int index = 0; std::getline(lines, line); ++index) {
        if (index % 2 == 0)
            names.push_back(line);
    }
    return names;
}

TEST_F(WriteFailureTest, ReportLocationsAreStableAndNameTheDriverAndStartUp) {
    write_file("short.bin", "\x12");
    write_file("long.bin", random_bytes(block_size, 5));
    std::vector<Command> failures = {command({"short.bin", "/dev/full"}),
                                     command({"long.bin", "/dev/full"}), command({})};
    failures[2].output = OutputSink::file("/dev/full");

    const std::string addr2line = find_program("addr2line");
    for (const Command& failure : failures) {
        SCOPED_TRACE(testing::PrintToString(failure.arguments));
        const Outcome first = run(failure);
        const Outcome second = run(failure);
        ASSERT_TRUE(is_driver_report(first.error_records, 101));
        // The locations are offsets in the image, whatever address it was loaded at.
        EXPECT_EQ(first.error_records, second.error_records);
        if (addr2line.empty())
            continue;
        const std::vector<std::string> names =
            function_names(addr2line, {report_digits(first.error_records, 0),
                                       report_digits(first.error_records, 2)});
        ASSERT_EQ(names.size(), 2U);
        EXPECT_NE(names[0].find("run_converter"), std::string::npos) << names[0];
        EXPECT_EQ(names[1], "main");
    }
    if (addr2line.empty())
        GTEST_SKIP() << "addr2line is not installed; only the stability was checked";
}

struct MessageFailureCase {
    const char* label;
    std::vector<std::string> arguments;
    OutputSink output;
    int exit_status;
    std::vector<std::string> expected_entries;
};

class MessageFailureTest : public ScratchTest,
                           public testing::WithParamInterface<MessageFailureCase> {};

TEST_P(MessageFailureTest, FailedMessageLine) {
    const MessageFailureCase& test_case = GetParam();
    write_file("in.bin", "\x12\x34");
    Command run_command = command(test_case.arguments);
    run_command.output = test_case.output;

    const Outcome outcome = run(run_command);

    // Ended by its own exit, never by SIGPIPE.
    EXPECT_TRUE(outcome.exited) << "signal " << outcome.signal;
    EXPECT_EQ(outcome.exit_status, test_case.exit_status);
    if (test_case.exit_status == 0) {
        EXPECT_TRUE(outcome.error_records.empty());
    } else {
        EXPECT_TRUE(is_driver_report(outcome.error_records, 101));
    }
    EXPECT_EQ(entries(), test_case.expected_entries);
    if (exists("out.bin")) {
        EXPECT_EQ(read_file("out.bin"), expanded("\x12\x34"));
    }
}

const std::vector<std::string> input_only = {"in.bin"};
const std::vector<std::string> input_and_output = {"in.bin", "out.bin"};

INSTANTIATE_TEST_SUITE_P(
    Messages, MessageFailureTest,
    testing::Values(
        MessageFailureCase{
            "usage_on_full_device", {}, OutputSink::file("/dev/full"), 101, input_only},
        MessageFailureCase{"usage_on_broken_pipe", {}, OutputSink::broken_pipe(), 101, input_only},
        MessageFailureCase{"done_on_full_device", input_and_output, OutputSink::file("/dev/full"),
                           101, input_and_output},
        MessageFailureCase{"done_on_broken_pipe", input_and_output, OutputSink::broken_pipe(), 101,
                           input_and_output},
        // The failed line stays pending, so the output is not even created.
        MessageFailureCase{"input_unavailable_on_full_device",
                           {"missing.bin", "out.bin"},
                           OutputSink::file("/dev/full"),
                           0,
                           input_only},
        MessageFailureCase{"output_unavailable_on_full_device",
                           {"in.bin", "nowhere/out.bin"},
                           OutputSink::file("/dev/full"),
                           0,
                           input_only}),
    [](const testing::TestParamInfo<MessageFailureCase>& param_info) {
        return param_info.param.label;
    });

TEST_F(WriteFailureTest, FailedInputLineLeavesAnExistingOutputAlone) {
    write_file("out.bin", "old contents");
    Command run_command = command({"missing.bin", "out.bin"});
    run_command.output = OutputSink::file("/dev/full");

    const Outcome outcome = run(run_command);

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(read_file("out.bin"), "old contents");
}

} // namespace
} // namespace dorvane::cli_test
