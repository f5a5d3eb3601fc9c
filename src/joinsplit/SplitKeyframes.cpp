#include "joinsplit/SplitKeyframes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/LeadingPictures.h"
#include "engine/PresentationTimes.h"
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

// Calls `line` with the fields of each line of `report`.
template <typename Visit>
void forEachLine(std::string_view report, Visit line) {
    for (std::size_t start = 0; start < report.size();) {
        std::size_t end = report.find('\n', start);
        end = end == std::string_view::npos ? report.size() : end;
        line(fields(report.substr(start, end - start)));
        start = end + 1;
    }
}

// A packet line: presentation time, decoding time, duration, flags.
constexpr std::size_t kPacketFields = 4;

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

std::vector<std::string> splitKeyframeProbeArguments(const std::filesystem::path& file,
                                                     std::string_view codec) {
    std::vector<std::string> arguments = {"-v", "error"};
    const auto generated = presentationTimeArguments(codec);
    arguments.insert(arguments.end(), generated.begin(), generated.end());
    arguments.insert(
        arguments.end(),
        {"-select_streams", "v:0", "-show_entries",
         "packet=pts_time,dts_time,duration_time,flags:stream=codec_name:format=duration", "-of",
         "csv=p=0", file.string()});
    return arguments;
}

std::vector<std::string> splitAudioFrameProbeArguments(const std::filesystem::path& file) {
    return {"-v",  "error",   "-select_streams", "a:0", "-show_entries", "packet=pts_time",
            "-of", "csv=p=0", file.string()};
}

std::vector<double> parseSplitAudioFrames(std::string_view report) {
    std::vector<double> times;
    forEachLine(report, [&](const std::vector<std::string_view>& parts) {
        const auto time = parts.size() == 1 ? parseFiniteNumber(parts[0]) : std::nullopt;
        if (time) {
            times.push_back(*time);
        }
    });
    std::sort(times.begin(), times.end());
    return times;
}

std::optional<SplitKeyframes> parseSplitKeyframes(std::string_view report) {
    std::vector<CodedPicture> pictures;  // in decoding order
    double first = std::numeric_limits<double>::infinity();
    double last = -std::numeric_limits<double>::infinity();
    std::optional<double> containerDuration;
    forEachLine(report, [&](const std::vector<std::string_view>& parts) {
        if (parts.size() == 1) {
            // The container's duration; the codec's name is no number.
            if (auto duration = parseFiniteNumber(parts[0])) {
                containerDuration = duration;
            }
            return;
        }
        if (parts.size() < kPacketFields) {
            return;
        }
        auto time = parseFiniteNumber(parts[0]);
        time = time ? time : parseFiniteNumber(parts[1]);
        if (!time) {
            return;  // no timestamp at all: nothing a cut could name
        }
        first = std::min(first, *time);
        last = std::max(last, *time + parseFiniteNumber(parts[2]).value_or(0));
        pictures.push_back({*time, parts[3].find('K') != std::string_view::npos});
    });
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

void countSplitPackets(std::string_view report, SplitKeyframes& keyframes) {
    // ffprobe writes a packet's flags as letters and underscores ("K_", "__").
    const auto isFlags = [](std::string_view field) {
        return field.size() >= 2 && field.find_first_not_of("KDC_") == std::string_view::npos;
    };
    std::vector<std::int64_t> before;
    std::int64_t packets = 0;
    forEachLine(report, [&](const std::vector<std::string_view>& parts) {
        const auto flags = std::find_if(parts.begin(), parts.end(), isFlags);
        if (parts.size() < 3 || flags == parts.end()) {
            return;
        }
        if (flags->front() == 'K') {
            before.push_back(packets);
        }
        ++packets;
    });
    keyframes.packets = packets;
    keyframes.packetsBefore.clear();
    if (before.size() == keyframes.times.size()) {
        keyframes.packetsBefore = std::move(before);
    }
}

SplitVideoTiming splitVideoTiming(std::string_view report) {
    SplitVideoTiming timing;
    forEachLine(report, [&](const std::vector<std::string_view>& parts) {
        // The stream's line, which side data may follow after a comma.
        if (parts.size() < kPacketFields && !parts[0].empty() && !parseFiniteNumber(parts[0]) &&
            parts[0] != "N/A") {
            timing.codec = std::string(parts[0]);
        } else if (parts.size() >= kPacketFields && !parseFiniteNumber(parts[0]) &&
                   parseFiniteNumber(parts[1])) {
            // A decoding time alone; cover art has neither.
            timing.lacksPresentationTimes = true;
        }
    });
    return timing;
}

SplitKeyframeReader makeSplitKeyframeReader(std::shared_ptr<ProcessRunning> runner,
                                            ToolLocations locations) {
    return [runner = std::move(runner), locations = std::move(locations)](
               const std::filesystem::path& file, std::stop_token stop) {
        const auto toolchain = FFmpegToolchain::resolve(locations);
        const auto probe = [&](std::string_view codec) {
            const ProcessResult result = withProbeSlot(
                *runner, toolchain.ffprobe, splitKeyframeProbeArguments(file, codec), stop);
            if (stop.stop_requested()) {
                throw CancellationError();
            }
            if (reportsMissingFile(result, file)) {
                throw MediaProbeError::fileMissing(file);
            }
            if (reportsNotMedia(result)) {
                throw MediaProbeError::notMedia(file.filename().string(),
                                                std::string(kNotMediaReason));
            }
            return result;
        };
        ProcessResult result = probe({});
        const auto timing = splitVideoTiming(result.standardOutput);
        if (result.terminationStatus == 0 && timing.lacksPresentationTimes) {
            // Only frames shown at a known time can be cut at, and written to Matroska.
            if (!generatesPresentationTimes(timing.codec)) {
                throw MediaProbeError::processFailed(
                    "\u201C" + file.filename().string() +
                    "\u201D can't be split without re-encoding because its video frames have no "
                    "presentation times to cut at.");
            }
            result = probe(timing.codec);
        }
        auto keyframes = result.terminationStatus == 0 ? parseSplitKeyframes(result.standardOutput)
                                                       : std::nullopt;
        if (!keyframes) {
            throw MediaProbeError::processFailed(
                "Tavrolin could not read where \u201C" + file.filename().string() +
                "\u201D can be cut: " +
                toolFailureText(result, "ffprobe", "ffprobe found no video or audio to cut."));
        }
        auto read = *keyframes;
        countSplitPackets(result.standardOutput, read);
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
