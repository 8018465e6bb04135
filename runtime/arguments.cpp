// runtime/arguments.cpp - the program's argument vector.
// Portable.
#include "runtime/arguments.h"

#include <utility>

namespace dorvane {

namespace {
std::vector<std::string> argument_vector;
}

void set_argument_vector(std::vector<std::string> entries) {
    argument_vector = std::move(entries);
}

void release_argument_vector() {
    argument_vector.clear();
    argument_vector.shrink_to_fit();
}

std::int32_t argument_count() {
    return static_cast<std::int32_t>(argument_vector.size()) - 1;
}

void argument_text(std::int32_t index, ShortText& destination) {
    if (index < 0 || static_cast<std::size_t>(index) >= argument_vector.size()) {
        destination.assign({});
        return;
    }
    destination.assign(argument_vector[static_cast<std::size_t>(index)]);
}

} // namespace dorvane
