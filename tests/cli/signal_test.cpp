// tests/cli/signal_test.cpp - signals sent by another process take their default course:
// no report, no exit status of the program's own.
// Command-line test layer.
#include "tests/cli/cli_fixture.h"

#include <csignal>
#include <cstring>

namespace dorvane::cli_test {
namespace {

class SentSignalTest : public ScratchTest, public testing::WithParamInterface<int> {};

TEST_P(SentSignalTest, ConverterWaitingOnAPipeDiesByTheSignal) {
    Command run_command = command({"", ""});
    run_command.input = InputSource::open_pipe();
    run_command.limits = {{RLIMIT_CORE, 0}};
    RunningProcess process(run_command);

    // More than one block of output: once it arrives, the converter is in its loop,
    // waiting for the rest of an input that never ends.
    process.feed_input(random_bytes(block_size / 2 + 1000, 9));
    ASSERT_TRUE(process.wait_for_output_records(1));
    process.send_signal(GetParam());
    const Outcome outcome = process.finish();

    EXPECT_FALSE(outcome.exited) << "exit status " << outcome.exit_status;
    EXPECT_EQ(outcome.signal, GetParam());
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(outcome.output_records.front(),
              expanded(random_bytes(block_size / 2 + 1000, 9)).substr(0, block_size));
}

INSTANTIATE_TEST_SUITE_P(Signals, SentSignalTest, testing::Values(SIGTERM, SIGINT, SIGSEGV),
                         [](const testing::TestParamInfo<int>& param_info) {
                             return std::string(sigabbrev_np(param_info.param));
                         });

} // namespace
} // namespace dorvane::cli_test
