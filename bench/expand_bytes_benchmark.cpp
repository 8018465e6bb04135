// bench/expand_bytes_benchmark.cpp - the expansion step alone, over a buffer in memory.
// Compares the block expansion with a loop of split_byte, one byte at a time.
#include "converter/expand_bytes.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<std::uint8_t> packed_input(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return bytes;
}

void block_expansion(benchmark::State& state) {
    const auto input = packed_input(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> output(2 * input.size());
    for (auto _ : state) {
        dorvane::expand_bytes(input, output.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void split_byte_loop(benchmark::State& state) {
    const auto input = packed_input(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> output(2 * input.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < input.size(); ++i) {
            const dorvane::SplitByte values = dorvane::split_byte(input[i]);
            output[2 * i] = values.high;
            output[2 * i + 1] = values.low;
            benchmark::ClobberMemory(); // one byte at a time, as the per-byte loop goes
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

} // namespace

// 64 KiB is what one output block of the file layer takes; 64 MiB is past every cache.
BENCHMARK(block_expansion)->Arg(64 << 10)->Arg(64 << 20);
BENCHMARK(split_byte_loop)->Arg(64 << 10);
