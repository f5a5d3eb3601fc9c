// Splits a generated Matroska file of at least 300 MB at a point through the Split rules and
// FFmpegProcessor (two jobs: part 1 and part 2, each probing the source's layout first),
// alternating with the same two ffmpeg commands run bare, and prints the median ratio; then the
// same split against one bare copy of the whole file, which shows what two ffmpeg starts and two
// probes cost on a copy this short. Reading the keyframes,
// which the workspace does when the file is added, is timed on its own. Everything is made in
// a private folder under $TMPDIR and removed at the end.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegProcessor.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

constexpr int kRounds = 9;
constexpr std::uintmax_t kMinimumBytes = 300ull * 1024 * 1024;

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations{});
    Folder folder;
    const auto made = benchsupport::largeSource(tools.ffmpeg, folder.path, kMinimumBytes);
    if (!made) {
        return 1;
    }
    const fs::path& source = *made;

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
    // The processor's own command lines, written to plain names, with nothing around them: not
    // the probe of the source's layout that the processor runs first for each part.
    const FFmpegCommandBuilder builder;
    std::vector<std::vector<std::string>> bareSplits;
    std::vector<fs::path> bareParts;
    for (std::size_t part = 0; part < requests.size(); ++part) {
        const auto& request = *requests[part].as<SplitRequest>();
        const auto probe =
            runner->run(tools.ffprobe, splitLayoutProbeArguments(request.input, request.endTime));
        const auto layout = parseSplitLayout(probe.standardOutput, request.endTime);
        if (!layout) {
            std::fprintf(stderr, "ffprobe could not read the source\n");
            return 1;
        }
        bareParts.push_back(parts / ("bare" + std::to_string(part + 1) + ".mkv"));
        bareSplits.push_back(builder.splitArguments(request, *layout, {}, bareParts.back()));
    }
    const auto bareSplit = [&] {
        for (const auto& arguments : bareSplits) {
            if (spawn(tools.ffmpeg, arguments) != 0) {
                return false;
            }
        }
        return true;
    };
    const auto between = [&] {
        fs::remove(copy);
        for (const auto& request : requests) {
            fs::remove(request.as<SplitRequest>()->output);
        }
        for (const auto& part : bareParts) {
            fs::remove(part);
        }
    };
    // One unmeasured run of each warms the page cache.
    viaProcessor();
    bareSplit();
    spawn(tools.ffmpeg, copyArguments);
    between();
    std::printf("split at %s s (two jobs) against the same two ffmpeg commands run bare:\n",
                configuration.splitPointText.c_str());
    if (!benchsupport::compareWithDirect(kRounds, viaProcessor, bareSplit, between, 1.05)) {
        return 1;
    }
    std::printf("the same split against one bare copy of the whole file:\n");
    return benchsupport::compareWithDirect(
               kRounds, viaProcessor, [&] { return spawn(tools.ffmpeg, copyArguments) == 0; },
               between, 1.05)
               ? 0
               : 1;
}
