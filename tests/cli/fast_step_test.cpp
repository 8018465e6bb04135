// tests/cli/fast_step_test.cpp - the converter's fast step against the per-byte build: the
// same bytes, the same writes, the same failure, the same report form.
// Command-line test layer.
#include "tests/cli/cli_fixture.h"

#include <csignal>
#include <optional>
#include <random>
#include <sys/stat.h>

namespace dorvane::cli_test {
namespace {

constexpr std::uint64_t seed = 0x0d0f'a57e;

struct DifferentialCase {
    std::size_t input_size;
    bool input_through_pipe;
    bool output_to_standard_output; ///< records show the grouping of the writes
    std::optional<rlim_t> size_limit;
    std::uint64_t input_seed;
};

std::string describe(const DifferentialCase& test_case) {
    return "seed " + std::to_string(seed) + ", input " + std::to_string(test_case.input_size) +
           (test_case.input_through_pipe ? " bytes through a pipe" : " bytes from a file") +
           (test_case.output_to_standard_output ? ", output on standard output"
                                                : ", output to a file") +
           (test_case.size_limit ? ", size limit " + std::to_string(*test_case.size_limit)
                                 : std::string{});
}

std::vector<DifferentialCase> differential_cases() {
    std::mt19937_64 generator(seed);
    std::vector<std::size_t> sizes = {0,
                                      1,
                                      block_size / 2 - 1,
                                      block_size / 2,
                                      block_size / 2 + 1,
                                      block_size - 1,
                                      block_size,
                                      block_size + 1,
                                      2 * block_size + 1};
    std::uniform_int_distribution<std::size_t> random_size(2, 1024 * 1024);
    for (int i = 0; i < 6; ++i)
        sizes.push_back(random_size(generator));

    std::vector<DifferentialCase> cases;
    for (const std::size_t size : sizes) {
        std::uniform_int_distribution<rlim_t> limit(0, 2 * size);
        for (const bool through_pipe : {false, true}) {
            cases.push_back({size, through_pipe, false, std::nullopt, generator()});
            cases.push_back({size, through_pipe, false, limit(generator), generator()});
            cases.push_back({size, through_pipe, true, std::nullopt, generator()});
        }
    }
    return cases;
}

class FastStepTest : public ScratchTest, public testing::WithParamInterface<DifferentialCase> {
  protected:
    struct Run {
        Outcome outcome;
        std::string output_file;
    };

    Run run_program(const std::string& program, const std::string& folder,
                    const std::string& input) const {
        const DifferentialCase& test_case = GetParam();
        mkdir(path(folder).c_str(), 0755);
        Command run_command = command({test_case.input_through_pipe ? "" : "../in.bin",
                                       test_case.output_to_standard_output ? "" : "out.bin"});
        run_command.program = program;
        run_command.working_directory = path(folder);
        if (test_case.input_through_pipe)
            run_command.input = InputSource::pipe_with(input);
        if (test_case.size_limit) {
            run_command.limits = {{RLIMIT_FSIZE, *test_case.size_limit}};
            run_command.ignored_signals = {SIGXFSZ};
        }
        Run result{run(run_command), {}};
        if (!test_case.output_to_standard_output)
            result.output_file = read_file(folder + "/out.bin");
        return result;
    }
};

TEST_P(FastStepTest, BehavesAsThePerByteBuild) {
    const DifferentialCase& test_case = GetParam();
    SCOPED_TRACE(describe(test_case));
    const std::string input = random_bytes(test_case.input_size, test_case.input_seed);
    write_file("in.bin", input);

    const Run fast = run_program(dorvane_program, "fast", input);
    const Run per_byte = run_program(per_byte_program, "per_byte", input);

    EXPECT_TRUE(fast.outcome.exited);
    EXPECT_TRUE(per_byte.outcome.exited);
    EXPECT_EQ(fast.outcome.exit_status, per_byte.outcome.exit_status);
    EXPECT_TRUE(fast.outcome.output_records == per_byte.outcome.output_records)
        << fast.outcome.output_records.size() << " and " << per_byte.outcome.output_records.size()
        << " writes on standard output";
    EXPECT_EQ(report_shape(fast.outcome.error_records),
              report_shape(per_byte.outcome.error_records));
    EXPECT_TRUE(fast.output_file == per_byte.output_file)
        << fast.output_file.size() << " and " << per_byte.output_file.size() << " bytes";

    // Both could agree and be wrong alike: hold the fast build to the expansion as well.
    const std::string expected = expanded(input);
    if (test_case.output_to_standard_output) {
        EXPECT_TRUE(fast.outcome.output_text() == expected + done_line);
    } else if (test_case.size_limit && *test_case.size_limit < expected.size()) {
        EXPECT_EQ(fast.outcome.exit_status, 101);
        EXPECT_TRUE(is_driver_report(fast.outcome.error_records, 101));
        EXPECT_TRUE(fast.output_file == expected.substr(0, *test_case.size_limit));
    } else {
        EXPECT_EQ(fast.outcome.exit_status, 0);
        EXPECT_TRUE(fast.output_file == expected);
    }
}

INSTANTIATE_TEST_SUITE_P(RandomInputs, FastStepTest, testing::ValuesIn(differential_cases()),
                         [](const testing::TestParamInfo<DifferentialCase>& param_info) {
                             const DifferentialCase& test_case = param_info.param;
                             return std::to_string(param_info.index) + "_size_" +
                                    std::to_string(test_case.input_size) +
                                    (test_case.input_through_pipe ? "_pipe" : "_file") +
                                    (test_case.output_to_standard_output ? "_to_stdout"
                                     : test_case.size_limit
                                         ? "_limit_" + std::to_string(*test_case.size_limit)
                                         : "_to_file");
                         });

} // namespace
} // namespace dorvane::cli_test
