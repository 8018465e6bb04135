// tests/faults/fault_signal_tests.cpp - signals that the processor did not raise take
// their default course without a report, and a report that cannot be written still
// leaves the error's number as exit status.
// Test layer: runs the fault driver as a process.
#include "tests/faults/driver_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ostream>
#include <string>
#include <sys/wait.h>

namespace fault_tests {
namespace {

void expect_death_by_signal_without_report(const DriverProcess& driver, int signal_number) {
    ASSERT_TRUE(WIFSIGNALED(driver.wait_status)) << "wait status " << driver.wait_status;
    EXPECT_EQ(WTERMSIG(driver.wait_status), signal_number)
        << strsignal(WTERMSIG(driver.wait_status));
    EXPECT_TRUE(driver.error_records.empty()) << testing::PrintToString(driver.error_records);
    EXPECT_TRUE(driver.output_records.empty()) << testing::PrintToString(driver.output_records);
}

struct SentSignal {
    const char* action;
    int signal_number;
};

std::ostream& operator<<(std::ostream& stream, const SentSignal& sent) {
    return stream << sent.action;
}

class SignalSentByItself : public testing::TestWithParam<SentSignal> {};

TEST_P(SignalSentByItself, TakesTheDefaultCourse) {
    DriverProcess driver(GetParam().action);
    driver.finish();
    expect_death_by_signal_without_report(driver, GetParam().signal_number);
}

INSTANTIATE_TEST_SUITE_P(Kill, SignalSentByItself,
                         testing::Values(SentSignal{"kill-fpe", SIGFPE},
                                         SentSignal{"kill-segv", SIGSEGV}),
                         [](const testing::TestParamInfo<SentSignal>& case_info) {
                             return std::string(sigabbrev_np(case_info.param.signal_number));
                         });

class SignalSentByAnotherProcess : public testing::TestWithParam<int> {};

// The driver announces itself only once start-up has installed the fault handler, so
// the signal reaches the handler, which must decline it.
TEST_P(SignalSentByAnotherProcess, TakesTheDefaultCourse) {
    DriverProcess driver("wait");
    ASSERT_EQ(driver.next_output_record(), "Waiting.\r\n");
    driver.send_signal(GetParam());
    driver.finish();
    expect_death_by_signal_without_report(driver, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kill, SignalSentByAnotherProcess,
                         testing::Values(SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTERM, SIGINT),
                         [](const testing::TestParamInfo<int>& case_info) {
                             return std::string(sigabbrev_np(case_info.param));
                         });

struct UnwritableReport {
    const char* action;
    int exit_status;
};

std::ostream& operator<<(std::ostream& stream, const UnwritableReport& report) {
    return stream << report.action;
}

class ReportToFullDevice : public testing::TestWithParam<UnwritableReport> {};

TEST_P(ReportToFullDevice, ExitStatusIsStillTheErrorsNumber) {
    DriverProcess driver(GetParam().action, ErrorSink::full_device);
    driver.finish();
    ASSERT_TRUE(WIFEXITED(driver.wait_status)) << "wait status " << driver.wait_status;
    EXPECT_EQ(WEXITSTATUS(driver.wait_status), GetParam().exit_status);
    EXPECT_TRUE(driver.output_records.empty()) << testing::PrintToString(driver.output_records);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReportToFullDevice,
                         testing::Values(UnwritableReport{"check-io", 2},
                                         UnwritableReport{"null-write", 216},
                                         UnwritableReport{"stack-overflow", 202},
                                         UnwritableReport{"error-300", 255}),
                         [](const testing::TestParamInfo<UnwritableReport>& case_info) {
                             std::string name = case_info.param.action;
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
} // namespace fault_tests
