// tests/cli/process_runner.h - runs a program as a child process and records what it does.
// Command-line test layer: fork/exec with an exact argument vector, a working directory,
// chosen standard streams, limits and signal dispositions; one record per write.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace dorvane::cli_test {

/// What the child gets as its standard input.
struct InputSource {
    enum class Kind { null_device, closed, file, data, open_pipe };

    Kind kind = Kind::null_device;
    std::string path; ///< Kind::file
    std::string data; ///< Kind::data: written through a pipe, which is then closed

    static InputSource null_device() { return {}; }
    /// Descriptor 0 not open at all.
    static InputSource closed() { return {Kind::closed, {}, {}}; }
    static InputSource file(std::string file_path) {
        return {Kind::file, std::move(file_path), {}};
    }
    static InputSource pipe_with(std::string bytes) { return {Kind::data, {}, std::move(bytes)}; }
    /// A pipe whose write end stays open until the process ends; feed it with
    /// RunningProcess::feed_input.
    static InputSource open_pipe() { return {Kind::open_pipe, {}, {}}; }
};

/// What the child gets as its standard output or standard error.
struct OutputSink {
    enum class Kind { records, pipe, file, appended_file, broken_pipe, closed };

    Kind kind = Kind::records;
    std::string path; ///< Kind::file

    /// One end of a SOCK_SEQPACKET socket pair: every record received is exactly one
    /// write of the program.
    static OutputSink records() { return {}; }
    /// A plain pipe; what arrives is kept as it was read, without write boundaries.
    static OutputSink pipe() { return {Kind::pipe, {}}; }
    /// A file opened for writing (created and emptied), or a device such as /dev/full.
    static OutputSink file(std::string file_path) { return {Kind::file, std::move(file_path)}; }
    /// A file opened for appending, its contents kept, as the shell's >> opens it.
    static OutputSink appended_file(std::string file_path) {
        return {Kind::appended_file, std::move(file_path)};
    }
    /// A pipe whose read end is closed before the program starts.
    static OutputSink broken_pipe() { return {Kind::broken_pipe, {}}; }
    /// The descriptor not open at all.
    static OutputSink closed() { return {Kind::closed, {}}; }
};

struct ResourceLimit {
    int resource;
    rlim_t value; ///< both the soft and the hard limit
};

struct Command {
    std::string program;
    std::vector<std::string> arguments; ///< after argv[0], which is the program path
    std::string working_directory;      ///< empty: the caller's
    InputSource input;
    OutputSink output;
    OutputSink error;
    std::vector<ResourceLimit> limits;
    std::vector<int> ignored_signals; ///< every other signal starts with its default action
    std::optional<uid_t> user;        ///< run as this user (and its group of the same number)
    std::chrono::milliseconds timeout{20000};
};

struct Outcome {
    bool exited = false; ///< ended by _exit or a return from main
    int exit_status = -1;
    int signal = 0; ///< when it was ended by a signal
    bool timed_out = false;
    std::vector<std::string> output_records;
    std::vector<std::string> error_records;

    std::string output_text() const;
    std::string error_text() const;
};

/// A started child. Destroying it before finish() kills the child.
class RunningProcess {
  public:
    explicit RunningProcess(const Command& command);
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;
    ~RunningProcess();

    pid_t pid() const { return child_; }

    /// Writes `bytes` to an InputSource::open_pipe, while the outputs keep flowing.
    void feed_input(const std::string& bytes);

    /// Waits, collecting the outputs, until at least `count` output records arrived.
    /// False when the process ended or the timeout passed first.
    bool wait_for_output_records(std::size_t count);

    void send_signal(int signal);

    /// Closes the input pipe, collects the outputs to their end and reaps the child;
    /// kills it when the timeout passes.
    Outcome finish();

  private:
    enum class Stop { none, output_records, input_written };
    void pump(Stop stop, std::size_t wanted_records);
    void kill_after_timeout();

    pid_t child_ = -1;
    int input_fd_ = -1;
    int output_fd_ = -1;
    int error_fd_ = -1;
    bool output_is_records_ = false;
    bool error_is_records_ = false;
    std::string pending_input_;
    std::size_t input_written_ = 0;
    bool close_input_when_written_ = false;
    std::chrono::steady_clock::time_point deadline_;
    Outcome outcome_;
};

/// Starts the command and waits for its end.
Outcome run(const Command& command);

} // namespace dorvane::cli_test
