// Remuxes a generated Matroska file of at least 400 MB to MP4 through FFmpegProcessor, and runs
// the same ffmpeg command directly, alternating, and prints the median ratio processor/direct.
// Everything is made in a private folder under $TMPDIR and removed at the end.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegProcessor.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Clock;
using benchsupport::Folder;
using benchsupport::median;
using benchsupport::seconds;

namespace {

constexpr int kRounds = 7;
constexpr std::uintmax_t kMinimumBytes = 400ull * 1024 * 1024;

// Runs a program with standard input and output on /dev/null; returns its exit status.
int spawn(const fs::path& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations{});
    Folder folder;

    // One 20 s high-bitrate segment, then copies of it concatenated by stream copy.
    const fs::path segment = folder.path / "segment.mkv";
    if (spawn(tools.ffmpeg,
              {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=20",
               "-f", "lavfi", "-i", "sine=frequency=440:duration=20", "-c:v", "mpeg4", "-q:v", "1",
               "-c:a", "aac", segment.string()}) != 0) {
        std::fprintf(stderr, "could not generate the segment\n");
        return 1;
    }
    const auto segmentBytes = fs::file_size(segment);
    const std::uintmax_t copies = kMinimumBytes / segmentBytes + 1;
    {
        std::ofstream list(folder.path / "list.txt");
        for (std::uintmax_t i = 0; i < copies; ++i) {
            list << "file '" << segment.string() << "'\n";
        }
    }
    const fs::path source = folder.path / "source.mkv";
    if (spawn(tools.ffmpeg, {"-v", "error", "-f", "concat", "-safe", "0", "-i",
                             (folder.path / "list.txt").string(), "-c", "copy", source.string()}) !=
        0) {
        std::fprintf(stderr, "could not generate the source\n");
        return 1;
    }
    fs::remove(segment);
    std::printf("source: %.1f MB\n", static_cast<double>(fs::file_size(source)) / 1048576.0);

    MediaStream video;
    video.index = 0;
    video.kind = MediaStreamKind::video;
    MediaStream audio;
    audio.index = 1;
    audio.kind = MediaStreamKind::audio;
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    const fs::path output = folder.path / "output.mp4";
    const RemuxRequest request{source, output, {video, audio}, {}, {}};
    const auto directArguments = FFmpegCommandBuilder().remuxArguments(request, output);

    // One unmeasured run of each warms the page cache.
    processor.process(request, {}, {});
    fs::remove(output);
    spawn(tools.ffmpeg, directArguments);
    fs::remove(output);

    std::vector<double> ratios;
    std::vector<double> processorTimes;
    std::vector<double> directTimes;
    for (int round = 0; round < kRounds; ++round) {
        double viaProcessor = 0;
        double direct = 0;
        for (int order = 0; order < 2; ++order) {
            // Alternate which one goes first.
            const bool processorTurn = (order == 0) == (round % 2 == 0);
            const auto start = Clock::now();
            if (processorTurn) {
                processor.process(request, [](double) {}, {});
                viaProcessor = seconds(Clock::now() - start);
            } else {
                if (spawn(tools.ffmpeg, directArguments) != 0) {
                    std::fprintf(stderr, "direct ffmpeg failed\n");
                    return 1;
                }
                direct = seconds(Clock::now() - start);
            }
            fs::remove(output);
        }
        processorTimes.push_back(viaProcessor);
        directTimes.push_back(direct);
        ratios.push_back(viaProcessor / direct);
        std::printf("round %d: processor %.3f s, direct %.3f s, ratio %.3f\n", round + 1,
                    viaProcessor, direct, viaProcessor / direct);
    }
    std::printf("median: processor %.3f s, direct %.3f s, ratio %.3f (goal <= 1.03)\n",
                median(processorTimes), median(directTimes), median(ratios));
    return 0;
}
