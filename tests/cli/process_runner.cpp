// tests/cli/process_runner.cpp - runs a program as a child process and records what it does.
// Command-line test layer. Every descriptor of the test process is close-on-exec, and the
// child closes whatever else it inherited, so the program sees only the three streams.
#include "tests/cli/process_runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dorvane::cli_test {

namespace {

// Large enough for any single write of the program (its file blocks are 128 KiB).
constexpr std::size_t largest_record = 1024 * 1024;
constexpr int socket_send_buffer = 4 * 1024 * 1024;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

/// Moves a descriptor to 3 or above, close-on-exec, so that placing the child's three
/// streams on 0, 1 and 2 can never overwrite one of them.
int above_standard(int descriptor) {
    if (descriptor < 0)
        fail("creating a descriptor for the child");
    const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    if (moved < 0)
        fail("fcntl(F_DUPFD_CLOEXEC)");
    close(descriptor);
    return moved;
}

void make_non_blocking(int descriptor) {
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags < 0 || fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) < 0)
        fail("fcntl(O_NONBLOCK)");
}

struct StreamEnds {
    int child = -1;  ///< -1: the child's descriptor stays closed
    int parent = -1; ///< -1: nothing to collect or feed
};

StreamEnds input_ends(const InputSource& input) {
    switch (input.kind) {
    case InputSource::Kind::null_device:
        return {above_standard(open("/dev/null", O_RDONLY | O_CLOEXEC)), -1};
    case InputSource::Kind::closed:
        return {};
    case InputSource::Kind::file:
        return {above_standard(open(input.path.c_str(), O_RDONLY | O_CLOEXEC)), -1};
    case InputSource::Kind::data:
    case InputSource::Kind::open_pipe: {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            fail("pipe2");
        const int read_end = above_standard(ends[0]);
        const int write_end = above_standard(ends[1]);
        make_non_blocking(write_end);
        return {read_end, write_end};
    }
    }
    return {};
}

StreamEnds output_ends(const OutputSink& sink) {
    switch (sink.kind) {
    case OutputSink::Kind::records: {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
            fail("socketpair");
        const int child = above_standard(ends[1]);
        const int parent = above_standard(ends[0]);
        // The send buffer bounds the largest write that the socket takes as one record.
        setsockopt(child, SOL_SOCKET, SO_SNDBUF, &socket_send_buffer, sizeof socket_send_buffer);
        setsockopt(child, SOL_SOCKET, SO_SNDBUFFORCE, &socket_send_buffer,
                   sizeof socket_send_buffer);
        shutdown(child, SHUT_RD);
        make_non_blocking(parent);
        return {child, parent};
    }
    case OutputSink::Kind::pipe:
    case OutputSink::Kind::broken_pipe: {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            fail("pipe2");
        const int read_end = above_standard(ends[0]);
        const int write_end = above_standard(ends[1]);
        if (sink.kind == OutputSink::Kind::broken_pipe) {
            close(read_end);
            return {write_end, -1};
        }
        make_non_blocking(read_end);
        return {write_end, read_end};
    }
    case OutputSink::Kind::file:
        return {
            above_standard(open(sink.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)),
            -1};
    case OutputSink::Kind::appended_file:
        return {above_standard(open(sink.path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC)), -1};
    case OutputSink::Kind::closed:
        return {};
    }
    return {};
}

/// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void report_child_failure(int report_fd, int step) {
    const int codes[2] = {step, errno};
    [[maybe_unused]] const ssize_t ignored = write(report_fd, codes, sizeof codes);
    _exit(127);
}

[[noreturn]] void become_program(const Command& command, char* const* argv,
                                 const StreamEnds (&streams)[3], int report_fd) {
    for (int target = 0; target < 3; ++target) {
        if (streams[target].child < 0)
            close(target);
        else if (dup2(streams[target].child, target) < 0)
            report_child_failure(report_fd, 1);
    }
    // Descriptors that the test process inherited without close-on-exec stay out.
    if (report_fd > 3)
        close_range(3, static_cast<unsigned>(report_fd - 1), 0);
    close_range(static_cast<unsigned>(report_fd + 1), ~0U, 0);

    // A test runner started in the background may have left SIGINT ignored or signals
    // blocked; both would survive exec and hide what the program does itself.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal = 1; signal < NSIG; ++signal) {
        const bool ignored =
            std::find(command.ignored_signals.begin(), command.ignored_signals.end(), signal) !=
            command.ignored_signals.end();
        ::signal(signal, ignored ? SIG_IGN : SIG_DFL);
    }
    for (const ResourceLimit& limit : command.limits) {
        const rlimit value{limit.value, limit.value};
        if (setrlimit(limit.resource, &value) != 0)
            report_child_failure(report_fd, 2);
    }
    if (!command.working_directory.empty() && chdir(command.working_directory.c_str()) != 0)
        report_child_failure(report_fd, 3);
    if (command.user) {
        const auto user = *command.user;
        if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(user)) != 0 ||
            setuid(user) != 0)
            report_child_failure(report_fd, 4);
    }
    execv(command.program.c_str(), argv);
    report_child_failure(report_fd, 5);
}

} // namespace

std::string Outcome::output_text() const {
    std::string text;
    for (const std::string& record : output_records)
        text += record;
    return text;
}

std::string Outcome::error_text() const {
    std::string text;
    for (const std::string& record : error_records)
        text += record;
    return text;
}

RunningProcess::RunningProcess(const Command& command) {
    // The child may end before it has read all of its input.
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> argument_copies;
    argument_copies.push_back(command.program);
    argument_copies.insert(argument_copies.end(), command.arguments.begin(),
                           command.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argument_copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const StreamEnds streams[3] = {input_ends(command.input), output_ends(command.output),
                                   output_ends(command.error)};
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        fail("pipe2");
    report[0] = above_standard(report[0]);
    report[1] = above_standard(report[1]);

    deadline_ = std::chrono::steady_clock::now() + command.timeout;
    child_ = fork();
    if (child_ < 0)
        fail("fork");
    if (child_ == 0)
        become_program(command, argv.data(), streams, report[1]);

    close(report[1]);
    for (const StreamEnds& stream : streams) {
        if (stream.child >= 0)
            close(stream.child);
    }
    input_fd_ = streams[0].parent;
    output_fd_ = streams[1].parent;
    error_fd_ = streams[2].parent;
    output_is_records_ = command.output.kind == OutputSink::Kind::records;
    error_is_records_ = command.error.kind == OutputSink::Kind::records;
    if (command.input.kind == InputSource::Kind::data) {
        pending_input_ = command.input.data;
        close_input_when_written_ = true;
    }

    int codes[2] = {0, 0};
    ssize_t got = 0;
    do {
        got = read(report[0], codes, sizeof codes);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got > 0) {
        waitpid(child_, nullptr, 0);
        child_ = -1;
        errno = codes[1];
        fail("starting " + command.program + " (step " + std::to_string(codes[0]) + ")");
    }
}

RunningProcess::~RunningProcess() {
    for (const int descriptor : {input_fd_, output_fd_, error_fd_}) {
        if (descriptor >= 0)
            close(descriptor);
    }
    if (child_ > 0) {
        kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
    }
}

void RunningProcess::feed_input(const std::string& bytes) {
    if (input_fd_ < 0)
        return;
    pending_input_ += bytes;
    pump(Stop::input_written, 0);
}

bool RunningProcess::wait_for_output_records(std::size_t count) {
    pump(Stop::output_records, count);
    return outcome_.output_records.size() >= count;
}

void RunningProcess::send_signal(int signal) {
    if (child_ > 0)
        kill(child_, signal);
}

void RunningProcess::kill_after_timeout() {
    if (!outcome_.timed_out && child_ > 0) {
        outcome_.timed_out = true;
        kill(child_, SIGKILL);
    }
}

void RunningProcess::pump(Stop stop, std::size_t wanted_records) {
    std::vector<char> buffer(largest_record);
    for (;;) {
        if (stop == Stop::output_records && outcome_.output_records.size() >= wanted_records)
            return;
        if (input_fd_ >= 0 && input_written_ == pending_input_.size() &&
            close_input_when_written_) {
            close(input_fd_);
            input_fd_ = -1;
        }
        const bool input_waiting = input_fd_ >= 0 && input_written_ < pending_input_.size();
        if (stop == Stop::input_written && !input_waiting)
            return;

        pollfd watched[3];
        nfds_t count = 0;
        if (input_waiting)
            watched[count++] = {input_fd_, POLLOUT, 0};
        if (output_fd_ >= 0)
            watched[count++] = {output_fd_, POLLIN, 0};
        if (error_fd_ >= 0)
            watched[count++] = {error_fd_, POLLIN, 0};
        if (count == 0)
            return;

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline_ - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 && !outcome_.timed_out)
            kill_after_timeout();
        // After the kill the streams close at once; a second wait is the last one.
        const int wait = outcome_.timed_out ? 2000 : static_cast<int>(left);
        const int ready = poll(watched, count, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            fail("poll");
        if (ready == 0) {
            if (outcome_.timed_out)
                return;
            continue;
        }

        for (nfds_t i = 0; i < count; ++i) {
            if (watched[i].revents == 0)
                continue;
            const int descriptor = watched[i].fd;
            if (descriptor == input_fd_) {
                const ssize_t written = write(input_fd_, pending_input_.data() + input_written_,
                                              pending_input_.size() - input_written_);
                if (written > 0) {
                    input_written_ += static_cast<std::size_t>(written);
                } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                    // The reader has gone: what it did not take is of no interest.
                    close(input_fd_);
                    input_fd_ = -1;
                }
                continue;
            }
            const bool is_output = descriptor == output_fd_;
            std::vector<std::string>& records =
                is_output ? outcome_.output_records : outcome_.error_records;
            const bool as_records = is_output ? output_is_records_ : error_is_records_;
            bool ended = false;
            for (;;) {
                ssize_t got = 0;
                bool truncated = false;
                if (as_records) {
                    iovec part{buffer.data(), buffer.size()};
                    msghdr message{};
                    message.msg_iov = &part;
                    message.msg_iovlen = 1;
                    got = recvmsg(descriptor, &message, MSG_DONTWAIT);
                    truncated = (message.msg_flags & MSG_TRUNC) != 0;
                } else {
                    got = read(descriptor, buffer.data(), buffer.size());
                }
                if (got < 0 && errno == EINTR)
                    continue;
                if (got < 0 && errno == EAGAIN)
                    break;
                // NOTE: a record of 0 bytes reads like the end of the stream; the program
                // never asks for an empty write, so 0 is taken as the end.
                if (got <= 0) {
                    ended = true;
                    break;
                }
                if (truncated)
                    throw std::runtime_error("a write larger than the record buffer");
                records.emplace_back(buffer.data(), static_cast<std::size_t>(got));
            }
            if (ended) {
                close(descriptor);
                (is_output ? output_fd_ : error_fd_) = -1;
            }
        }
    }
}

Outcome RunningProcess::finish() {
    close_input_when_written_ = true;
    pump(Stop::none, 0);
    if (input_fd_ >= 0) {
        close(input_fd_);
        input_fd_ = -1;
    }
    int status = 0;
    for (;;) {
        const pid_t reaped = waitpid(child_, &status, WNOHANG);
        if (reaped == child_)
            break;
        if (reaped < 0 && errno != EINTR)
            fail("waitpid");
        if (std::chrono::steady_clock::now() >= deadline_)
            kill_after_timeout();
        poll(nullptr, 0, 5);
    }
    child_ = -1;
    if (WIFEXITED(status)) {
        outcome_.exited = true;
        outcome_.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome_.signal = WTERMSIG(status);
    }
    return outcome_;
}

Outcome run(const Command& command) {
    RunningProcess process(command);
    return process.finish();
}

} // namespace dorvane::cli_test
