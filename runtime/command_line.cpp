// runtime/command_line.cpp - splitting a command-line text into its arguments.
// Portable.
#include "runtime/command_line.h"

namespace dorvane {

namespace {
bool is_separator(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x01 && value <= 0x20;
}
} // namespace

std::vector<std::string> split_command_line(std::string_view command_line,
                                            std::size_t& token_count) {
    command_line = command_line.substr(0, command_line.find('\0'));
    std::vector<std::string> arguments;
    token_count = 0;
    std::size_t at = 0;
    for (;;) {
        while (at < command_line.size() && is_separator(command_line[at]))
            ++at;
        if (at == command_line.size())
            break;
        std::string token;
        bool quoting = false;
        while (at < command_line.size()) {
            const char byte = command_line[at];
            if (is_separator(byte) && !quoting)
                break;
            ++at;
            if (byte == '"') {
                if (at < command_line.size() && command_line[at] == '"')
                    ++at; // a pair of quotes adds nothing and switches nothing
                else
                    quoting = !quoting;
            } else {
                token += byte;
            }
        }
        if (token_count >= 1)
            arguments.push_back(std::move(token));
        ++token_count;
    }
    return arguments;
}

} // namespace dorvane
