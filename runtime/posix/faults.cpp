// runtime/posix/faults.cpp - processor faults become run-time errors.
// Only POSIX code belongs in this folder.
//
// NOTE: what may run in a signal handler is limited. The handler runs on a stack of
// its own, so that a stack overflow can still be reported, and it never returns for a
// processor fault: it continues in run_time_error_from_fault, whose termination
// sequence only writes through fixed buffers and ends with _exit. Every fault signal
// is blocked while the handler runs, so a fault inside it ends the process at once.
// A signal that another process sent takes its default course.
#include "runtime/os.h"

#include "runtime/termination.h"

#include <csignal>
#include <cstdint>
#include <ucontext.h>

namespace dorvane::os {

namespace {

constexpr int fault_signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

// Large enough for the report and the termination sequence, with room to spare.
constexpr std::size_t fault_stack_size = 64 * 1024;
alignas(16) char fault_stack[fault_stack_size];

// A faulting access this close below or at the stack pointer is taken as the stack
// running into its guard area rather than a bad pointer.
constexpr std::uintptr_t stack_overflow_reach = 64 * 1024;

struct FaultContext {
    const void* instruction;
    const void* frame;
    const void* stack_pointer;
};

FaultContext context_of(const void* user_context) {
    const auto& machine = static_cast<const ucontext_t*>(user_context)->uc_mcontext;
#if defined(__x86_64__)
    return {reinterpret_cast<const void*>(machine.gregs[REG_RIP]),
            reinterpret_cast<const void*>(machine.gregs[REG_RBP]),
            reinterpret_cast<const void*>(machine.gregs[REG_RSP])};
#elif defined(__aarch64__)
    return {reinterpret_cast<const void*>(machine.pc),
            reinterpret_cast<const void*>(machine.regs[29]),
            reinterpret_cast<const void*>(machine.sp)};
#else
#error "the fault handler needs the register names of this processor"
#endif
}

bool is_stack_overflow(const siginfo_t& info, const FaultContext& context) {
    const auto address = reinterpret_cast<std::uintptr_t>(info.si_addr);
    const auto stack_pointer = reinterpret_cast<std::uintptr_t>(context.stack_pointer);
    return address <= stack_pointer + 256 && address + stack_overflow_reach >= stack_pointer;
}

std::uint16_t floating_point_error(int code) {
    switch (code) {
    case FPE_INTDIV:
    case FPE_FLTDIV:
        return 200;
    case FPE_INTOVF:
        return 215;
    case FPE_FLTOVF:
        return 205;
    case FPE_FLTUND:
        return 206;
    case FPE_FLTINV:
    case FPE_FLTRES:
        return 207;
    case FPE_FLTSUB:
        return 201;
    default:
        return 255;
    }
}

std::uint16_t error_number_of(int signal, const siginfo_t& info, const FaultContext& context) {
    switch (signal) {
    case SIGSEGV:
        return is_stack_overflow(info, context) ? 202 : 216;
    case SIGBUS:
        return 216;
    case SIGILL:
        return info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG ? 218 : 216;
    case SIGFPE:
        return floating_point_error(info.si_code);
    default:
        return 255;
    }
}

void take_default_course(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Delivered again, to the default action, once the handler returns.
    raise(signal);
}

void handle_fault(int signal, siginfo_t* info, void* user_context) {
    // si_code above 0 means the processor raised it; kill, sigqueue and tgkill give 0
    // or less.
    if (info == nullptr || info->si_code <= 0 || is_terminating()) {
        take_default_course(signal);
        return;
    }
    const FaultContext context = context_of(user_context);
    run_time_error_from_fault(error_number_of(signal, *info, context), context.instruction,
                              context.frame, context.stack_pointer);
}

} // namespace

void install_fault_handler() {
    stack_t alternate{};
    alternate.ss_sp = fault_stack;
    alternate.ss_size = fault_stack_size;
    sigaltstack(&alternate, nullptr);

    struct sigaction action {};
    action.sa_sigaction = handle_fault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : fault_signals)
        sigaddset(&action.sa_mask, signal);
    for (const int signal : fault_signals)
        sigaction(signal, &action, nullptr);

    // A write to a pipe whose reader has gone fails with EPIPE and takes the normal
    // error path, instead of ending the process without a word.
    signal(SIGPIPE, SIG_IGN);
}

void remove_fault_handler() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : fault_signals)
        sigaction(signal, &action, nullptr);
}

} // namespace dorvane::os
