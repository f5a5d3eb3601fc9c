#include "probe/FFprobeService.h"

#include <utility>

#include "probe/FFprobeChapterParser.h"
#include "probe/FFprobeDurationParser.h"
#include "probe/MediaProbeError.h"
#include "probe/ProbeText.h"
#include "process/ProcessCancellation.h"

namespace tavrolin {

FFprobeService::FFprobeService(std::shared_ptr<ProcessRunning> runner, ToolLocations locations,
                               std::optional<std::filesystem::path> ffprobeOverride)
    : runner_(std::move(runner)),
      locations_(std::move(locations)),
      ffprobeOverride_(std::move(ffprobeOverride)) {}

std::string FFprobeService::runProbe(const std::filesystem::path& file,
                                     const std::vector<std::string>& arguments,
                                     const char* fallback, std::stop_token stop) {
    requireRegularFile(file);
    const std::filesystem::path executable =
        ffprobeOverride_ ? *ffprobeOverride_ : FFmpegToolchain::resolve(locations_).ffprobe;
    ProcessResult result = withProbeSlot(*runner_, executable, arguments, stop);
    if (reportsMissingFile(result, file)) {
        throw MediaProbeError::fileMissing(file);
    }
    if (reportsNotMedia(result)) {
        throw MediaProbeError::notMedia(file.filename().string(), std::string(kNotMediaReason));
    }
    if (result.terminationStatus != 0) {
        throw MediaProbeError::processFailed(toolFailureText(result, "ffprobe", fallback));
    }
    return std::move(result.standardOutput);
}

std::vector<MediaStream> FFprobeService::inspectStreams(const std::filesystem::path& file,
                                                        std::stop_token stop) {
    return inspectStreamsWith(file, {}, std::move(stop)).streams;
}

FFprobeService::StreamsReport FFprobeService::inspectStreamsWith(const std::filesystem::path& file,
                                                                 const std::string& moreEntries,
                                                                 std::stop_token stop) {
    std::string output = runProbe(file, commandBuilder_.streamArguments(file, moreEntries),
                                  "ffprobe could not inspect this file.", std::move(stop));
    auto streams = parser_.parse(output);
    return {std::move(streams), std::move(output)};
}

std::vector<ChapterMarker> FFprobeService::inspectChapters(const std::filesystem::path& file,
                                                           std::stop_token stop) {
    const std::string output = runProbe(file, commandBuilder_.chapterArguments(file),
                                        "ffprobe could not inspect this file's chapters.", stop);
    return FFprobeChapterParser{}.parse(output);
}

std::optional<double> FFprobeService::inspectDuration(const std::filesystem::path& file,
                                                      std::stop_token stop) {
    const std::string output = runProbe(file, commandBuilder_.durationArguments(file),
                                        "ffprobe could not inspect this file's duration.", stop);
    return FFprobeDurationParser{}.parse(output);
}

}  // namespace tavrolin
