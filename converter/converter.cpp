// converter/converter.cpp - the conversion driver: its steps, and nothing else.
// Converter layer.
#include "converter/converter.h"

#include "converter/expand_buffered.h"
#include "converter/split_byte.h"
#include "runtime/arguments.h"
#include "runtime/byte_file.h"
#include "runtime/io_error.h"
#include "runtime/termination.h"
#include "runtime/text_channel.h"

namespace dorvane {

namespace {

ByteFile input_file;
ByteFile output_file;
bool open_failed;
std::uint8_t current_byte;
ShortText name_buffer;

} // namespace

// NOTE: every check_io stands in this function itself, so that the report of a
// failed check names its place here and the one frame of start-up above it.
void run_converter() {
    if (argument_count() != 2) {
        write_text(0, standard_output(), "Usage:");
        check_io();
        end_line(standard_output());
        check_io();
        write_text(0, standard_output(), "dorvane FileToDecompress OutputFile");
        check_io();
        end_line(standard_output());
        check_io();
        end_line(standard_output());
        check_io();
        return;
    }

    argument_text(1, name_buffer);
    assign_name(input_file, name_buffer);
    argument_text(2, name_buffer);
    assign_name(output_file, name_buffer);

    open_failed = false;
    open_mode = 0;
    open_for_reading(input_file, 1);
    if (take_io_error() != 0) {
        open_failed = true;
        write_text(0, standard_output(), "Input file unavailable.");
        end_line(standard_output());
    }
    open_mode = 2;
    create_for_writing(output_file, 1);
    if (take_io_error() != 0) {
        open_failed = true;
        write_text(0, standard_output(), "Can't open output file for writing.");
        end_line(standard_output());
    }
    if (open_failed)
        return;

    for (;;) {
#ifndef DORVANE_PER_BYTE_ONLY
        // What the buffers hold is expanded in one step; the steps below then move
        // the bytes at each block boundary, where the system calls happen.
        expand_buffered(input_file, output_file);
#endif
        const bool input_ended = at_end(input_file);
        check_io();
        if (input_ended)
            break;
        read_byte(input_file, current_byte);
        check_io();
        const SplitByte values = split_byte(current_byte);
        write_byte(output_file, values.high);
        check_io();
        write_byte(output_file, values.low);
        check_io();
    }

    close_file(input_file);
    check_io();
    close_file(output_file);
    check_io();

    write_text(0, standard_output(), "Done.");
    check_io();
    end_line(standard_output());
    check_io();
}

} // namespace dorvane
