// tests/cli/cli_fixture.cpp - what the command-line tests share.
// Command-line test layer.
#include "tests/cli/cli_fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <stdexcept>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dorvane::cli_test {

std::string expanded(std::string_view packed) {
    std::string result;
    result.reserve(2 * packed.size());
    for (const char byte : packed) {
        const unsigned value = static_cast<unsigned char>(byte);
        result.push_back(static_cast<char>(value / 16));
        result.push_back(static_cast<char>(value % 16));
    }
    return result;
}

std::string random_bytes(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; i += 8) {
        const std::uint64_t value = generator();
        for (std::size_t j = 0; j < 8 && i + j < count; ++j)
            bytes[i + j] = static_cast<char>(value >> (8 * j));
    }
    return bytes;
}

testing::AssertionResult is_driver_report(const std::vector<std::string>& records,
                                          unsigned number) {
    if (records.size() != 4)
        return testing::AssertionFailure() << records.size() << " report records, not 4";
    const std::regex error_line("Runtime error ([0-9]+) at \\$([0-9A-F]{8})\r\n");
    const std::regex location_line("  \\$([0-9A-F]{8})\r\n");
    std::smatch error_match;
    std::smatch location_match;
    std::smatch frame_match;
    if (!std::regex_match(records[0], error_match, error_line))
        return testing::AssertionFailure() << "error line " << testing::PrintToString(records[0]);
    if (error_match[1] != std::to_string(number))
        return testing::AssertionFailure()
               << "error number " << error_match[1] << ", not " << number;
    if (!std::regex_match(records[1], location_match, location_line) ||
        location_match[1] != error_match[2])
        return testing::AssertionFailure()
               << "location line " << testing::PrintToString(records[1]);
    if (!std::regex_match(records[2], frame_match, location_line))
        return testing::AssertionFailure() << "frame line " << testing::PrintToString(records[2]);
    if (records[3] != "\r\n")
        return testing::AssertionFailure() << "last line " << testing::PrintToString(records[3]);
    return testing::AssertionSuccess();
}

std::string report_digits(const std::vector<std::string>& records, std::size_t line) {
    if (line >= records.size())
        return {};
    const std::string& record = records[line];
    const std::size_t dollar = record.find('$');
    return dollar == std::string::npos ? std::string{} : record.substr(dollar + 1, 8);
}

std::vector<std::string> report_shape(const std::vector<std::string>& records) {
    const std::regex location("\\$[0-9A-F]{8}");
    std::vector<std::string> shapes;
    for (const std::string& record : records)
        shapes.push_back(std::regex_replace(record, location, "$$XXXXXXXX"));
    return shapes;
}

LockHolder::LockHolder(const std::string& path, int operation) {
    int ready[2];
    int release[2];
    if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 for the lock holder");
    holder_ = fork();
    if (holder_ < 0)
        throw std::runtime_error("fork for the lock holder");
    if (holder_ == 0) {
        close(ready[0]);
        close(release[1]);
        const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const char held = descriptor >= 0 && flock(descriptor, operation | LOCK_NB) == 0;
        [[maybe_unused]] const ssize_t sent = write(ready[1], &held, 1);
        // Holds the lock until the test closes its end of the pipe.
        char byte = 0;
        while (read(release[0], &byte, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_fd_ = release[1];
    char held = 0;
    ssize_t got = 0;
    do {
        got = read(ready[0], &held, 1);
    } while (got < 0 && errno == EINTR);
    close(ready[0]);
    if (got != 1 || held == 0)
        throw std::runtime_error("the lock holder could not lock " + path);
}

LockHolder::~LockHolder() {
    close(release_fd_);
    waitpid(holder_, nullptr, 0);
}

void ScratchTest::SetUp() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/dorvane-cli-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        FAIL() << "mkdtemp: " << std::strerror(errno);
    scratch_ = pattern;
}

void ScratchTest::TearDown() {
    if (scratch_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

std::string ScratchTest::path(std::string_view name) const {
    return scratch_ + "/" + std::string(name);
}

void ScratchTest::write_file(std::string_view name, std::string_view bytes) const {
    std::ofstream file(path(name), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
        throw std::runtime_error("cannot write " + path(name));
}

std::string ScratchTest::read_file(std::string_view name) const {
    std::ifstream file(path(name), std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read " + path(name));
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool ScratchTest::exists(std::string_view name) const {
    return access(path(name).c_str(), F_OK) == 0;
}

std::vector<std::string> ScratchTest::entries() const {
    std::vector<std::string> names;
    DIR* folder = opendir(scratch_.c_str());
    if (folder == nullptr)
        return names;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

Command ScratchTest::command(std::vector<std::string> arguments) const {
    Command result;
    result.program = dorvane_program;
    result.arguments = std::move(arguments);
    result.working_directory = scratch_;
    return result;
}

Outcome ScratchTest::run_dorvane(std::vector<std::string> arguments) const {
    return run(command(std::move(arguments)));
}

} // namespace dorvane::cli_test
