// tests/cli/open_failure_test.cpp - inputs and outputs that cannot be opened: missing
// files and folders, folders, one file named twice, permissions and locks of another process.
// Command-line test layer.
#include "tests/cli/cli_fixture.h"

#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorvane::cli_test {
namespace {

struct OpenFailureCase {
    const char* label;
    std::map<std::string, std::string> files; ///< made before the run
    std::vector<std::string> folders;
    std::vector<std::pair<std::string, std::string>> hard_links; ///< existing, new
    std::vector<std::string> arguments;
    std::vector<std::string> expected_output;
    std::vector<std::string> expected_entries;         ///< the whole scratch folder afterwards
    std::map<std::string, std::string> expected_files; ///< contents afterwards
};

class OpenFailureTest : public ScratchTest, public testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, PrintsItsLinesAndLeavesTheFilesAsExpected) {
    const OpenFailureCase& test_case = GetParam();
    for (const auto& [name, contents] : test_case.files)
        write_file(name, contents);
    for (const std::string& folder : test_case.folders)
        ASSERT_EQ(mkdir(path(folder).c_str(), 0755), 0);
    for (const auto& [existing, added] : test_case.hard_links)
        ASSERT_EQ(link(path(existing).c_str(), path(added).c_str()), 0);

    const Outcome outcome = run_dorvane(test_case.arguments);

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, test_case.expected_output);
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(entries(), test_case.expected_entries);
    for (const auto& [name, contents] : test_case.expected_files)
        EXPECT_EQ(read_file(name), contents) << name;
}

const std::string packed = "\x12\x34";

INSTANTIATE_TEST_SUITE_P(Opens, OpenFailureTest,
                         testing::Values(OpenFailureCase{"missing_input_creates_output",
                                                         {},
                                                         {},
                                                         {},
                                                         {"missing.bin", "out.bin"},
                                                         {input_unavailable_line},
                                                         {"out.bin"},
                                                         {{"out.bin", ""}}},
                                         OpenFailureCase{"missing_input_empties_output",
                                                         {{"out.bin", "old contents"}},
                                                         {},
                                                         {},
                                                         {"missing.bin", "out.bin"},
                                                         {input_unavailable_line},
                                                         {"out.bin"},
                                                         {{"out.bin", ""}}},
                                         OpenFailureCase{"output_in_missing_folder",
                                                         {{"in.bin", packed}},
                                                         {},
                                                         {},
                                                         {"in.bin", "nowhere/out.bin"},
                                                         {output_unavailable_line},
                                                         {"in.bin"},
                                                         {{"in.bin", packed}}},
                                         OpenFailureCase{
                                             "both_fail_in_order",
                                             {},
                                             {},
                                             {},
                                             {"missing.bin", "nowhere/out.bin"},
                                             {input_unavailable_line, output_unavailable_line},
                                             {},
                                             {}},
                                         OpenFailureCase{"input_is_folder",
                                                         {},
                                                         {"folder"},
                                                         {},
                                                         {"folder", "out.bin"},
                                                         {input_unavailable_line},
                                                         {"folder", "out.bin"},
                                                         {{"out.bin", ""}}},
                                         OpenFailureCase{"output_is_folder",
                                                         {{"in.bin", packed}},
                                                         {"folder"},
                                                         {},
                                                         {"in.bin", "folder"},
                                                         {output_unavailable_line},
                                                         {"folder", "in.bin"},
                                                         {{"in.bin", packed}}},
                                         OpenFailureCase{"input_under_a_file",
                                                         {{"in.bin", packed}},
                                                         {},
                                                         {},
                                                         {"in.bin/x", "out.bin"},
                                                         {input_unavailable_line},
                                                         {"in.bin", "out.bin"},
                                                         {{"out.bin", ""}}},
                                         OpenFailureCase{"same_name_twice",
                                                         {{"f", packed}},
                                                         {},
                                                         {},
                                                         {"f", "f"},
                                                         {output_unavailable_line},
                                                         {"f"},
                                                         {{"f", packed}}},
                                         OpenFailureCase{"same_file_spelt_two_ways",
                                                         {{"f", packed}},
                                                         {},
                                                         {},
                                                         {"f", "./f"},
                                                         {output_unavailable_line},
                                                         {"f"},
                                                         {{"f", packed}}},
                                         OpenFailureCase{"two_hard_links",
                                                         {{"f", packed}},
                                                         {},
                                                         {{"f", "g"}},
                                                         {"f", "g"},
                                                         {output_unavailable_line},
                                                         {"f", "g"},
                                                         {{"f", packed}, {"g", packed}}}),
                         [](const testing::TestParamInfo<OpenFailureCase>& param_info) {
                             return param_info.param.label;
                         });

struct LockCase {
    const char* label;
    bool lock_output; ///< else the input
    int operation;
    std::vector<std::string> expected_output;
    std::string expected_out_bin;
};

class LockTest : public ScratchTest, public testing::WithParamInterface<LockCase> {};

TEST_P(LockTest, AnotherProcessLockDecidesTheOpen) {
    const LockCase& test_case = GetParam();
    write_file("in.bin", packed);
    write_file("out.bin", "old contents");
    const LockHolder holder(path(test_case.lock_output ? "out.bin" : "in.bin"),
                            test_case.operation);

    const Outcome outcome = run_dorvane({"in.bin", "out.bin"});

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, test_case.expected_output);
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(read_file("in.bin"), packed);
    EXPECT_EQ(read_file("out.bin"), test_case.expected_out_bin);
}

INSTANTIATE_TEST_SUITE_P(
    Locks, LockTest,
    testing::Values(
        LockCase{"input_held_exclusively", false, LOCK_EX, {input_unavailable_line}, ""},
        // Others may read a file while it is read here: a shared lock is no obstacle.
        LockCase{"input_held_shared", false, LOCK_SH, {done_line}, expanded(packed)},
        LockCase{"output_held_shared", true, LOCK_SH, {output_unavailable_line}, "old contents"},
        LockCase{
            "output_held_exclusively", true, LOCK_EX, {output_unavailable_line}, "old contents"}),
    [](const testing::TestParamInfo<LockCase>& param_info) { return param_info.param.label; });

// Root may open any file for writing, so the permission cases run the program as an
// ordinary user when the tests run as root.
class PermissionTest : public ScratchTest {
  protected:
    Command unprivileged_command(std::vector<std::string> arguments) const {
        Command result = command(std::move(arguments));
        if (geteuid() == 0) {
            result.user = 65534;
            chmod(scratch_.c_str(), 0777);
        }
        return result;
    }
};

TEST_F(PermissionTest, ReadOnlyInputConverts) {
    write_file("in.bin", packed);
    ASSERT_EQ(chmod(path("in.bin").c_str(), 0444), 0);

    const Outcome outcome = run(unprivileged_command({"in.bin", "out.bin"}));

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(read_file("out.bin"), expanded(packed));
}

TEST_F(PermissionTest, UnreadableInputAndUnwritableOutput) {
    write_file("in.bin", packed);
    write_file("out.bin", "old contents");
    ASSERT_EQ(chmod(path("in.bin").c_str(), 0000), 0);
    ASSERT_EQ(chmod(path("out.bin").c_str(), 0444), 0);

    const Outcome outcome = run(unprivileged_command({"in.bin", "out.bin"}));

    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records,
              (std::vector<std::string>{input_unavailable_line, output_unavailable_line}));
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(read_file("out.bin"), "old contents");
}

} // namespace
} // namespace dorvane::cli_test
