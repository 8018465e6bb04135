// tests/faults/fault_report_tests.cpp - processor faults and failed checks end in the
// run-time error report: its lines, one write each, the walk over the calling frames,
// code locations that name the right functions, and the exit status.
// Test layer: runs the fault driver as a process.
#include "tests/faults/driver_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fault_tests {
namespace {

struct ReportCase {
    std::string action;
    std::string number; // as the report writes it
    int exit_status;
    std::string faulting_function;    // named by the location of lines 1 and 2
    std::vector<std::string> callers; // named by the frame lines, innermost first
};

std::ostream& operator<<(std::ostream& stream, const ReportCase& report_case) {
    return stream << report_case.action;
}

const std::string converter = "dorvane::run_converter()";
const std::string start_up = "main";

const ReportCase report_cases[] = {
    {"divide-by-zero", "200", 200, "fault_driver::divide_by_zero()", {converter, start_up}},
    {"null-write", "216", 216, "fault_driver::write_through_null()", {converter, start_up}},
    {"illegal-instruction",
     "216",
     216,
     "fault_driver::execute_illegal_instruction()",
     {converter, start_up}},
    {"float-divide-by-zero",
     "200",
     200,
     "fault_driver::float_divide_by_zero()",
     {converter, start_up}},
    {"float-overflow", "205", 205, "fault_driver::float_overflow()", {converter, start_up}},
    {"float-invalid", "207", 207, "fault_driver::float_invalid()", {converter, start_up}},
    {"float-underflow", "206", 206, "fault_driver::float_underflow()", {converter, start_up}},
    // A pending I/O error must not swallow the report of a fault.
    {"fault-with-error-pending",
     "216",
     216,
     "fault_driver::write_through_null()",
     {"fault_driver::fault_with_error_pending()", converter, start_up}},
    // A failed check in the driver itself: the one frame line of start-up.
    {"check-io", "2", 2, converter, {start_up}},
    // A failed check three links down: the two links above it, the driver, start-up.
    {"nested-check",
     "2",
     2,
     "void fault_driver::nested_check<3>()",
     {"void fault_driver::nested_check<2>()", "void fault_driver::nested_check<1>()", converter,
      start_up}},
    // Twelve links deep: the walk stops after nine frame lines.
    {"nested-fault",
     "216",
     216,
     "fault_driver::write_through_null()",
     {"void fault_driver::nested_fault<12>()", "void fault_driver::nested_fault<11>()",
      "void fault_driver::nested_fault<10>()", "void fault_driver::nested_fault<9>()",
      "void fault_driver::nested_fault<8>()", "void fault_driver::nested_fault<7>()",
      "void fault_driver::nested_fault<6>()", "void fault_driver::nested_fault<5>()",
      "void fault_driver::nested_fault<4>()"}},
    // Numbers beyond 8 bits: the exit status is 255, never the low byte.
    {"error-300", "300", 255, converter, {start_up}},
    {"error-256", "256", 255, converter, {start_up}},
};

const std::regex frame_line("  \\$[0-9A-F]{8}\r\n");

// The 8 digits of each location in the report, line 1's first, after checking the
// form of every line: heading, location, frame lines, empty line, one write each.
std::vector<std::string> report_locations(const std::vector<std::string>& records,
                                          const std::string& number) {
    std::vector<std::string> locations;
    if (records.size() < 3) {
        ADD_FAILURE() << "only " << records.size() << " records on standard error";
        return locations;
    }
    std::smatch heading;
    const std::regex heading_form("Runtime error " + number + " at \\$([0-9A-F]{8})\r\n");
    if (!std::regex_match(records.front(), heading, heading_form)) {
        ADD_FAILURE() << "heading: " << testing::PrintToString(records.front());
        return locations;
    }
    locations.push_back(heading[1]);
    EXPECT_EQ(records[1], "  $" + locations.front() + "\r\n");
    for (std::size_t i = 2; i + 1 < records.size(); ++i) {
        EXPECT_TRUE(std::regex_match(records[i], frame_line))
            << "line " << i + 1 << ": " << testing::PrintToString(records[i]);
        locations.push_back(records[i].substr(3, 8));
    }
    EXPECT_EQ(records.back(), "\r\n");
    return locations;
}

bool has_addr2line() {
    return std::system("command -v addr2line >/dev/null 2>&1") == 0;
}

// The function that each location lies in, by the program's symbol table.
std::vector<std::string> functions_at(const std::vector<std::string>& locations) {
    std::string command = "addr2line -f -C -e '" + driver_path() + "'";
    for (const std::string& location : locations)
        command += " 0x" + location;
    std::vector<std::string> functions;
    FILE* output = popen(command.c_str(), "r");
    if (output == nullptr)
        return functions;
    char line[1024];
    for (bool is_function = true; std::fgets(line, sizeof line, output) != nullptr;
         is_function = !is_function) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (is_function)
            functions.push_back(text);
    }
    pclose(output);
    return functions;
}

class ReportOfFault : public testing::TestWithParam<ReportCase> {};

TEST_P(ReportOfFault, EndsWithTheReportAndTheNumberAsExitStatus) {
    const ReportCase& expected = GetParam();
    DriverProcess driver(expected.action);
    driver.finish();

    ASSERT_TRUE(WIFEXITED(driver.wait_status)) << "wait status " << driver.wait_status;
    EXPECT_EQ(WEXITSTATUS(driver.wait_status), expected.exit_status);
    EXPECT_TRUE(driver.output_records.empty()) << "the report must not reach standard output";
    report_locations(driver.error_records, expected.number);
    EXPECT_EQ(driver.error_records.size(), 3 + expected.callers.size());
}

TEST_P(ReportOfFault, LocationsAreTheSameFromRunToRun) {
    DriverProcess first(GetParam().action);
    first.finish();
    DriverProcess second(GetParam().action);
    second.finish();
    ASSERT_FALSE(first.error_records.empty());
    EXPECT_EQ(first.error_records, second.error_records);
}

TEST_P(ReportOfFault, LocationsNameTheFaultingFunctionAndItsCallers) {
    if (!has_addr2line())
        GTEST_SKIP() << "addr2line is not installed";
    const ReportCase& expected = GetParam();
    DriverProcess driver(expected.action);
    driver.finish();
    const std::vector<std::string> locations =
        report_locations(driver.error_records, expected.number);
    ASSERT_FALSE(locations.empty());

    std::vector<std::string> named = functions_at(locations);
    std::vector<std::string> wanted{expected.faulting_function};
    wanted.insert(wanted.end(), expected.callers.begin(), expected.callers.end());
    EXPECT_EQ(named, wanted);
}

INSTANTIATE_TEST_SUITE_P(Faults, ReportOfFault, testing::ValuesIn(report_cases),
                         [](const testing::TestParamInfo<ReportCase>& case_info) {
                             std::string name = case_info.param.action;
                             std::erase(name, '-');
                             return name;
                         });

// Runaway recursion runs into the end of the stack; the handler reports it from its
// own stack, and the walk over the endless chain of frames stops at its limit.
TEST(StackOverflow, IsRunTimeError202WithAtMostNineFrameLines) {
    DriverProcess driver("stack-overflow");
    driver.finish();

    ASSERT_TRUE(WIFEXITED(driver.wait_status)) << "wait status " << driver.wait_status;
    EXPECT_EQ(WEXITSTATUS(driver.wait_status), 202);
    EXPECT_TRUE(driver.output_records.empty());
    const std::vector<std::string> locations = report_locations(driver.error_records, "202");
    ASSERT_GE(locations.size(), 2u) << "no frame line at all";
    EXPECT_LE(locations.size(), 10u) << "more than nine frame lines";

    if (!has_addr2line())
        GTEST_SKIP() << "addr2line is not installed";
    for (const std::string& function : functions_at(locations))
        EXPECT_EQ(function, "fault_driver::recurse(int)");
}

} // namespace
} // namespace fault_tests
