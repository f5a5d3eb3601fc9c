#include "engine/OutputVerification.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "engine/FFprobeQueries.h"
#include "engine/MillisecondTime.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "model/Paths.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

const char* const streamsMessage =
    "Tavrolin could not verify the prepared media streams. The original file was not changed.";

// How many packets from a part's beginning show its first frame, reordering included.
constexpr int kStartPackets = 24;
// How far before a part's end its last packets are read.
constexpr double kEndWindow = 3.0;

std::optional<double> secondsIn(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string()
               ? parseFiniteNumber(found->get_ref<const std::string&>())
               : std::nullopt;
}

std::string secondsText(double seconds) {
    std::string text = formatCommandLineSeconds(std::abs(seconds));
    return text.substr(0, text.size() - 3) + " s";
}

}  // namespace

std::vector<std::string> splitPartProbeArguments(const fs::path& part, const SplitPartSpan& span) {
    std::string intervals = "%+#" + std::to_string(kStartPackets);
    if (span.end) {
        intervals += "," + formatCommandLineSeconds(std::max(*span.end - kEndWindow, 0.0)) + "%";
    }
    return {"-v",
            "error",
            "-select_streams",
            "V:0",
            "-read_intervals",
            intervals,
            "-show_entries",
            "packet=pts_time,duration_time,flags:format=start_time,duration",
            "-of",
            "json",
            part.string()};
}

namespace {

// What the read-back of a part shows of its video and its format.
struct PartReadBack {
    std::vector<double> times;  // each video packet's, in the order read
    bool opensOnKeyframe = false;
    bool firstHidden = false;  // the earliest packet is flagged discard
    double frame = 0;          // the shortest packet duration, else the closest two times
    std::optional<double> videoEnd;
    std::optional<double> partEnd;
};

// None when the report is not one.
std::optional<PartReadBack> readPartBack(std::string_view json) {
    PartReadBack part;
    try {
        const auto report = nlohmann::json::parse(json);
        std::optional<double> first;
        for (const auto& packet : report.value("packets", nlohmann::json::array())) {
            const auto pts = secondsIn(packet, "pts_time");
            if (!pts) {
                continue;
            }
            const std::string flags = packet.value("flags", std::string());
            const double duration = secondsIn(packet, "duration_time").value_or(0);
            if (part.times.empty()) {
                part.opensOnKeyframe = flags.find('K') == 0;
            }
            if (!first || *pts < *first) {
                first = pts;
                part.firstHidden = flags.find('D') != std::string::npos;
            }
            part.times.push_back(*pts);
            if (duration > 0 && (part.frame == 0 || duration < part.frame)) {
                part.frame = duration;
            }
        }
        const auto format = report.at("format");
        const auto start = secondsIn(format, "start_time");
        const auto duration = secondsIn(format, "duration");
        if (start && duration) {
            part.partEnd = *start + *duration;
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    // Matroska may store no packet durations (variable frame rates).
    std::vector<double> sorted = part.times;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t at = 1; part.frame == 0 && at < sorted.size(); ++at) {
        if (sorted[at] > sorted[at - 1]) {
            part.frame = sorted[at] - sorted[at - 1];
        }
    }
    if (!sorted.empty()) {
        part.videoEnd = sorted.back() + part.frame;
    }
    return part;
}

}  // namespace

std::optional<std::string> splitPartFault(std::string_view json, const SplitPartSpan& span) {
    const auto part = readPartBack(json);
    if (!part) {
        return std::string("cannot be read back");
    }
    if (part->times.empty()) {
        return std::nullopt;  // no video: nothing shown to check
    }
    const double first = *std::min_element(part->times.begin(), part->times.end());
    // Half a tick of the coarsest time base a muxer picks, and the rounding of the commands.
    constexpr double slack = 0.002;
    // A part from the beginning keeps what its source hides before its own start (an edit).
    if (span.startsAtCut && (part->firstHidden || first < -slack / 2)) {
        return std::string("would hide its first frame from most players");
    }
    if (!part->opensOnKeyframe) {
        return std::string("does not start on a keyframe");
    }
    if (span.startsAtCut && first > std::min(slack, part->frame / 2)) {
        return "starts " + secondsText(first) + " after the cut";
    }
    const std::optional<double> end = span.endIsVideo ? part->videoEnd : part->partEnd;
    if (span.end && !end) {
        return std::string("cannot be read back");
    }
    if (span.end && std::abs(*end - *span.end) > part->frame + slack) {
        return "ends at " + secondsText(*end) + " of its own time instead of " +
               secondsText(*span.end);
    }
    return std::nullopt;
}

void verifySplitPart(ProcessRunning& runner, const fs::path& written, const std::string& name,
                     const SplitPartSpan& span, const fs::path& ffprobe, std::stop_token stop) {
    const auto result =
        runBoundedFFprobe(runner, ffprobe, splitPartProbeArguments(written, span), stop);
    throwIfStopped(stop);
    const auto fault = result.terminationStatus == 0
                           ? splitPartFault(result.standardOutput, span)
                           : std::optional<std::string>("cannot be read back");
    if (fault) {
        throw MediaProcessingError::partMismatch(name, *fault);
    }
}

void verifyPreparedReplacement(ProcessRunning& runner, const fs::path& prepared,
                               std::size_t expectedStreamCount, const fs::path& ffprobe,
                               double sourceDuration, std::stop_token stop) {
    std::error_code sizeError;
    auto size = fs::file_size(prepared, sizeError);
    if (sizeError || size < 1) {
        throw MediaProcessingError::processFailed(
            "The prepared replacement is empty. The original file was not changed.");
    }
    auto result = runBoundedFFprobe(runner, ffprobe,
                                    {"-v", "error", "-show_entries", "format=duration:stream=index",
                                     "-of", "json", standardizedPath(prepared).string()},
                                    stop);
    throwIfStopped(stop);
    if (result.terminationStatus != 0) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    std::optional<double> duration;
    try {
        auto json = nlohmann::json::parse(result.standardOutput);
        std::size_t streamCount = 0;
        for (const auto& stream : json.at("streams")) {
            stream.at("index").get<std::int64_t>();
            ++streamCount;
        }
        if (streamCount < expectedStreamCount || !json.contains("format")) {
            throw MediaProcessingError::processFailed(streamsMessage);
        }
        const auto& format = json.at("format");
        if (format.contains("duration")) {
            duration = parseFiniteNumber(format.at("duration").get<std::string>());
        }
    } catch (const nlohmann::json::exception&) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    if (!duration || !(*duration > 0)) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    const double tolerance = std::max(sourceDuration * 0.02, 3.0);
    if (std::abs(*duration - sourceDuration) > tolerance) {
        throw MediaProcessingError::processFailed(
            "The prepared file duration does not match the source. The original file was not "
            "changed.");
    }
}

void verifyPreparedPackets(ProcessRunning& runner, const fs::path& prepared, const fs::path& source,
                           PacketCensusRead& sourceCensus, const std::vector<CopiedStream>& streams,
                           const fs::path& ffprobe, std::stop_token stop) {
    std::vector<std::int64_t> copied;
    for (const auto& stream : streams) {
        copied.push_back(stream.copy);
    }
    const auto copy = readPacketCensus(runner, standardizedPath(prepared), copied, ffprobe, stop);
    const auto original = sourceCensus.get();
    if (!copy || !original || !holdsEveryPacket(*original, *copy, streams)) {
        throw MediaProcessingError::processFailed(
            "Tavrolin left \u201C" + source.filename().string() +
            "\u201D unchanged because its prepared copy is incomplete; try the export again.");
    }
}

}  // namespace tavrolin
