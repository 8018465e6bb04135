// tests/faults/driver_process.cpp - runs the fault driver as a process and collects what
// it writes, one record per write, and how it ended.
// Test layer.
#include "tests/faults/driver_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace fault_tests {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::to_string(errno));
}

void make_socket_pair(int (&ends)[2]) {
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        fail("socketpair");
}

int open_device(const char* path, int flags) {
    const int descriptor = open(path, flags | O_CLOEXEC);
    if (descriptor < 0)
        fail(path);
    return descriptor;
}

// Runs in the child between fork and exec: only calls that are safe there.
[[noreturn]] void become_driver(char* const* argv, int input, int output, int error) {
    dup2(input, 0);
    dup2(output, 1);
    dup2(error, 2);
    // The driver starts with the signal settings of a fresh process, whatever the test
    // runner inherited: nothing blocked or ignored.
    sigset_t nothing;
    sigemptyset(&nothing);
    sigprocmask(SIG_SETMASK, &nothing, nullptr);
    for (const int signal_number : {SIGINT, SIGTERM, SIGSEGV, SIGBUS, SIGILL, SIGFPE})
        signal(signal_number, SIG_DFL);
    // No core files from the deaths by signal, and a bounded stack, so that runaway
    // recursion ends soon.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    rlimit stack{};
    getrlimit(RLIMIT_STACK, &stack);
    stack.rlim_cur = std::min<rlim_t>(stack.rlim_max, 8 * 1024 * 1024);
    setrlimit(RLIMIT_STACK, &stack);
    execv(argv[0], argv);
    _exit(127);
}

// One record; the empty record marks the end of the stream.
std::string receive_record(int socket) {
    for (;;) {
        char buffer[4096];
        const ssize_t received = recv(socket, buffer, sizeof buffer, 0);
        if (received >= 0)
            return std::string(buffer, static_cast<std::size_t>(received));
        if (errno != EINTR)
            fail("recv");
    }
}

// Every record up to the end of the stream.
std::vector<std::string> read_records(int socket) {
    std::vector<std::string> records;
    for (std::string record = receive_record(socket); !record.empty();
         record = receive_record(socket))
        records.push_back(std::move(record));
    return records;
}

} // namespace

std::string driver_path() {
    return DORVANE_FAULT_DRIVER;
}

DriverProcess::DriverProcess(const std::string& action, ErrorSink error_sink) {
    int output_ends[2];
    int error_ends[2] = {-1, -1};
    make_socket_pair(output_ends);
    if (error_sink == ErrorSink::socket)
        make_socket_pair(error_ends);
    else
        error_ends[1] = open_device("/dev/full", O_WRONLY);
    const int input = open_device("/dev/null", O_RDONLY);

    std::string program = driver_path();
    std::string argument = action;
    char* const argv[] = {program.data(), argument.data(), nullptr};
    process_id = fork();
    if (process_id == 0)
        become_driver(argv, input, output_ends[1], error_ends[1]);
    close(input);
    close(output_ends[1]);
    close(error_ends[1]);
    output_socket = output_ends[0];
    error_socket = error_ends[0];
    if (process_id < 0)
        fail("fork");
}

DriverProcess::~DriverProcess() {
    if (process_id > 0) {
        kill(process_id, SIGKILL);
        waitpid(process_id, nullptr, 0);
    }
    if (output_socket >= 0)
        close(output_socket);
    if (error_socket >= 0)
        close(error_socket);
}

std::string DriverProcess::next_output_record() {
    return receive_record(output_socket);
}

void DriverProcess::send_signal(int signal_number) const {
    if (kill(process_id, signal_number) != 0)
        fail("kill");
}

void DriverProcess::finish() {
    if (error_socket >= 0)
        error_records = read_records(error_socket);
    const std::vector<std::string> rest = read_records(output_socket);
    output_records.insert(output_records.end(), rest.begin(), rest.end());
    while (waitpid(process_id, &wait_status, 0) < 0)
        if (errno != EINTR)
            fail("waitpid");
    process_id = -1;
}

} // namespace fault_tests
