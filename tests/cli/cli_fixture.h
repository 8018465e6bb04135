// tests/cli/cli_fixture.h - what the command-line tests share: a scratch folder per case,
// the program's messages, an independent expansion, report checks and a lock holder.
// Command-line test layer.
#pragma once

#include "tests/cli/process_runner.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::cli_test {

inline const std::string dorvane_program = DORVANE_PROGRAM;
inline const std::string per_byte_program = DORVANE_PER_BYTE_PROGRAM;

inline const std::vector<std::string> usage_records = {
    "Usage:\r\n", "dorvane FileToDecompress OutputFile\r\n", "\r\n"};
inline const std::string done_line = "Done.\r\n";
inline const std::string input_unavailable_line = "Input file unavailable.\r\n";
inline const std::string output_unavailable_line = "Can't open output file for writing.\r\n";

/// The bytes per block of the program's files: the sizes around it are the ones where a
/// buffered layer goes wrong.
inline constexpr std::size_t block_size = 128 * 1024;

/// Every packed byte as two bytes, the high half first; written apart from the program.
std::string expanded(std::string_view packed);

std::string random_bytes(std::size_t count, std::uint64_t seed);

/// The four records of a run-time error report raised by a failed check in the driver:
/// the number and location, the location again, start-up's frame, an empty line.
testing::AssertionResult is_driver_report(const std::vector<std::string>& records, unsigned number);

/// The 8 hexadecimal digits of report line `line` (0: the error line).
std::string report_digits(const std::vector<std::string>& records, std::size_t line);

/// The records with every code location replaced by "XXXXXXXX": what two different builds
/// of the same program must agree on.
std::vector<std::string> report_shape(const std::vector<std::string>& records);

/// Holds a flock(2) lock on a file from another process until destroyed.
class LockHolder {
  public:
    LockHolder(const std::string& path, int operation);
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder();

  private:
    pid_t holder_ = -1;
    int release_fd_ = -1;
};

/// A fresh scratch folder for each case; the program runs inside it.
class ScratchTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string path(std::string_view name) const;
    void write_file(std::string_view name, std::string_view bytes) const;
    std::string read_file(std::string_view name) const;
    bool exists(std::string_view name) const;
    /// The names in the scratch folder, sorted.
    std::vector<std::string> entries() const;

    /// dorvane with these arguments, in the scratch folder, both outputs as records.
    Command command(std::vector<std::string> arguments) const;
    Outcome run_dorvane(std::vector<std::string> arguments) const;

    std::string scratch_;
};

} // namespace dorvane::cli_test
