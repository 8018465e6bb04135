// runtime/command_line.h - splitting a command-line text into its arguments.
// Portable: the Windows start-up uses it on the text that the system hands over.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

/// Splits `command_line` (up to its first zero byte) into tokens. Bytes 0x01 to 0x20
/// separate tokens outside quotes; a double quote switches quoting; two adjacent
/// double quotes add nothing and switch nothing; the backslash is an ordinary byte.
/// Token 0, the program name as written, is dropped: the result holds the arguments
/// only, each even when empty. `token_count` receives the number of tokens read,
/// the program name included.
std::vector<std::string> split_command_line(std::string_view command_line,
                                            std::size_t& token_count);

} // namespace dorvane
