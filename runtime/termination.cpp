// runtime/termination.cpp - check_io, run_time_error, end_program and the termination
// sequence. Portable. NOTE: the sequence also runs from the fault handler, so after a
// fault it allocates and frees nothing.
#include "runtime/termination.h"

#include "runtime/arguments.h"
#include "runtime/byte_file.h"
#include "runtime/io_error.h"
#include "runtime/os.h"
#include "runtime/report.h"
#include "runtime/text_channel.h"

namespace dorvane {

std::uint32_t exit_status = 0;
std::uint16_t error_number = 0;
std::uint32_t error_location = 0;
const void* error_frame = nullptr;
std::uint16_t frame_line_limit = 8;

namespace {

const void* stack_top = nullptr;
const void* stack_floor = nullptr;
bool terminating = false;

enum class Release : std::uint8_t { storage, nothing };

[[noreturn]] void terminate_program(Release release) {
    terminating = true;
    // Bytes that open files still buffer were written by the program: they go out
    // before anything else, whatever the error was.
    write_out_open_files();
    if (error_location != 0)
        write_report(standard_error(), error_number, error_location, error_frame,
                     StackBounds{stack_floor, stack_top}, frame_line_limit);
    flush_channel(standard_output());
    flush_channel(standard_error());
    if (release == Release::storage)
        release_argument_vector();
    os::remove_fault_handler();
    os::exit_process(exit_status);
}

void record_error(std::uint16_t number, const void* location, const void* frame) {
    error_number = number;
    error_location = os::image_offset(location);
    error_frame = frame;
    exit_status = number;
}

} // namespace

void set_stack_top(const void* frame) {
    stack_top = frame;
}

bool is_terminating() {
    return terminating;
}

void check_io() {
    if (pending_io_error == 0)
        return;
    const std::uint16_t number = take_io_error();
    const void* caller_frame = *static_cast<const void* const*>(__builtin_frame_address(0));
    run_time_error(number, __builtin_return_address(0), caller_frame);
}

void run_time_error(std::uint16_t number, const void* location, const void* frame) {
    if (terminating)
        os::exit_process(exit_status);
    record_error(number, location, frame);
    stack_floor = __builtin_frame_address(0);
    terminate_program(Release::storage);
}

void run_time_error_from_fault(std::uint16_t number, const void* location, const void* frame,
                               const void* stack_pointer) {
    record_error(number, location, frame);
    stack_floor = stack_pointer;
    // The report must not be swallowed by an I/O error that was pending at the fault.
    pending_io_error = 0;
    terminate_program(Release::nothing);
}

void end_program() {
    terminate_program(Release::storage);
}

} // namespace dorvane
