// tests/faults/driver_process.h - runs the fault driver as a process and collects what
// it writes, one record per write on standard error, and how it ended.
// Test layer.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace fault_tests {

/// Where the driver's standard error goes.
enum class ErrorSink { socket, full_device };

/// A running driver. Standard output and standard error are each one end of a
/// SOCK_SEQPACKET socket pair, so every write arrives as one record.
class DriverProcess {
  public:
    DriverProcess(const std::string& action, ErrorSink error_sink = ErrorSink::socket);
    DriverProcess(const DriverProcess&) = delete;
    DriverProcess& operator=(const DriverProcess&) = delete;
    ~DriverProcess();

    /// Takes the next record on standard output, which finish() then no longer
    /// collects; empty once the driver has closed the stream.
    std::string next_output_record();

    /// Sends `signal_number` to the driver.
    void send_signal(int signal_number) const;

    /// Reads both streams to their end and waits for the driver to end.
    void finish();

    std::vector<std::string> error_records;
    std::vector<std::string> output_records;
    int wait_status = 0;

  private:
    pid_t process_id = -1;
    int output_socket = -1;
    int error_socket = -1;
};

/// The path of the driver program, as the build placed it.
std::string driver_path();

} // namespace fault_tests
