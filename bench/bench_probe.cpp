// Inspects 200 small files through FFprobeService with one worker per core, and runs the same
// ffprobe commands with the same parallelism through xargs -P, for comparison. Prints both.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "probe/FFprobeCommandBuilder.h"
#include "probe/FFprobeService.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Clock;
using benchsupport::Folder;
using benchsupport::median;
using benchsupport::seconds;

namespace {

constexpr int kFiles = 200;
constexpr int kRounds = 5;

}  // namespace

int main() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations::standard(nullptr));
    Folder folder;
    FoundationProcessRunner runner;

    const fs::path clip = folder.path / "clip.mp4";
    auto made = runner.run(tools.ffmpeg, {"-nostdin", "-hide_banner", "-loglevel", "error", "-f",
                                          "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=2",
                                          "-f", "lavfi", "-i", "sine=duration=2", "-c:v", "libx264",
                                          "-preset", "ultrafast", "-c:a", "aac", clip.string()});
    if (made.terminationStatus != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", made.standardError.c_str());
        return 1;
    }
    std::vector<fs::path> files;
    const fs::path list = folder.path / "files.list";
    {
        std::ofstream out(list, std::ios::binary);
        for (int i = 0; i < kFiles; ++i) {
            files.push_back(folder.path / ("clip " + std::to_string(i) + ".mp4"));
            fs::copy_file(clip, files.back());
            out << files.back().native() << '\0';
        }
    }

    FFprobeService service(std::make_shared<FoundationProcessRunner>(),
                           ToolLocations::standard(nullptr));
    auto throughService = [&] {
        std::atomic<int> next{0};
        std::atomic<int> failures{0};
        std::vector<std::jthread> workers;
        const auto begin = Clock::now();
        for (unsigned w = 0; w < cores; ++w) {
            workers.emplace_back([&] {
                for (int i; (i = next++) < kFiles;) {
                    try {
                        if (service.inspectStreams(files[static_cast<std::size_t>(i)]).size() !=
                            2) {
                            ++failures;
                        }
                    } catch (const std::exception&) {
                        ++failures;
                    }
                }
            });
        }
        workers.clear();
        const double elapsed = seconds(Clock::now() - begin);
        if (failures != 0) {
            std::fprintf(stderr, "%d inspections failed\n", failures.load());
        }
        return elapsed;
    };

    // The same argument list, the file's path appended by xargs.
    std::vector<std::string> xargs{"-0", "-a", list.string(),         "-P", std::to_string(cores),
                                   "-n", "1",  tools.ffprobe.string()};
    auto arguments = FFprobeCommandBuilder{}.streamArguments(files[0]);
    xargs.insert(xargs.end(), arguments.begin(), arguments.end() - 1);
    auto throughXargs = [&] {
        const auto begin = Clock::now();
        auto result = runner.run("/usr/bin/xargs", xargs);
        const double elapsed = seconds(Clock::now() - begin);
        if (result.terminationStatus != 0) {
            std::fprintf(stderr, "xargs failed: %s\n", result.standardError.c_str());
        }
        return elapsed;
    };

    throughService();  // warm the page cache and the dynamic loader
    throughXargs();
    std::vector<double> serviceTimes;
    std::vector<double> xargsTimes;
    for (int round = 0; round < kRounds; ++round) {
        serviceTimes.push_back(throughService());
        xargsTimes.push_back(throughXargs());
    }
    std::printf("inspectStreams of %d files, %u at a time, %d rounds (median / best):\n", kFiles,
                cores, kRounds);
    std::printf("  FFprobeService: %.3f s / %.3f s  (%.2f ms per file)\n", median(serviceTimes),
                *std::min_element(serviceTimes.begin(), serviceTimes.end()),
                1000 * median(serviceTimes) / kFiles);
    std::printf("  xargs -P %u:     %.3f s / %.3f s  (%.2f ms per file)\n", cores,
                median(xargsTimes), *std::min_element(xargsTimes.begin(), xargsTimes.end()),
                1000 * median(xargsTimes) / kFiles);
    return 0;
}
