// tests/unit/arguments_test.cpp - the argument vector: the count, the 255-byte cut with
// its mark, the empty text outside the vector, bytes passed unchanged.
// Test code for the run-time layer.
#include "runtime/arguments.h"
#include "runtime/io_error.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using dorvane::ShortText;

/// A destination that already holds something, so that every call must overwrite it.
ShortText used_text() {
    ShortText text = ShortText::from(std::string(300, 'q'));
    return text;
}

class Arguments : public ::testing::Test {
  protected:
    void TearDown() override { dorvane::release_argument_vector(); }
};

TEST_F(Arguments, CountIsEntriesMinusOne) {
    dorvane::set_argument_vector({"/usr/bin/prog"});
    EXPECT_EQ(dorvane::argument_count(), 0);
    dorvane::set_argument_vector({"/usr/bin/prog", "a", ""});
    EXPECT_EQ(dorvane::argument_count(), 2);
    dorvane::release_argument_vector();
    EXPECT_EQ(dorvane::argument_count(), -1);
}

TEST_F(Arguments, EntriesPassUnchanged) {
    const std::string high_bytes = "\x80\xa0\xff name\t\\\"";
    dorvane::set_argument_vector({"/usr/bin/prog", high_bytes, ""});
    ShortText text = used_text();
    dorvane::argument_text(0, text);
    EXPECT_EQ(text.view(), "/usr/bin/prog");
    EXPECT_FALSE(text.overlong);
    dorvane::argument_text(1, text);
    EXPECT_EQ(text.view(), high_bytes);
    text = used_text();
    dorvane::argument_text(2, text);
    EXPECT_EQ(text.length, 0);
    EXPECT_FALSE(text.overlong);
}

TEST_F(Arguments, LongEntriesAreCutAndMarked) {
    const std::string entry_255(255, 'x');
    std::string entry_300;
    for (int i = 0; i < 300; ++i)
        entry_300 += static_cast<char>('a' + i % 26);
    dorvane::set_argument_vector({"prog", entry_255, entry_300});
    ShortText text = used_text();
    dorvane::argument_text(1, text);
    EXPECT_EQ(text.view(), entry_255);
    EXPECT_FALSE(text.overlong);
    dorvane::argument_text(2, text);
    EXPECT_EQ(text.view(), std::string_view(entry_300).substr(0, 255));
    EXPECT_TRUE(text.overlong);
}

TEST_F(Arguments, IndexOutsideTheVectorGivesTheEmptyText) {
    dorvane::set_argument_vector({"prog", "a", "b"});
    for (const std::int32_t index : {-1, 3, 4, INT32_MIN, INT32_MAX}) {
        ShortText text = used_text();
        dorvane::argument_text(index, text);
        EXPECT_EQ(text.length, 0) << index;
        EXPECT_FALSE(text.overlong) << index;
    }
}

TEST_F(Arguments, EmptyVector) {
    dorvane::set_argument_vector({});
    EXPECT_EQ(dorvane::argument_count(), -1);
    ShortText text = used_text();
    dorvane::argument_text(0, text);
    EXPECT_EQ(text.length, 0);
    EXPECT_FALSE(text.overlong);
}

TEST_F(Arguments, NeverTouchesThePendingError) {
    dorvane::set_argument_vector({"prog", "a"});
    ShortText text = used_text();
    dorvane::pending_io_error = 0;
    dorvane::argument_text(5, text);
    dorvane::argument_text(1, text);
    EXPECT_EQ(dorvane::pending_io_error, 0);
    dorvane::pending_io_error = 103;
    dorvane::argument_text(1, text);
    EXPECT_EQ(text.view(), "a"); // a pending error does not stop it either
    EXPECT_EQ(dorvane::take_io_error(), 103);
}

} // namespace
