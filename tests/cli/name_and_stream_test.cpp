// tests/cli/name_and_stream_test.cpp - file names as bytes (overlong, 255 bytes, high
// bytes, backslashes) and the empty names, which stand for standard input and output.
// Command-line test layer.
#include "tests/cli/cli_fixture.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace dorvane::cli_test {
namespace {

const std::string packed = "\x12\x34\xA3";

using StreamTest = ScratchTest;

class LongNameTest : public ScratchTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(LongNameTest, OverlongInputNameIsRefusedNotCut) {
    // The name cut to 255 bytes names a real file: a cut name would convert it.
    const std::string cut(255, 'a');
    write_file(cut, packed);
    const std::string overlong = cut + std::string(GetParam() - 255, 'b');

    const Outcome outcome = run_dorvane({overlong, "out.bin"});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{input_unavailable_line});
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(entries(), (std::vector<std::string>{cut, "out.bin"}));
    EXPECT_EQ(read_file("out.bin"), "");
    EXPECT_EQ(read_file(cut), packed);
}

TEST_P(LongNameTest, OverlongOutputNameCreatesAndEmptiesNothing) {
    write_file("in.bin", packed);
    const std::string cut(255, 'c');
    write_file(cut, "old contents");
    const std::string overlong = cut + std::string(GetParam() - 255, 'd');

    const Outcome outcome = run_dorvane({"in.bin", overlong});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{output_unavailable_line});
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(entries(), (std::vector<std::string>{cut, "in.bin"}));
    EXPECT_EQ(read_file(cut), "old contents");
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongNameTest, testing::Values(256, 257, 300, 4096));

struct NameCase {
    const char* label;
    std::string input_name;
    std::string output_name;
    std::vector<std::string> folders;
};

std::string byte_range(int first, int last) {
    std::string bytes;
    for (int value = first; value <= last; ++value)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

class NameBytesTest : public ScratchTest, public testing::WithParamInterface<NameCase> {};

TEST_P(NameBytesTest, NamesPassUnchanged) {
    const NameCase& test_case = GetParam();
    for (const std::string& folder : test_case.folders)
        ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
    write_file(test_case.input_name, packed);

    const Outcome outcome = run_dorvane({test_case.input_name, test_case.output_name});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
    std::vector<std::string> expected = test_case.folders;
    expected.push_back(test_case.input_name);
    expected.push_back(test_case.output_name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(), expected);
    EXPECT_EQ(read_file(test_case.output_name), expanded(packed));
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameBytesTest,
    testing::Values(
        NameCase{"exactly_255_bytes", std::string(255, 'i'), std::string(255, 'o'), {}},
        NameCase{"high_bytes", "in" + byte_range(0x80, 0xBF), "out" + byte_range(0xC0, 0xFF), {}},
        // With a folder "a" present, a backslash taken as a separator would
        // write a/b.
        NameCase{"backslash", "in\\put", "a\\b", {"a"}}),
    [](const testing::TestParamInfo<NameCase>& param_info) { return param_info.param.label; });

TEST_F(StreamTest, EmptyOutputNameWritesTheExpansionToStandardOutput) {
    const std::string input = random_bytes(block_size + 12345, 42);
    write_file("in.bin", input);

    const Outcome outcome = run_dorvane({"in.bin", ""});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(outcome.error_records.empty());
    ASSERT_FALSE(outcome.output_records.empty());
    EXPECT_EQ(outcome.output_records.back(), done_line);
    std::string written;
    for (std::size_t i = 0; i + 1 < outcome.output_records.size(); ++i)
        written += outcome.output_records[i];
    EXPECT_TRUE(written == expanded(input)) << written.size() << " bytes before Done.";
    EXPECT_EQ(entries(), std::vector<std::string>{"in.bin"});
}

struct StandardInputCase {
    const char* label;
    bool through_pipe; ///< else a redirected file
    std::size_t size;
};

class StandardInputTest : public ScratchTest,
                          public testing::WithParamInterface<StandardInputCase> {};

TEST_P(StandardInputTest, EmptyInputNameReadsStandardInput) {
    const StandardInputCase& test_case = GetParam();
    const std::string input = random_bytes(test_case.size, test_case.size);
    Command run_command = command({"", "out.bin"});
    if (test_case.through_pipe) {
        run_command.input = InputSource::pipe_with(input);
    } else {
        write_file("in.bin", input);
        run_command.input = InputSource::file(path("in.bin"));
    }

    const Outcome outcome = run(run_command);

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_TRUE(read_file("out.bin") == expanded(input));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, StandardInputTest,
    testing::Values(StandardInputCase{"file", false, 1000},
                    StandardInputCase{"file_over_blocks", false, 2 * block_size + 3},
                    StandardInputCase{"empty_pipe", true, 0}, StandardInputCase{"pipe", true, 1000},
                    StandardInputCase{"pipe_over_blocks", true, 3 * block_size + 1}),
    [](const testing::TestParamInfo<StandardInputCase>& param_info) {
        return param_info.param.label;
    });

TEST_F(StreamTest, NullDeviceAsStandardInputIsAnEmptyInput) {
    const Outcome outcome = run_dorvane({"", "out.bin"});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_EQ(read_file("out.bin"), "");
}

TEST_F(StreamTest, BothNamesEmptyMakeAFilter) {
    const std::string input = random_bytes(2 * block_size + 1, 7);
    Command run_command = command({"", ""});
    run_command.input = InputSource::pipe_with(input);

    const Outcome outcome = run(run_command);

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(outcome.error_records.empty());
    const std::string text = outcome.output_text();
    ASSERT_GE(text.size(), done_line.size());
    EXPECT_TRUE(text == expanded(input) + done_line);
    EXPECT_TRUE(entries().empty());
}

TEST_F(StreamTest, OutputToNullDevice) {
    write_file("in.bin", random_bytes(block_size + 1, 3));

    const Outcome outcome = run_dorvane({"in.bin", "/dev/null"});

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
    struct stat status {};
    ASSERT_EQ(stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// A standard stream that the program was started without must behave as an unusable
// handle, never as one of the files that the converter opens itself.
TEST_F(StreamTest, ClosedStandardInputIsNotTheOutputFile) {
    Command run_command = command({"", "out.bin"});
    run_command.input = InputSource::closed();

    const Outcome outcome = run(run_command);

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 6) << testing::PrintToString(outcome.output_records);
    EXPECT_TRUE(outcome.output_records.empty());
    EXPECT_TRUE(is_driver_report(outcome.error_records, 6));
}

TEST_F(StreamTest, ClosedStandardOutputDoesNotReceiveTheFiles) {
    write_file("in.bin", packed);
    Command run_command = command({"in.bin", "out.bin"});
    run_command.input = InputSource::closed();
    run_command.output = OutputSink::closed();

    const Outcome outcome = run(run_command);

    // "Done." has nowhere to go: run-time error 101, and the output file holds the
    // expansion and nothing else.
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 101);
    EXPECT_TRUE(is_driver_report(outcome.error_records, 101));
    EXPECT_EQ(read_file("out.bin"), expanded(packed));
}

// A file that standard output appends to is in use by a writer: reading it as the input
// would read back what the expansion appends, without end.
TEST_F(StreamTest, InputThatStandardOutputAppendsToIsUnavailable) {
    const std::string contents = random_bytes(3 * block_size, 11);
    write_file("in.bin", contents);
    Command run_command = command({"in.bin", ""});
    run_command.output = OutputSink::appended_file(path("in.bin"));
    // Should the input ever be read back, the file stops growing here and the run ends.
    run_command.limits = {{RLIMIT_FSIZE, 16 * contents.size()}};
    run_command.ignored_signals = {SIGXFSZ};

    const Outcome outcome = run(run_command);

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(read_file("in.bin"), contents + "Input file unavailable.\r\n");
}

} // namespace
} // namespace dorvane::cli_test
