// tests/unit/test_support.h - what the unit tests share: a fresh temporary folder,
// whole-file reads and writes, standard handles redirected for the length of a test
// and a packet socket that keeps every write apart. Test code for the run-time layer.
#pragma once

#include "runtime/io_error.h"
#include "runtime/text_channel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace dorvane::test {

/// A folder made with mkdtemp for one test, removed with all it holds at the end.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        char pattern[] = "/tmp/dorvane-unit-XXXXXX";
        if (mkdtemp(pattern) != nullptr)
            path_ = pattern;
    }
    ~TemporaryFolder() {
        if (path_.empty())
            return;
        // Deepest first; symbolic links are removed, never followed.
        ::nftw(
            path_.c_str(),
            [](const char* entry, const struct stat*, int, struct FTW*) { return ::remove(entry); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  private:
    std::string path_;
};

inline std::vector<std::uint8_t> bytes_of(std::string_view text) {
    return {text.begin(), text.end()};
}

/// A deterministic byte pattern that does not repeat within a block, so that a byte
/// delivered from the wrong place shows.
inline std::vector<std::uint8_t> pattern_bytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

inline void write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0) << path;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t result = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(result, 0);
        done += static_cast<std::size_t>(result);
    }
    ::close(descriptor);
}

inline void write_whole_file(const std::string& path, std::string_view text) {
    write_whole_file(path, bytes_of(text));
}

inline std::vector<std::uint8_t> read_whole_file(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    const int descriptor = ::open(path.c_str(), O_RDONLY);
    if (descriptor < 0)
        return bytes;
    std::uint8_t block[65536];
    for (;;) {
        const ssize_t result = ::read(descriptor, block, sizeof block);
        if (result <= 0)
            break;
        bytes.insert(bytes.end(), block, block + result);
    }
    ::close(descriptor);
    return bytes;
}

inline bool path_exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

inline bool descriptor_is_open(int descriptor) {
    return ::fcntl(descriptor, F_GETFD) != -1;
}

/// Puts `replacement` on standard descriptor `target` until destroyed, then gives the
/// original back. Test output written meanwhile would land in the replacement, so
/// expectations are best checked after the redirection ends.
class Redirection {
  public:
    Redirection(int target, int replacement) : target_(target) {
        std::fflush(nullptr);
        saved_ = ::dup(target);
        ::dup2(replacement, target);
    }
    ~Redirection() { restore(); }
    Redirection(const Redirection&) = delete;
    Redirection& operator=(const Redirection&) = delete;

    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(nullptr);
        ::dup2(saved_, target_);
        ::close(saved_);
        saved_ = -1;
    }

  private:
    int target_;
    int saved_ = -1;
};

/// A connected pair of packet sockets: every write on `writer` arrives at `reader` as
/// one record, so the records received are exactly the writes made.
class PacketPair {
  public:
    PacketPair() {
        int ends[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0) {
            reader = ends[0];
            writer = ends[1];
        }
    }
    ~PacketPair() {
        if (reader >= 0)
            ::close(reader);
        if (writer >= 0)
            ::close(writer);
    }
    PacketPair(const PacketPair&) = delete;
    PacketPair& operator=(const PacketPair&) = delete;

    /// Every record that has arrived so far, in order.
    std::vector<std::string> records() const {
        std::vector<std::string> received;
        char record[65536];
        for (;;) {
            const ssize_t length = ::recv(reader, record, sizeof record, MSG_DONTWAIT);
            if (length < 0)
                break;
            received.emplace_back(record, static_cast<std::size_t>(length));
        }
        return received;
    }

    int reader = -1;
    int writer = -1;
};

/// A channel on a packet socket that writes out at each line end, as a channel on a
/// standard handle does: every record received is one write-out.
class PacketChannelFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(sockets_.writer, 0);
        pending_io_error = 0;
        open_channel(channel_, sockets_.writer);
        channel_.flushes_at_line_end = true;
    }
    void TearDown() override { pending_io_error = 0; }

    PacketPair sockets_;
    TextChannel channel_{};
};

} // namespace dorvane::test
