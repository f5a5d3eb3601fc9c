// The frame server on a generated 1080p H.264 file like a camera's or a broadcast's (three
// B-frames, a 250-frame group of pictures, film grain, about 3 Mbit/s): the time
// from a request to the delivered picture for 100 random frames, against ffmpeg's own accurate
// seek to the same frames (-ss before -i, one frame decoded); the longest request() call (the
// GUI thread's share); and the time to index a two-hour file.

#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/MillisecondTime.h"
#include "preview/FrameServer.h"
#include "preview/LibavFrameDecoder.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Clock;
using benchsupport::Folder;
using benchsupport::median;
using benchsupport::seconds;

namespace {

double percentile95(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * 95 / 100)];
}

double processCPUSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool make(FoundationProcessRunner& runner, const fs::path& ffmpeg,
          std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-nostdin", "-hide_banner", "-loglevel", "error"});
    const auto result = runner.run(ffmpeg, arguments);
    if (result.terminationStatus != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", result.standardError.c_str());
    }
    return result.terminationStatus == 0;
}

}  // namespace

// Usage: bench_frame_server [clip made as below, to skip making it] [--no-index]
int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool indexLongFile =
        std::find(arguments.begin(), arguments.end(), "--no-index") == arguments.end();
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations::standard(nullptr));
    Folder folder;
    FoundationProcessRunner runner;
    fs::path clip = folder.path / "hd.mp4";
    if (!arguments.empty() && arguments[0] != "--no-index") {
        clip = arguments[0];
    } else {
        std::printf(
            "generating a 40 s 1080p H.264 file (3 B-frames, GOP 250, grain, 3 Mbit/s)...\n");
        if (!make(runner, tools.ffmpeg,
                  {"-f",
                   "lavfi",
                   "-i",
                   "testsrc2=size=1920x1080:rate=25:duration=40",
                   "-vf",
                   "noise=alls=10:allf=t",
                   "-c:v",
                   "libx264",
                   "-preset",
                   "veryfast",
                   "-bf",
                   "3",
                   "-g",
                   "250",
                   "-keyint_min",
                   "250",
                   "-sc_threshold",
                   "0",
                   "-b:v",
                   "3M",
                   "-maxrate",
                   "3M",
                   "-bufsize",
                   "6M",
                   "-pix_fmt",
                   "yuv420p",
                   clip.string()})) {
            return 1;
        }
    }
    std::printf("file: %.1f Mbit/s\n", fs::file_size(clip) * 8 / 40.0 / 1e6);

    std::mutex mutex;
    std::condition_variable delivered;
    std::size_t lastIndex = SIZE_MAX;
    FrameServer server(std::make_shared<LibavFrameDecoder>(clip), [&](VideoFrame frame) {
        std::lock_guard lock(mutex);
        lastIndex = frame.index;
        delivered.notify_all();
    });
    const std::size_t count = server.index().count();
    std::mt19937 random(42);
    std::vector<std::size_t> frames;
    for (int i = 0; i < 100; ++i) {
        frames.push_back(random() % count);
    }

    // Processor time of the whole process (all decoding threads): what a loaded machine does not
    // change.
    const double cpuStart = processCPUSeconds();
    std::vector<double> served;
    double longestRequest = 0;
    for (std::size_t frame : frames) {
        {
            std::lock_guard lock(mutex);
            lastIndex = SIZE_MAX;
        }
        const auto start = Clock::now();
        server.request(frame);
        longestRequest = std::max(longestRequest, seconds(Clock::now() - start));
        std::unique_lock lock(mutex);
        delivered.wait(lock, [&] { return lastIndex == frame; });
        served.push_back(seconds(Clock::now() - start));
    }

    const double cpuPerRequest = (processCPUSeconds() - cpuStart) / frames.size();
    std::vector<double> tool;
    for (std::size_t frame : frames) {
        const double time = server.index().time(frame);
        const auto start = Clock::now();
        runner.run(tools.ffmpeg, {"-nostdin", "-hide_banner", "-loglevel", "error", "-ss",
                                  formatCommandLineSeconds(time), "-i", clip.string(), "-frames:v",
                                  "1", "-f", "rawvideo", "-pix_fmt", "bgra", "-y", "/dev/null"});
        tool.push_back(seconds(Clock::now() - start));
    }
    std::printf("frame server, request to picture: median %.1f ms, p95 %.1f ms\n",
                median(served) * 1000, percentile95(served) * 1000);
    std::printf("ffmpeg -ss <t> -i file -frames:v 1: median %.1f ms, p95 %.1f ms\n",
                median(tool) * 1000, percentile95(tool) * 1000);
    std::printf("ratio of medians: %.2f\n", median(served) / median(tool));
    std::printf("frame server processor time per request (all threads): %.1f ms\n",
                cpuPerRequest * 1000);
    std::printf("longest request() call: %.3f ms\n", longestRequest * 1000);

    if (!indexLongFile) {
        return 0;
    }
    const fs::path longFile = folder.path / "two-hours.mp4";
    std::printf("generating a two-hour 320x180 H.264 file (GOP 250)...\n");
    if (!make(runner, tools.ffmpeg,
              {"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=7200", "-c:v",
               "libx264", "-preset", "ultrafast", "-crf", "35", "-g", "250", longFile.string()})) {
        return 1;
    }
    const auto indexStart = Clock::now();
    LibavFrameDecoder decoder(longFile);
    std::printf("index of a two-hour file (%zu frames, %.0f MB): %.2f s\n", decoder.index().count(),
                fs::file_size(longFile) / 1e6, seconds(Clock::now() - indexStart));
    return 0;
}
