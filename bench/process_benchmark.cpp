// bench/process_benchmark.cpp - the whole converter process against cp of its output.
// Makes the inputs, checks each output against an independent expansion, runs dorvane
// and cp interleaved and prints medians, MB/s, their ratio and dorvane's peak memory.
// It only prints figures; it never fails on one.
//
//   dorvane_process_benchmark [work-folder] [input-MiB] [pairs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct RunResult {
    double seconds;
    long peak_kib;
    int status;
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "process_benchmark: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(2);
}

/// Runs `arguments` with standard input and output on the given descriptors (-1 keeps
/// the benchmark's own) and returns the wall time and the child's peak resident size.
RunResult run(const std::vector<std::string>& arguments, int input = -1, int output = -1) {
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    // NOTE: forked, not spawned with a shared address space: the child's peak would
    // then start from this process's own peak.
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
        fail("fork");
    if (child == 0) {
        if (input >= 0)
            dup2(input, 0);
        if (output >= 0)
            dup2(output, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) < 0)
        fail("wait4");
    const auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss, status};
}

/// The wall time of `cat source | middle | cat > sink`.
double run_piped(const std::vector<std::string>& middle, const std::string& source, int sink) {
    int to_middle[2], from_middle[2];
    if (pipe(to_middle) != 0 || pipe(from_middle) != 0)
        fail("pipe");
    const auto close_all = [&] {
        close(to_middle[0]), close(to_middle[1]);
        close(from_middle[0]), close(from_middle[1]);
    };
    const auto start = std::chrono::steady_clock::now();
    const pid_t feeder = fork();
    if (feeder == 0) {
        dup2(to_middle[1], 1);
        close_all();
        execlp("cat", "cat", source.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const pid_t drain = fork();
    if (drain == 0) {
        dup2(from_middle[0], 0);
        dup2(sink, 1);
        close_all();
        execlp("cat", "cat", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_middle[1]);
    close(from_middle[0]);
    run(middle, to_middle[0], from_middle[1]);
    close(to_middle[0]);
    close(from_middle[1]);
    waitpid(feeder, nullptr, 0);
    waitpid(drain, nullptr, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void make_input(const std::string& path, std::size_t bytes) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (descriptor < 0)
        fail("create " + path);
    std::vector<std::uint8_t> block(64 << 10);
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ bytes;
    for (std::size_t done = 0; done < bytes;) {
        for (auto& byte : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<std::uint8_t>(state >> 32);
        }
        const std::size_t count = std::min(block.size(), bytes - done);
        if (write(descriptor, block.data(), count) != static_cast<ssize_t>(count))
            fail("write " + path);
        done += count;
    }
    close(descriptor);
}

/// Compares the output with an expansion written here, byte by byte, from the input.
bool output_is_correct(const std::string& input_path, const std::string& output_path) {
    FILE* input = std::fopen(input_path.c_str(), "rb");
    FILE* output = std::fopen(output_path.c_str(), "rb");
    bool correct = input != nullptr && output != nullptr;
    std::vector<unsigned char> packed(1 << 20), expanded(2 << 20);
    while (correct) {
        const std::size_t count = std::fread(packed.data(), 1, packed.size(), input);
        const std::size_t got = std::fread(expanded.data(), 1, 2 * count, output);
        if (got != 2 * count)
            correct = false;
        for (std::size_t i = 0; correct && i < count; ++i)
            correct = expanded[2 * i] == packed[i] / 16 && expanded[2 * i + 1] == packed[i] % 16;
        if (count == 0) {
            correct = correct && std::fgetc(output) == EOF;
            break;
        }
    }
    if (input != nullptr)
        std::fclose(input);
    if (output != nullptr)
        std::fclose(output);
    return correct;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

/// The peak resident size of one conversion of an input of `mib` MiB.
long peak_kib_for(const std::string& folder, std::size_t mib) {
    const std::string input = folder + "/peak-in.bin";
    const std::string output = folder + "/peak-out.bin";
    make_input(input, mib << 20);
    const int null_output = open("/dev/null", O_WRONLY);
    const RunResult result = run({DORVANE_PROGRAM, input, output}, -1, null_output);
    close(null_output);
    const bool correct = output_is_correct(input, output);
    unlink(input.c_str());
    unlink(output.c_str());
    if (!correct)
        std::printf("WARNING: the %zu MiB output is wrong\n", mib);
    return result.peak_kib;
}

} // namespace

int main(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const std::string folder = argc > 1 ? argv[1] : "bench-work";
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const int pairs = argc > 3 ? std::atoi(argv[3]) : 7;
    mkdir(folder.c_str(), 0755);

    // Large buffers go back to the system when freed, so that this process stays
    // small. First, while it is small: a spawned child's peak counts the pages of
    // its parent until it starts the converter.
    const long small_peak_kib = peak_kib_for(folder, 1);
    const long large_peak_kib = peak_kib_for(folder, 1024);

    const std::string input = folder + "/in.bin";
    const std::string output = folder + "/out.bin";
    const std::string copy = folder + "/copy.bin";
    const std::string reference = folder + "/reference.bin";
    make_input(input, mib << 20);

    const int null_output = open("/dev/null", O_WRONLY);
    const auto convert = [&] {
        unlink(output.c_str());
        return run({DORVANE_PROGRAM, input, output}, -1, null_output);
    };
    const auto copy_output = [&] {
        unlink(copy.c_str());
        return run({"cp", reference, copy});
    };

    // The warm-up also makes the file that cp copies: the 2n bytes dorvane writes.
    convert();
    if (!output_is_correct(input, output)) {
        std::printf("the output is wrong: no figures\n");
        return 1;
    }
    rename(output.c_str(), reference.c_str());
    copy_output();

    std::vector<double> converter_seconds, copy_seconds;
    for (int pair = 0; pair < pairs; ++pair) {
        converter_seconds.push_back(convert().seconds);
        copy_seconds.push_back(copy_output().seconds);
    }

    // The empty names: standard input and output, redirected files and then pipes.
    std::vector<double> redirected_seconds, piped_seconds, pipe_floor_seconds;
    for (int pair = 0; pair < std::max(3, pairs / 2); ++pair) {
        unlink(output.c_str());
        const int in = open(input.c_str(), O_RDONLY);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        redirected_seconds.push_back(run({DORVANE_PROGRAM, "", ""}, in, out).seconds);
        close(in);
        close(out);

        piped_seconds.push_back(run_piped({DORVANE_PROGRAM, "", ""}, input, null_output));
        pipe_floor_seconds.push_back(run_piped({"cat"}, reference, null_output));
    }
    close(null_output);

    const double converter = median(converter_seconds);
    const double copied = median(copy_seconds);
    const double output_mb = 2.0 * static_cast<double>(mib << 20) / 1e6;
    std::printf("input %zu MiB, output %zu MiB, %d interleaved pairs after a warm-up\n", mib,
                2 * mib, pairs);
    std::printf("dorvane in.bin out.bin  median %.3f s  %.0f MB/s written\n", converter,
                output_mb / converter);
    std::printf("cp of the output        median %.3f s  %.0f MB/s written\n", copied,
                output_mb / copied);
    std::printf("ratio dorvane / cp      %.2f\n", converter / copied);
    std::printf("dorvane \"\" \"\" <in >out   median %.3f s\n", median(redirected_seconds));
    std::printf("cat | dorvane \"\" \"\" | cat median %.3f s\n", median(piped_seconds));
    std::printf("cat | cat | cat of output median %.3f s (what the pipes alone cost)\n",
                median(pipe_floor_seconds));
    std::printf("peak resident memory    1 MiB input %ld KiB, 1 GiB input %ld KiB\n",
                small_peak_kib, large_peak_kib);
    for (const auto& path : {input, output, copy, reference})
        unlink(path.c_str());
    return 0;
}
