// tests/unit/byte_file_support.h - what the byte-file tests share: records made on the
// heap (each holds a whole block buffer), reading to the end as the converter does, and
// a fixture with a fresh folder and the layer's process-wide settings reset.
// Test code for the run-time layer.
#pragma once

#include "runtime/byte_file.h"
#include "runtime/io_error.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::test {

using Bytes = std::vector<std::uint8_t>;

/// A zero-filled record, as a static record starts: `unbound`.
inline std::unique_ptr<ByteFile> unbound_file() {
    return std::make_unique<ByteFile>();
}

inline std::unique_ptr<ByteFile> file_named(const std::string& name) {
    auto file = unbound_file();
    assign_name(*file, ShortText::from(name));
    return file;
}

inline void write_bytes(ByteFile& file, const Bytes& bytes) {
    for (const std::uint8_t byte : bytes)
        write_byte(file, byte);
}

/// Reads with at_end before every byte, as the converter does, and checks that the end
/// shows exactly after the last byte and that a read there sets 100.
inline Bytes read_to_end(ByteFile& file) {
    Bytes bytes;
    while (!at_end(file)) {
        if (pending_io_error != 0)
            break;
        std::uint8_t byte = 0;
        read_byte(file, byte);
        if (pending_io_error != 0)
            break;
        bytes.push_back(byte);
    }
    EXPECT_EQ(take_io_error(), 0) << "after " << bytes.size() << " bytes";
    std::uint8_t byte = 0x5A;
    read_byte(file, byte);
    EXPECT_EQ(take_io_error(), 100);
    EXPECT_EQ(byte, 0x5A);
    return bytes;
}

/// A fresh folder per test; no pending error and open_mode 2 before and after.
class ByteFileFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder_.path().empty());
        pending_io_error = 0;
        open_mode = 2;
    }
    void TearDown() override {
        pending_io_error = 0;
        open_mode = 2;
    }

    std::string path(std::string_view name) const { return folder_.file(name); }

    TemporaryFolder folder_;
};

} // namespace dorvane::test
