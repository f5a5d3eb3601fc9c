#include "joinsplit/SplitKeyframes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/LeadingPictures.h"
#include "model/CancellationError.h"
#include "model/TextMetrics.h"
#include "probe/MediaProbeError.h"
#include "probe/ProbeText.h"
#include "process/ProcessCancellation.h"

namespace tavrolin {

namespace {

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t comma = line.find(',', start);
        parts.push_back(line.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

}  // namespace

std::optional<double> SplitKeyframes::atOrBefore(double seconds) const {
    const auto found = std::upper_bound(times.begin(), times.end(), seconds);
    return found == times.begin() ? std::nullopt : std::optional(*std::prev(found));
}

std::optional<double> SplitKeyframes::after(double seconds) const {
    const auto found = std::upper_bound(times.begin(), times.end(), seconds);
    return found == times.end() ? std::nullopt : std::optional(*found);
}

int SplitKeyframes::lostBefore(double keyframe) const {
    const auto found = leadingPictures.find(keyframe);
    return found == leadingPictures.end() ? 0 : found->second;
}

std::vector<std::string> splitKeyframeProbeArguments(const std::filesystem::path& file) {
    return {"-v",  "error",         "-select_streams",
            "v:0", "-show_entries", "packet=pts_time,duration_time,flags:format=duration",
            "-of", "csv=p=0",       file.string()};
}

std::vector<std::string> splitAudioFrameProbeArguments(const std::filesystem::path& file) {
    return {"-v",  "error",   "-select_streams", "a:0", "-show_entries", "packet=pts_time",
            "-of", "csv=p=0", file.string()};
}

std::vector<double> parseSplitAudioFrames(std::string_view report) {
    std::vector<double> times;
    for (std::size_t start = 0; start < report.size();) {
        std::size_t end = report.find('\n', start);
        end = end == std::string_view::npos ? report.size() : end;
        if (const auto time =
                parseFiniteNumber(trimWhitespace(report.substr(start, end - start)))) {
            times.push_back(*time);
        }
        start = end + 1;
    }
    std::sort(times.begin(), times.end());
    return times;
}

std::optional<SplitKeyframes> parseSplitKeyframes(std::string_view report) {
    std::vector<CodedPicture> pictures;  // in decoding order
    double first = std::numeric_limits<double>::infinity();
    double last = -std::numeric_limits<double>::infinity();
    std::optional<double> containerDuration;
    for (std::size_t start = 0; start < report.size();) {
        std::size_t end = report.find('\n', start);
        end = end == std::string_view::npos ? report.size() : end;
        const auto parts = fields(report.substr(start, end - start));
        start = end + 1;
        if (parts.size() == 1) {
            containerDuration = parseFiniteNumber(parts[0]);
            continue;
        }
        const auto time = parts.size() >= 3 ? parseFiniteNumber(parts[0]) : std::nullopt;
        if (!time) {
            continue;  // no timestamp: nothing a cut could name
        }
        first = std::min(first, *time);
        last = std::max(last, *time + parseFiniteNumber(parts[1]).value_or(0));
        pictures.push_back({*time, parts[2].find('K') != std::string_view::npos});
    }
    SplitKeyframes result;
    if (std::isfinite(first)) {
        result.origin = first;
        result.end = last - first;
        for (const auto& picture : pictures) {
            if (picture.isKeyframe) {
                result.times.push_back(picture.time - first);
            }
        }
        for (const auto& leading : leadingPictures(pictures)) {
            result.leadingPictures[pictures[leading.keyframe].time - first] = leading.count;
        }
        std::sort(result.times.begin(), result.times.end());
        result.times.erase(std::unique(result.times.begin(), result.times.end()),
                           result.times.end());
    } else if (containerDuration && *containerDuration > 0) {
        result.end = *containerDuration;
    } else {
        return std::nullopt;
    }
    return result;
}

SplitKeyframeReader makeSplitKeyframeReader(std::shared_ptr<ProcessRunning> runner,
                                            ToolLocations locations) {
    return [runner = std::move(runner), locations = std::move(locations)](
               const std::filesystem::path& file, std::stop_token stop) {
        const auto toolchain = FFmpegToolchain::resolve(locations);
        const ProcessResult result =
            withProbeSlot(*runner, toolchain.ffprobe, splitKeyframeProbeArguments(file), stop);
        if (stop.stop_requested()) {
            throw CancellationError();
        }
        if (reportsMissingFile(result, file)) {
            throw MediaProbeError::fileMissing(file);
        }
        if (reportsNotMedia(result)) {
            throw MediaProbeError::notMedia(file.filename().string(), std::string(kNotMediaReason));
        }
        const auto keyframes = result.terminationStatus == 0
                                   ? parseSplitKeyframes(result.standardOutput)
                                   : std::nullopt;
        if (!keyframes) {
            throw MediaProbeError::processFailed(
                "Tavrolin could not read where \u201C" + file.filename().string() +
                "\u201D can be cut: " +
                toolFailureText(result, "ffprobe", "ffprobe found no video or audio to cut."));
        }
        auto read = *keyframes;
        if (read.times.empty()) {
            // Audio alone is cut at its frames: where they lie is worth a second read.
            const ProcessResult frames = withProbeSlot(*runner, toolchain.ffprobe,
                                                       splitAudioFrameProbeArguments(file), stop);
            if (stop.stop_requested()) {
                throw CancellationError();
            }
            if (frames.terminationStatus == 0) {
                read.audioFrames = parseSplitAudioFrames(frames.standardOutput);
            }
        }
        return read;
    };
}

}  // namespace tavrolin
