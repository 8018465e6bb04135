// converter/converter.h - the conversion driver.
// Converter layer: stands on the run-time layer's public headers only.
#pragma once

namespace dorvane {

/// Checks the command line, opens the packed input and the expanded output, expands
/// every byte into its two 4-bit values, closes both files and reports on standard
/// output. Returns in every case that it handles itself; a failed check ends the
/// process from inside it.
void run_converter();

} // namespace dorvane
