// Splits a generated 10-minute 1080p Matroska file at a point through the Split rules and
// FFmpegProcessor (two jobs: part 1 and part 2; the processor reads the source's layout once,
// for part 1, and reads each written part back before it takes its name), alternating with the
// same two ffmpeg commands run bare, and prints the median ratio; then the same split against
// one bare copy of the whole file, which shows what two ffmpeg starts and the probes cost on a
// copy this short. Reading the keyframes, which the workspace does when the file is added, is
// timed on its own. Everything is made in a private folder under $TMPDIR and removed at the
// end.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegProcessor.h"
#include "engine/MillisecondTime.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

constexpr int kRounds = 5;
constexpr int kSegmentSeconds = 20;
constexpr int kSegments = 30;  // ten minutes

// One 20 s 1080p segment (MPEG-4 video, AAC audio), copied end to end by the concat demuxer.
bool generateTenMinutes(const fs::path& ffmpeg, const fs::path& folder, const fs::path& output) {
    const fs::path segment = folder / "segment.mkv";
    const std::string seconds = std::to_string(kSegmentSeconds);
    if (spawn(ffmpeg, {"-v", "error", "-f", "lavfi", "-i",
                       "testsrc2=size=1920x1080:rate=25:duration=" + seconds, "-f", "lavfi", "-i",
                       "sine=frequency=440:duration=" + seconds, "-c:v", "mpeg4", "-q:v", "4", "-g",
                       "50", "-c:a", "aac", segment.string()}) != 0) {
        return false;
    }
    const fs::path list = folder / "segments.txt";
    {
        std::ofstream file(list);
        for (int i = 0; i < kSegments; ++i) {
            file << "file '" << segment.string() << "'\n";
        }
    }
    const bool made = spawn(ffmpeg, {"-v", "error", "-f", "concat", "-safe", "0", "-i",
                                     list.string(), "-c", "copy", output.string()}) == 0;
    fs::remove(segment);
    fs::remove(list);
    return made;
}

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations{});
    Folder folder;
    const fs::path source = folder.path / "source.mkv";
    if (!generateTenMinutes(tools.ffmpeg, folder.path, source)) {
        std::fprintf(stderr, "could not generate the source\n");
        return 1;
    }
    std::printf("source: 10 minutes of 1080p, %.1f MB\n",
                static_cast<double>(fs::file_size(source)) / 1048576.0);

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
    // the read of the source's layout before them, nor the read of each part after.
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
    if (!benchsupport::compareWithDirect(kRounds, viaProcessor, bareSplit, between, 1.15)) {
        return 1;
    }
    std::printf("the same split against one bare copy of the whole file:\n");
    return benchsupport::compareWithDirect(
               kRounds, viaProcessor, [&] { return spawn(tools.ffmpeg, copyArguments) == 0; },
               between, 1.05)
               ? 0
               : 1;
}
