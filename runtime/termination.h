// runtime/termination.h - the only ways out of the program: check_io, run_time_error
// and end_program, and the termination sequence behind them.
// Portable.
#pragma once

#include <cstdint>

namespace dorvane {

/// The process exit status: 0 unless run_time_error sets it to the error's number.
extern std::uint32_t exit_status;
/// The number of the run-time error; 0 when none was raised.
extern std::uint16_t error_number;
/// Where the run-time error was detected, as an offset in the program's image; the
/// report is written only when this is not 0.
extern std::uint32_t error_location;
/// The call frame in which the run-time error was detected.
extern const void* error_frame;
/// The frame walk stops as soon as it has written more frame lines than this.
extern std::uint16_t frame_line_limit;

/// Notes start-up's own frame as the top of the stack for the frame walk. Start-up
/// calls it in the frame from which it calls run_converter.
void set_stack_top(const void* frame);

/// Returns when no I/O error is pending. Otherwise takes the number and raises it as
/// a run-time error located just after this call, in the caller's frame.
[[gnu::noinline]] void check_io();

/// Ends the program with the report of run-time error `number`, detected at the code
/// address `location` in the call frame `frame`, and `number` as exit status.
[[noreturn]] void run_time_error(std::uint16_t number, const void* location, const void* frame);

/// run_time_error for a processor fault, called by the fault handler on its own stack;
/// `stack_pointer` is the faulting thread's, the lower bound for reading its frames.
[[noreturn]] void run_time_error_from_fault(std::uint16_t number, const void* location,
                                            const void* frame, const void* stack_pointer);

/// True once the termination sequence has begun; a fault after that is not reported.
bool is_terminating();

/// The normal end: the termination sequence without a report, exit status 0 unless a
/// run-time error set it.
[[noreturn]] void end_program();

} // namespace dorvane
