// tests/unit/test_environment.cpp - readies the run-time layer once for every unit test.
// The test program has no start-up of its own: this takes the standard handles as
// start-up would, and lets a write to a pipe without a reader fail instead of killing.
// Test code for the run-time layer.
#include "runtime/handle_io.h"
#include "runtime/io_error.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

class FileLayerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        dorvane::init_file_layer();
        dorvane::pending_io_error = 0;
    }
};

[[maybe_unused]] const auto* const file_layer_environment =
    ::testing::AddGlobalTestEnvironment(new FileLayerEnvironment);

} // namespace
