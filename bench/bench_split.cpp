// Splits a generated Matroska file of at least 300 MB at a point through the Split rules and
// FFmpegProcessor (two jobs: part 1 and part 2), and copies the whole file with a bare ffmpeg
// stream copy, alternating, and prints the median ratio split/copy. Reading the keyframes,
// which the workspace does when the file is added, is timed on its own. Everything is made in
// a private folder under $TMPDIR and removed at the end.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegProcessor.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

constexpr int kRounds = 5;
constexpr std::uintmax_t kMinimumBytes = 300ull * 1024 * 1024;

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations{});
    Folder folder;
    const fs::path source = folder.path / "source.mkv";
    if (!benchsupport::generateLargeMedia(tools.ffmpeg, folder.path, kMinimumBytes, source)) {
        std::fprintf(stderr, "could not generate the source\n");
        return 1;
    }
    std::printf("source: %.1f MB\n", static_cast<double>(fs::file_size(source)) / 1048576.0);

    const auto runner = std::make_shared<FoundationProcessRunner>();
    const auto start = benchsupport::Clock::now();
    SplitSourceConfiguration configuration(source);
    configuration.keyframes = makeSplitKeyframeReader(runner, ToolLocations{})(source, {});
    std::printf("keyframes read in %.3f s (%zu keyframes)\n",
                benchsupport::seconds(benchsupport::Clock::now() - start),
                configuration.keyframes->times.size());
    configuration.operationMode = SplitOperationMode::atPoint;
    configuration.splitPointText = formatCommandLineSeconds(configuration.keyframes->end / 2);
    const fs::path parts = folder.path / "parts";
    fs::create_directories(parts);
    const auto requests = makeSplitRequests(configuration, parts);
    if (requests.size() != 2) {
        std::fprintf(stderr, "the split was refused: %s\n",
                     configuration.validationMessage().value_or("").c_str());
        return 1;
    }

    FFmpegProcessor processor(runner, ToolLocations{});
    const fs::path copy = folder.path / "copy.mkv";
    const std::vector<std::string> copyArguments = {
        "-nostdin", "-hide_banner", "-v",   "error",      "-i", source.string(), "-map",
        "0",        "-c",           "copy", copy.string()};
    const auto viaProcessor = [&] {
        for (const auto& request : requests) {
            processor.process(request, [](double) {}, {});
        }
    };
    const auto between = [&] {
        fs::remove(copy);
        for (const auto& request : requests) {
            fs::remove(request.as<SplitRequest>()->output);
        }
    };
    // One unmeasured run of each warms the page cache.
    viaProcessor();
    spawn(tools.ffmpeg, copyArguments);
    between();
    std::printf("split at %s s (two jobs) against one bare copy:\n",
                configuration.splitPointText.c_str());
    return benchsupport::compareWithDirect(
               kRounds, viaProcessor, [&] { return spawn(tools.ffmpeg, copyArguments) == 0; },
               between, 1.05)
               ? 0
               : 1;
}
