// tests/faults/fault_driver.cpp - a test-only program: the run-time layer's start-up
// with a run_converter of its own that faults or fails as argument 1 asks.
// Test layer; built only with the fault tests, never installed.
#include "converter/converter.h"
#include "runtime/arguments.h"
#include "runtime/io_error.h"
#include "runtime/termination.h"
#include "runtime/text_channel.h"

#include <cfenv>
#include <cfloat>
#include <csignal>
#include <string_view>
#include <unistd.h>

namespace fault_driver {

// Every value that a fault depends on is read through a volatile, so that the compiler
// can neither fold the faulting operation away nor prove it faults and drop the path.
volatile int dividend = 7;
volatile int zero_divisor = 0;
volatile double zero = 0.0;
volatile double largest = DBL_MAX;
volatile double smallest = DBL_MIN;
volatile int recursion_stop = -1;

[[gnu::noinline]] void divide_by_zero() {
    volatile int quotient = dividend / zero_divisor;
    (void)quotient;
}

[[gnu::noinline]] void write_through_null() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

// Each call keeps a frame of its own: the array must live in memory, and the addition
// after the call keeps it from being a final call.
[[gnu::noinline]] int recurse(int depth) {
    volatile char frame_bytes[512];
    frame_bytes[0] = static_cast<char>(depth);
    if (depth == recursion_stop)
        return 0;
    return recurse(depth + 1) + frame_bytes[0];
}

// The stores to a local in memory keep the frame in place at the trap: without them,
// the compiler sets up no frame on a path that only traps.
[[gnu::noinline]] void execute_illegal_instruction() {
    [[maybe_unused]] volatile int frame_marker = 0;
    frame_marker = 1;
    __builtin_trap();
}

[[gnu::noinline]] void float_divide_by_zero() {
    feenableexcept(FE_DIVBYZERO);
    volatile double quotient = 1.0 / zero;
    (void)quotient;
}

[[gnu::noinline]] void float_overflow() {
    feenableexcept(FE_OVERFLOW);
    volatile double product = largest * largest;
    (void)product;
}

[[gnu::noinline]] void float_invalid() {
    feenableexcept(FE_INVALID);
    volatile double quotient = zero / zero;
    (void)quotient;
}

[[gnu::noinline]] void float_underflow() {
    feenableexcept(FE_UNDERFLOW);
    volatile double product = smallest * smallest;
    (void)product;
}

// Twelve distinct functions, each calling the next: a chain longer than the report's
// limit of nine frame lines.
template <int link> [[gnu::noinline]] void nested_fault() {
    if constexpr (link == 12)
        write_through_null();
    else
        nested_fault<link + 1>();
}

// The check stands in the last link itself, so the report locates it there.
template <int link> [[gnu::noinline]] void nested_check() {
    if constexpr (link == 3) {
        dorvane::store_io_error(2);
        dorvane::check_io();
    } else {
        nested_check<link + 1>();
    }
}

// Raised as check_io raises its errors: located just after the call, in the caller's
// frame. The numbers do not fit the 8 bits of an exit status.
[[gnu::noinline]] void raise_error_300() {
    dorvane::run_time_error(300, __builtin_return_address(0),
                            *static_cast<const void* const*>(__builtin_frame_address(0)));
}

[[gnu::noinline]] void raise_error_256() {
    dorvane::run_time_error(256, __builtin_return_address(0),
                            *static_cast<const void* const*>(__builtin_frame_address(0)));
}

[[gnu::noinline]] void recurse_without_end() {
    recurse(0);
}

// Sent, not raised by the processor: the fault handler must leave these alone.
void kill_with_floating_point_signal() {
    kill(getpid(), SIGFPE);
}
void kill_with_segmentation_signal() {
    kill(getpid(), SIGSEGV);
}

// Announces on standard output that the fault handler is in place, then sleeps until a
// signal ends the process.
void wait_for_signal() {
    dorvane::write_text(0, dorvane::standard_output(), "Waiting.");
    dorvane::end_line(dorvane::standard_output());
    dorvane::check_io();
    for (;;)
        pause();
}

void fault_with_error_pending() {
    dorvane::store_io_error(5);
    write_through_null();
}

struct Action {
    std::string_view name;
    void (*run)();
};

constexpr Action actions[] = {
    {"divide-by-zero", divide_by_zero},
    {"null-write", write_through_null},
    {"stack-overflow", recurse_without_end},
    {"illegal-instruction", execute_illegal_instruction},
    {"float-divide-by-zero", float_divide_by_zero},
    {"float-overflow", float_overflow},
    {"float-invalid", float_invalid},
    {"float-underflow", float_underflow},
    {"nested-fault", nested_fault<1>},
    {"nested-check", nested_check<1>},
    {"kill-fpe", kill_with_floating_point_signal},
    {"kill-segv", kill_with_segmentation_signal},
    {"wait", wait_for_signal},
    {"fault-with-error-pending", fault_with_error_pending},
    {"error-300", raise_error_300},
    {"error-256", raise_error_256},
};

} // namespace fault_driver

// NOTE: the plain check stands here, in run_converter itself, so that its report has
// the one frame line of start-up.
void dorvane::run_converter() {
    ShortText action{};
    argument_text(1, action);
    if (action.view() == "check-io") {
        store_io_error(2);
        check_io();
        return;
    }
    for (const fault_driver::Action& candidate : fault_driver::actions) {
        if (candidate.name == action.view()) {
            candidate.run();
            return;
        }
    }
    write_text(0, standard_output(), "Unknown action.");
    end_line(standard_output());
    check_io();
}
