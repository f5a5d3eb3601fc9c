// Throughput and start-up cost of the process runner, against a shell pipeline doing the same.
// Usage: bench_process_runner [bytes] [runs]

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/resource.h>

#include "process/FoundationProcessRunner.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

long peakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : (1ULL << 30);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 500;
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    const std::string produce = "head -c " + std::to_string(bytes) + " /dev/zero";

    tavrolin::FoundationProcessRunner runner;

    {
        const auto start = Clock::now();
        const int status = std::system((produce + " | cat > /dev/null").c_str());
        const double seconds = secondsSince(start);
        std::printf("shell pipe to cat > /dev/null: %.0f MiB in %.3f s = %.0f MiB/s (status %d)\n",
                    mib, seconds, mib / seconds, status);
    }
    {
        std::uint64_t seen = 0;
        std::uint64_t chunks = 0;
        const auto start = Clock::now();
        const auto result = runner.run("/bin/sh", {"-c", produce}, [&](std::string_view chunk) {
            seen += chunk.size();
            ++chunks;
        });
        const double seconds = secondsSince(start);
        std::printf(
            "runner with output handler: %.0f MiB in %.3f s = %.0f MiB/s, %llu chunks, kept %zu "
            "bytes (status %d)\n",
            mib, seconds, mib / seconds, static_cast<unsigned long long>(chunks),
            result.standardOutput.size(), result.terminationStatus);
        if (seen != bytes || result.standardOutput.size() != bytes) {
            std::printf("MISMATCH: handler saw %llu bytes\n",
                        static_cast<unsigned long long>(seen));
            return 1;
        }
    }
    {
        const auto start = Clock::now();
        const auto result = runner.run("/bin/sh", {"-c", produce});
        const double seconds = secondsSince(start);
        std::printf("runner without handler: %.0f MiB in %.3f s = %.0f MiB/s (status %d)\n", mib,
                    seconds, mib / seconds, result.terminationStatus);
    }
    std::printf("peak resident memory: %ld MiB\n", peakResidentMiB());

    {
        const auto start = Clock::now();
        for (int i = 0; i < runs; ++i) {
            runner.run("/bin/true", {});
        }
        const double seconds = secondsSince(start);
        std::printf("runner: %d runs of /bin/true in %.3f s = %.3f ms per run\n", runs, seconds,
                    seconds * 1000.0 / runs);
    }
    {
        const auto start = Clock::now();
        for (int i = 0; i < runs; ++i) {
            [[maybe_unused]] const int status = std::system("/bin/true");
        }
        const double seconds = secondsSince(start);
        std::printf("system(): %d runs of /bin/true in %.3f s = %.3f ms per run\n", runs, seconds,
                    seconds * 1000.0 / runs);
    }
    return 0;
}
