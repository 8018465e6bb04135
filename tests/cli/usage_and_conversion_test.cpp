// tests/cli/usage_and_conversion_test.cpp - the usage text and the expansion of files.
// Command-line test layer: runs the built dorvane in a scratch folder.
#include "tests/cli/cli_fixture.h"

#include <algorithm>

namespace dorvane::cli_test {
namespace {

class UsageTest : public ScratchTest,
                  public testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(UsageTest, PrintsThreeLinesAndTouchesNoFile) {
    write_file("in.bin", "\x12\x34");

    const Outcome outcome = run_dorvane(GetParam());

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, usage_records);
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(entries(), std::vector<std::string>{"in.bin"});
    EXPECT_EQ(read_file("in.bin"), "\x12\x34");
}

INSTANTIATE_TEST_SUITE_P(WrongArgumentCount, UsageTest,
                         testing::Values(std::vector<std::string>{},
                                         std::vector<std::string>{"in.bin"},
                                         std::vector<std::string>{"in.bin", "out.bin", "extra"},
                                         std::vector<std::string>{"", "", ""}));

struct KnownExpansion {
    const char* label;
    std::string packed;
    std::string expanded;
};

std::string every_byte_value() {
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

class KnownExpansionTest : public ScratchTest,
                           public testing::WithParamInterface<KnownExpansion> {};

TEST_P(KnownExpansionTest, WritesBothHalvesHighFirst) {
    write_file("in.bin", GetParam().packed);
    // A longer file of the output's name must be emptied, not overwritten in place.
    write_file("out.bin", std::string(1000, 'x'));

    const Outcome outcome = run_dorvane({"in.bin", "out.bin"});

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
    EXPECT_EQ(read_file("out.bin"), GetParam().expanded);
    EXPECT_EQ(read_file("in.bin"), GetParam().packed);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, KnownExpansionTest,
    testing::Values(KnownExpansion{"empty", "", ""},
                    KnownExpansion{"x12_x34", "\x12\x34", std::string("\x01\x02\x03\x04", 4)},
                    KnownExpansion{"x00", std::string(1, '\0'), std::string(2, '\0')},
                    KnownExpansion{"xFF", "\xFF", "\x0F\x0F"},
                    KnownExpansion{"xA3", "\xA3", "\x0A\x03"},
                    KnownExpansion{"every_value", every_byte_value(),
                                   expanded(every_byte_value())}),
    [](const testing::TestParamInfo<KnownExpansion>& param_info) {
        return param_info.param.label;
    });

class RandomExpansionTest : public ScratchTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(RandomExpansionTest, MatchesAnIndependentExpansion) {
    const std::size_t size = GetParam();
    const std::string packed = random_bytes(size, 0x5eed0000 + size);
    write_file("in.bin", packed);

    const Outcome outcome = run_dorvane({"in.bin", "out.bin"});

    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.output_records, std::vector<std::string>{done_line});
    EXPECT_TRUE(outcome.error_records.empty());
    const std::string output = read_file("out.bin");
    ASSERT_EQ(output.size(), 2 * size);
    EXPECT_TRUE(std::all_of(output.begin(), output.end(),
                            [](char byte) { return static_cast<unsigned char>(byte) <= 15; }));
    EXPECT_TRUE(output == expanded(packed)) << "the output differs from the expansion";
}

INSTANTIATE_TEST_SUITE_P(Sizes, RandomExpansionTest,
                         testing::Values(1, 15, 16, 17, block_size / 2, block_size / 2 + 1,
                                         block_size - 1, block_size, block_size + 1,
                                         3 * 1024 * 1024 + 5));

} // namespace
} // namespace dorvane::cli_test
