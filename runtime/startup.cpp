// runtime/startup.cpp - the process entry: the steps of start-up, then run_converter.
// Portable; the platform's part comes through the back-end interface.
#include "converter/converter.h"
#include "runtime/arguments.h"
#include "runtime/handle_io.h"
#include "runtime/io_error.h"
#include "runtime/os.h"
#include "runtime/termination.h"
#include "runtime/text_channel.h"

#include <new>

namespace {

// The storage of the run-time layer is the argument vector and the copies that
// building it makes: when memory runs out, that is run-time error 203.
[[gnu::noinline]] void report_storage_exhausted() {
    dorvane::run_time_error(203, __builtin_return_address(0),
                            *static_cast<const void* const*>(__builtin_frame_address(0)));
}

} // namespace

int main(int argc, char** argv) {
    using namespace dorvane;
    os::install_fault_handler();
    std::set_new_handler(report_storage_exhausted);
    init_file_layer();
    open_channel(standard_output(), standard_output_handle());
    open_channel(standard_error(), standard_error_handle());
    set_stack_top(__builtin_frame_address(0));
    set_argument_vector(os::program_arguments(argc, argv));
    pending_io_error = 0;
    run_converter();
    end_program();
}
