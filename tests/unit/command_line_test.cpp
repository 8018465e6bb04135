// tests/unit/command_line_test.cpp - splitting a command-line text into arguments:
// separators, quotes and doubled quotes, the backslash, high bytes, the zero byte.
// Test code for the run-time layer.
#include "runtime/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_literals;

struct SplitCase {
    const char* what;
    std::string command_line;
    std::vector<std::string> arguments;
    std::size_t token_count;
};

TEST(SplitCommandLine, Cases) {
    const SplitCase cases[] = {
        {"only the program name", "prog", {}, 1},
        {"empty text", "", {}, 0},
        {"separators only", " \t\r\n\x01 ", {}, 0},
        {"two plain arguments", "prog a b", {"a", "b"}, 3},
        {"runs of separators count as one", "  prog \t\x01\x1f\x20 a\r\n\x0b b  \t", {"a", "b"}, 3},
        {"0x21 and 0x7F are not separators",
         "prog !a\x7f"
         "b",
         {"!a\x7f"
          "b"},
         2},
        {"a lone pair of quotes is an empty argument", "prog \"\" b", {"", "b"}, 3},
        {"an empty argument at the end", "prog a \"\"", {"a", ""}, 3},
        {"quoting inside a token", "prog a\"b c\"d", {"ab cd"}, 2},
        {"a pair of quotes adds nothing", "prog a\"\"b", {"ab"}, 2},
        {"a pair of quotes inside quoting does not switch",
         "prog \"a\"\"b c\" d",
         {"ab c", "d"},
         3},
        {"three quotes: a pair, then quoting on", "prog \"\"\"a b", {"a b"}, 2},
        {"four quotes: two pairs, an empty argument", "prog \"\"\"\" x", {"", "x"}, 3},
        {"control bytes inside quotes are kept", "prog \"a\tb\x01\"", {"a\tb\x01"}, 2},
        {"backslash is ordinary", "prog a\\b c\\\\", {"a\\b", "c\\\\"}, 3},
        {"backslash before a quote: the quote still switches",
         "prog a\\\"b c\" d",
         {"a\\b c", "d"},
         3},
        {"an unclosed quote takes the rest, blanks included",
         "prog a \"b  c \t",
         {"a", "b  c \t"},
         3},
        {"the program name is read by the same rules", "\"C:\\My Tools\\prog.exe\" x", {"x"}, 2},
        {"high bytes pass unchanged", "prog \x80\xff \xe9t\xe9", {"\x80\xff", "\xe9t\xe9"}, 3},
        {"the text ends at its first zero byte", "prog a\0b c"s, {"a"}, 2},
        {"a zero byte inside quotes still ends it", "prog \"a b\0c\""s, {"a b"}, 2},
    };
    for (const SplitCase& split : cases) {
        std::size_t token_count = 12345;
        const std::vector<std::string> arguments =
            dorvane::split_command_line(split.command_line, token_count);
        EXPECT_EQ(arguments, split.arguments) << split.what;
        EXPECT_EQ(token_count, split.token_count) << split.what;
    }
}

} // namespace
