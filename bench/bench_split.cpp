// Splits generated files through the Split rules and FFmpegProcessor, one job per part,
// alternating with the commands a user would type for the same parts,
// `ffmpeg -ss A -to B -i SRC -map 0 -c copy OUT`, and prints the median ratios of wall time and
// of CPU time (user + system, the children's and the bench's own, which reads packets
// in-process), for a first split (a processor that has not seen the source, writing job records
// as the app does) and a repeated one, and how many ffprobe and ffmpeg runs a first split
// started:
// - a 10-minute 1080p H.264 film (B-frames, closed GOPs, AAC) into three parts, as Matroska and
//   as MP4 (the processor reads the source's layout and checks each written part), then the
//   Matroska split against one bare copy of the whole file;
// - a two-hour 640x360 film (about 200 MB) into three parts, as Matroska and as MP4, where the
//   fixed costs of each part weigh most against its short copy.
// Reading the keyframes, which the workspace does when the file is added, is timed on its own.
// Everything is made in a private folder under $TMPDIR and removed at the end.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegProcessor.h"
#include "engine/MillisecondTime.h"
#include "engine/split/SplitPartPreparation.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"
#include "process/ProcessRunning.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

const int kRounds = benchsupport::rounds(7);
constexpr int kSegmentSeconds = 20;
constexpr int kSegments = 30;  // ten minutes

// One 20 s 1080p segment (H.264 with B-frames, AAC audio), copied end to end by the concat
// demuxer.
bool generateTenMinutes(const fs::path& ffmpeg, const fs::path& folder, const fs::path& output) {
    const fs::path segment = folder / "segment.mkv";
    const std::string seconds = std::to_string(kSegmentSeconds);
    if (spawn(ffmpeg, {"-v",
                       "error",
                       "-f",
                       "lavfi",
                       "-i",
                       "testsrc2=size=1920x1080:rate=25:duration=" + seconds,
                       "-f",
                       "lavfi",
                       "-i",
                       "sine=frequency=440:duration=" + seconds,
                       "-c:v",
                       "libx264",
                       "-preset",
                       "ultrafast",
                       "-bf",
                       "2",
                       "-crf",
                       "23",
                       "-g",
                       "50",
                       "-c:a",
                       "aac",
                       segment.string()}) != 0) {
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

// The source's keyframes as the workspace reads them when the file is added, timed.
std::optional<SplitKeyframes> readKeyframes(const fs::path& source) {
    const auto start = benchsupport::Clock::now();
    auto keyframes = makeSplitKeyframeReader()(source, {});
    std::printf("keyframes read in %.3f s (%zu keyframes)\n",
                benchsupport::seconds(benchsupport::Clock::now() - start), keyframes.times.size());
    return keyframes;
}

// The parts of `source` split at `cuts` (seconds from its first frame, on keyframes the Split
// rules accept), each part in a folder of its own under `parts`.
std::vector<ProcessingRequest> partsAt(const fs::path& source, const SplitKeyframes& keyframes,
                                       const std::vector<double>& cuts, const fs::path& parts) {
    std::vector<ProcessingRequest> requests;
    for (std::size_t at = 0; at <= cuts.size(); ++at) {
        SplitSourceConfiguration configuration(source);
        configuration.keyframes = keyframes;
        const fs::path folder = parts / std::to_string(at + 1);
        fs::create_directories(folder);
        // The last part is the second of a split at its start.
        configuration.operationMode =
            at == cuts.size() ? SplitOperationMode::atPoint : SplitOperationMode::range;
        configuration.startText = formatCommandLineSeconds(at == 0 ? 0 : cuts[at - 1]);
        if (at < cuts.size()) {
            configuration.endText = formatCommandLineSeconds(cuts[at]);
        } else {
            configuration.splitPointText = configuration.startText;
        }
        auto made = makeSplitRequests(configuration, folder);
        if (made.empty()) {
            std::fprintf(stderr, "the split was refused: %s\n",
                         configuration.validationMessage().value_or("").c_str());
            return {};
        }
        requests.push_back(made.back());
    }
    return requests;
}

// The application's runner, counting the runs of each tool it starts.
class CountingRunner : public ProcessRunning {
  public:
    ProcessResult run(const fs::path& executable, const std::vector<std::string>& arguments,
                      ProcessOutputHandler outputHandler, std::stop_token stop) override {
        (executable.filename() == "ffprobe" ? probes : others)++;
        return runner_.run(executable, arguments, std::move(outputHandler), std::move(stop));
    }
    void cancel() override { runner_.cancel(); }

    std::atomic<int> probes = 0;
    std::atomic<int> others = 0;

  private:
    FoundationProcessRunner runner_;
};

// The command a user would type for the part `request` asks for, into `output`.
std::vector<std::string> userCommand(const SplitRequest& request, const fs::path& output) {
    std::vector<std::string> arguments = {"-nostdin", "-v", "error"};
    if (std::isfinite(request.startTime)) {
        arguments.insert(arguments.end(), {"-ss", formatCommandLineSeconds(request.startTime)});
    }
    if (request.endTime) {
        arguments.insert(arguments.end(), {"-to", formatCommandLineSeconds(*request.endTime)});
    }
    arguments.insert(arguments.end(),
                     {"-i", request.input.string(), "-map", "0", "-c", "copy", output.string()});
    return arguments;
}

// The processor's jobs against the user's own commands for the same parts: a first split, by a
// processor that has not seen the source and writes its job records as the app does, then a
// repeated one, by a processor that already read the source's layout. False when a bare run
// fails.
bool compareParts(const FFmpegToolchain& tools, const std::vector<ProcessingRequest>& requests,
                  const fs::path& parts, double goal,
                  const std::vector<std::string>& wholeCopy = {}) {
    const auto counting = std::make_shared<CountingRunner>();
    const fs::path records = parts / "records";
    fs::create_directories(records);
    const auto split = [&requests](FFmpegProcessor& processor) {
        for (const auto& request : requests) {
            processor.process(request, [](double) {}, {});
        }
    };
    const auto firstSplit = [&] {
        FFmpegProcessor fresh(counting, benchsupport::toolLocations(), records);
        split(fresh);
    };
    FFmpegProcessor kept(counting, benchsupport::toolLocations(), records);
    const auto repeatedSplit = [&] { split(kept); };
    std::vector<std::vector<std::string>> bareSplits;
    std::vector<fs::path> bareParts;
    for (std::size_t part = 0; part < requests.size(); ++part) {
        const auto& request = *requests[part].as<SplitRequest>();
        bareParts.push_back(
            parts / ("bare" + std::to_string(part + 1) + request.output.extension().string()));
        bareSplits.push_back(userCommand(request, bareParts.back()));
    }
    const auto bareSplit = [&] {
        for (const auto& arguments : bareSplits) {
            if (spawn(tools.ffmpeg, arguments) != 0) {
                return false;
            }
        }
        return true;
    };
    const fs::path copy = wholeCopy.empty() ? fs::path() : fs::path(wholeCopy.back());
    const auto between = [&] {
        if (!copy.empty()) {
            fs::remove(copy);
        }
        for (const auto& request : requests) {
            fs::remove(request.as<SplitRequest>()->output);
        }
        for (const auto& part : bareParts) {
            fs::remove(part);
        }
    };
    // One unmeasured run of each warms the page cache; the first counts a first split's runs.
    firstSplit();
    std::printf("a first split's runs for %zu parts: %d ffprobe, %d ffmpeg\n", requests.size(),
                counting->probes.load(), counting->others.load());
    bareSplit();
    between();
    repeatedSplit();
    between();
    const auto compare = [&](const char* which, const std::function<void()>& viaProcessor) {
        std::printf("%s: %zu jobs against the user's %zu bare ffmpeg commands:\n", which,
                    requests.size(), requests.size());
        return benchsupport::compareWithDirect(kRounds, viaProcessor, bareSplit, between, goal);
    };
    if (!compare("first split", firstSplit) || !compare("repeated split", repeatedSplit)) {
        return false;
    }
    if (wholeCopy.empty()) {
        return true;
    }
    std::printf("the same split against one bare copy of the whole file:\n");
    return benchsupport::compareWithDirect(
        kRounds, firstSplit, [&] { return spawn(tools.ffmpeg, wholeCopy) == 0; }, between, 1.05);
}

// Cuts on the keyframes nearest a third and two thirds in.
std::vector<double> thirds(const SplitKeyframes& keyframes) {
    std::vector<double> cuts;
    for (const double share : {1.0 / 3, 2.0 / 3}) {
        cuts.push_back(keyframes.atOrBefore(keyframes.end * share).value_or(0));
    }
    return cuts;
}

bool tenMinutes(const FFmpegToolchain& tools, const fs::path& folder) {
    const fs::path film = folder / "source.mkv";
    if (!generateTenMinutes(tools.ffmpeg, folder, film)) {
        std::fprintf(stderr, "could not generate the source\n");
        return false;
    }
    std::printf("source: 10 minutes of 1080p, %.1f MB\n",
                static_cast<double>(fs::file_size(film)) / 1048576.0);
    // The same packets in MP4, where the user's seek lands on the cut's keyframe itself.
    const fs::path mp4 = folder / "source.mp4";
    if (spawn(tools.ffmpeg,
              {"-v", "error", "-i", film.string(), "-map", "0", "-c", "copy", mp4.string()}) != 0) {
        return false;
    }
    for (const fs::path& source : {mp4, film}) {
        const auto keyframes = readKeyframes(source);
        const fs::path parts = folder / "parts";
        const auto requests = partsAt(source, *keyframes, thirds(*keyframes), parts);
        if (requests.size() != 3) {
            return false;
        }
        std::printf("ten minutes (%s) in three parts:\n", source.extension().string().c_str());
        const fs::path copy = folder / ("copy" + source.extension().string());
        const bool compared =
            compareParts(tools, requests, parts, 1.15,
                         source == film ? benchsupport::copyArguments(source, copy)
                                        : std::vector<std::string>{});
        fs::remove_all(parts);
        fs::remove(source);
        if (!compared) {
            return false;
        }
    }
    return true;
}

bool twoHours(const FFmpegToolchain& tools, const fs::path& folder) {
    const auto films = benchsupport::twoHourFilms(tools.ffmpeg, folder);
    if (films.empty()) {
        return false;
    }
    for (const fs::path& source : films) {
        const auto keyframes = readKeyframes(source);
        const auto cuts = thirds(*keyframes);
        const fs::path parts = folder / "parts";
        const auto requests = partsAt(source, *keyframes, cuts, parts);
        if (requests.size() != 3) {
            return false;
        }
        std::printf("two hours (%s) in three parts at %s and %s s:\n",
                    source.extension().string().c_str(), formatCommandLineSeconds(cuts[0]).c_str(),
                    formatCommandLineSeconds(cuts[1]).c_str());
        if (!compareParts(tools, requests, parts, 1.15)) {
            return false;
        }
        fs::remove_all(parts);
    }
    return true;
}

}  // namespace

// "bench_split two-hours" runs only the two-hour cases, "bench_split ten-minutes" the other.
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const FFmpegToolchain tools = FFmpegToolchain::resolve(benchsupport::toolLocations());
    Folder folder;
    const bool tenDone = only == "two-hours" || tenMinutes(tools, folder.path);
    return tenDone && (only == "ten-minutes" || twoHours(tools, folder.path)) ? 0 : 1;
}
