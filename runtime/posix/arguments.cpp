// runtime/posix/arguments.cpp - the argument vector from the process entry.
// Only POSIX code belongs in this folder.
#include "runtime/os.h"

#include <climits>
#include <unistd.h>

namespace dorvane::os {

std::vector<std::string> program_arguments(int argc, char** argv) {
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(argc > 0 ? argc : 1));
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length > 0)
        entries.emplace_back(path, static_cast<std::size_t>(length));
    else
        entries.emplace_back(argc > 0 ? argv[0] : "");
    for (int index = 1; index < argc; ++index)
        entries.emplace_back(argv[index]);
    return entries;
}

} // namespace dorvane::os
