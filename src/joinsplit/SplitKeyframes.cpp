#include "joinsplit/SplitKeyframes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/split/LeadingPictures.h"
#include "engine/split/PresentationTimes.h"
#include "model/CancellationError.h"
#include "model/TextMetrics.h"
#include "preview/PreviewTimeFormat.h"
#include "probe/MediaProbeError.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReports.h"
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

// A packet line: presentation time, decoding time, duration, size, flags.
constexpr std::size_t kPacketFields = 5;

// ffprobe writes a packet's flags as letters and underscores ("K_", "__", "KD").
bool isFlags(std::string_view field) {
    return field.size() >= 2 && field.find_first_not_of("KDC_") == std::string_view::npos;
}

struct PacketLine {
    std::optional<double> time;     // presentation time, else decoding time
    std::optional<double> decoded;  // decoding time
    double duration = 0;
    bool isKeyframe = false;
    bool isHidden = false;       // read to decode what follows, never shown
    bool isPlaceholder = false;  // where a packed B-frame was
};

// What the report says, packets in decoding order.
struct VideoReport {
    std::vector<PacketLine> packets;
    std::string codec;
    bool reordered = false;
    bool lacksPresentationTimes = false;
    bool playsEditedPieces = false;
    std::optional<double> containerDuration;
};

// Whether packets hidden by an edit list lie between shown ones: an editor's cut that plays
// pieces of the media, not only a start trimmed off (whose hidden packets, B-frames included,
// come before the first one shown) or an end.
bool playsEditedPieces(const std::vector<PacketLine>& packets) {
    std::optional<double> firstShown;
    bool hiddenAfterShown = false;
    for (const auto& packet : packets) {
        if (!packet.time) {
            continue;
        }
        if (packet.isHidden) {
            hiddenAfterShown = hiddenAfterShown || (firstShown && *packet.time >= *firstShown);
        } else if (hiddenAfterShown) {
            return true;
        } else {
            firstShown = std::min(firstShown.value_or(*packet.time), *packet.time);
        }
    }
    return false;
}

VideoReport readReport(std::string_view report) {
    VideoReport read;
    std::vector<std::int64_t> sizes;
    forEachLine(report, [&](const std::vector<std::string_view>& parts) {
        if (parts.size() >= kPacketFields && isFlags(parts[4])) {
            const auto presented = parseFiniteNumber(parts[0]);
            const auto decoded = parseFiniteNumber(parts[1]);
            // A decoding time alone; cover art has neither.
            read.lacksPresentationTimes = read.lacksPresentationTimes || (!presented && decoded);
            read.packets.push_back({presented ? presented : decoded, decoded,
                                    parseFiniteNumber(parts[2]).value_or(0),
                                    parts[4].find('K') != std::string_view::npos,
                                    parts[4].find('D') != std::string_view::npos});
            sizes.push_back(static_cast<std::int64_t>(parseFiniteNumber(parts[3]).value_or(0)));
        } else if (parts.size() == 1 && parseFiniteNumber(parts[0])) {
            read.containerDuration = parseFiniteNumber(parts[0]);
        } else if (!parts[0].empty() && !parseFiniteNumber(parts[0]) && parts[0] != "N/A") {
            // The stream's line: its codec and how many frames its decoder holds back to
            // reorder, which side data may follow after a comma.
            read.codec = std::string(parts[0]);
            read.reordered = parts.size() > 1 && parseFiniteNumber(parts[1]).value_or(0) > 0;
        }
    });
    // The codec comes after the packets.
    for (std::size_t at = 0; at < sizes.size(); ++at) {
        auto& packet = read.packets[at];
        packet.isPlaceholder = isPackedPlaceholder(read.codec, sizes[at]);
        packet.isKeyframe = packet.isKeyframe && !packet.isPlaceholder;
    }
    read.playsEditedPieces = playsEditedPieces(read.packets);
    return read;
}

// Whether the keyframe at `at` carries a packed B-frame: its own placeholder follows it with
// only pictures shown before it in between, as after any packet that carries one. That
// placeholder's index, where the keyframe is shown.
std::optional<std::size_t> packedPlaceholder(const std::vector<CodedPicture>& pictures,
                                             const std::vector<bool>& placeholders,
                                             std::size_t at) {
    for (std::size_t next = at + 1; next < pictures.size() && !pictures[next].isKeyframe; ++next) {
        if (placeholders[next]) {
            return next;
        }
        if (pictures[next].time >= pictures[at].time) {
            return std::nullopt;
        }
    }
    return std::nullopt;
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

int SplitKeyframes::leadingPackets(double keyframe) const {
    const auto found = leadingPictures.find(keyframe);
    return found == leadingPictures.end() ? 0 : found->second;
}

double SplitKeyframes::packetTime(double keyframe) const {
    const auto found = packetTimes.find(keyframe);
    return found == packetTimes.end() ? keyframe : found->second;
}

int SplitKeyframes::lostBefore(double keyframe) const {
    const bool packed =
        std::binary_search(packedKeyframes.begin(), packedKeyframes.end(), keyframe);
    return leadingPackets(keyframe) + (packed ? 1 : 0);
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

std::optional<SplitClockJump> splitClockJump(const std::vector<double>& decodingTimes) {
    // ffmpeg's own bounds for a jump in such a stream's clock.
    constexpr double kBack = 0.1;
    constexpr double kAhead = 10.0;
    for (std::size_t at = 1; at < decodingTimes.size(); ++at) {
        const double step = decodingTimes[at] - decodingTimes[at - 1];
        if (step < -kBack || step > kAhead) {
            return SplitClockJump{decodingTimes[at - 1], decodingTimes[at]};
        }
    }
    return std::nullopt;
}

std::vector<double> splitDecodingTimes(std::string_view report) {
    std::vector<double> times;
    const VideoReport read = readReport(report);
    for (const auto& packet : read.packets) {
        if (packet.decoded) {
            times.push_back(*packet.decoded);
        }
    }
    if (read.packets.empty()) {
        // Audio packets' times, one a line.
        forEachLine(report, [&](const std::vector<std::string_view>& parts) {
            if (const auto time = parts.size() == 1 ? parseFiniteNumber(parts[0]) : std::nullopt) {
                times.push_back(*time);
            }
        });
    }
    return times;
}

std::optional<std::string> splitClockJumpMessage(const std::filesystem::path& file,
                                                 const std::vector<double>& decodingTimes,
                                                 double origin) {
    static const char* const runsOn[] = {".ts",   ".m2ts", ".mts", ".m2t", ".tp",  ".trp",  ".mpg",
                                         ".mpeg", ".vob",  ".ogg", ".oga", ".ogv", ".opus", ".spx"};
    const std::string extension = lowercased(file.extension().string());
    const auto jump = splitClockJump(decodingTimes);
    if (!jump || std::find(std::begin(runsOn), std::end(runsOn), extension) == std::end(runsOn)) {
        return std::nullopt;
    }
    const double by = jump->to - jump->from;
    const std::string step = formatPreviewSeconds(std::round(std::abs(by) * 10) / 10) +
                             (by > 0 ? " s ahead" : " s back");
    const double in = std::round(std::max(jump->from - origin, 0.0) * 10) / 10;
    return "The clock of \u201C" + file.filename().string() + "\u201D jumps " + step + " " +
           formatPreviewSeconds(in) + " s in" +
           ", so its times are not where it plays and a split would not cut it there. Remux it "
           "first, which runs its clock on over the jump, and split the remuxed file.";
}

std::optional<SplitKeyframes> parseSplitKeyframes(std::string_view report) {
    const VideoReport read = readReport(report);
    std::vector<CodedPicture> pictures;  // in decoding order, with a time
    std::vector<bool> placeholders;      // of those
    // Times count from the first frame shown: an edit list may hide frames before it.
    double first = std::numeric_limits<double>::infinity();
    double shown = std::numeric_limits<double>::infinity();
    double last = -std::numeric_limits<double>::infinity();
    for (const auto& packet : read.packets) {
        if (!packet.time) {
            continue;  // no timestamp at all: nothing a cut could name
        }
        first = std::min(first, *packet.time);
        if (!packet.isHidden) {
            shown = std::min(shown, *packet.time);
        }
        last = std::max(last, *packet.time + packet.duration);
        pictures.push_back({*packet.time, packet.isKeyframe});
        placeholders.push_back(packet.isPlaceholder);
    }
    SplitKeyframes result;
    if (std::isfinite(first)) {
        const double origin = std::isfinite(shown) ? shown : first;
        result.origin = origin;
        result.end = last - origin;
        // A hidden keyframe is where the first frame shown is decoded from: the beginning.
        const auto fromFirst = [&](double time) { return std::max(time - origin, 0.0); };
        std::vector<double> shown;
        for (std::size_t at = 0; at < pictures.size(); ++at) {
            shown.push_back(fromFirst(pictures[at].time));
            if (!pictures[at].isKeyframe) {
                continue;
            }
            if (const auto placeholder = packedPlaceholder(pictures, placeholders, at)) {
                shown.back() = fromFirst(pictures[*placeholder].time);
                result.packedKeyframes.push_back(shown.back());
                result.packetTimes[shown.back()] = fromFirst(pictures[at].time);
            }
            result.times.push_back(shown.back());
        }
        for (const auto& leading : leadingPictures(pictures)) {
            result.leadingPictures[shown[leading.keyframe]] = leading.count;
        }
        std::sort(result.packedKeyframes.begin(), result.packedKeyframes.end());
        // A frame and more is longer than the picture lasts.
        const double frame = pictures.size() == 1 ? last - first : 0;
        if (frame > 0 && read.containerDuration &&
            *read.containerDuration - origin > result.end + frame) {
            result.stillPicture = true;
            result.times.clear();
            result.end = *read.containerDuration - origin;
        }
        std::sort(result.times.begin(), result.times.end());
        result.times.erase(std::unique(result.times.begin(), result.times.end()),
                           result.times.end());
    } else if (read.containerDuration && *read.containerDuration > 0) {
        result.end = *read.containerDuration;
    } else {
        return std::nullopt;
    }
    return result;
}

void countSplitPackets(std::string_view report, SplitKeyframes& keyframes) {
    const VideoReport read = readReport(report);
    std::vector<std::int64_t> before;
    std::vector<std::optional<double>> stops;
    for (std::size_t at = 0; at < read.packets.size(); ++at) {
        const PacketLine& packet = read.packets[at];
        if (!packet.isKeyframe) {
            continue;
        }
        before.push_back(static_cast<std::int64_t>(at));
        const auto previous = at > 0 ? read.packets[at - 1].decoded : std::nullopt;
        const bool ordered = previous && packet.decoded && *previous < *packet.decoded;
        stops.push_back(ordered && !read.lacksPresentationTimes
                            ? std::optional((*previous + *packet.decoded) / 2)
                            : std::nullopt);
    }
    keyframes.packets = static_cast<std::int64_t>(read.packets.size());
    keyframes.packetsBefore.clear();
    keyframes.stopsBefore.clear();
    if (before.size() == keyframes.times.size()) {
        keyframes.packetsBefore = std::move(before);
        keyframes.stopsBefore = std::move(stops);
    }
}

SplitVideoTiming splitVideoTiming(std::string_view report) {
    const VideoReport read = readReport(report);
    return {read.codec, read.lacksPresentationTimes, read.reordered, read.playsEditedPieces};
}

namespace {

// A read the page cannot use, in the page's own sentence.
[[noreturn]] void throwUnreadable(const std::filesystem::path& file, const PacketReadError& error) {
    if (!std::filesystem::exists(file)) {
        throw MediaProbeError::fileMissing(file);
    }
    if (error.errorCase() == PacketReadError::Case::cannotOpen) {
        throw MediaProbeError::notMedia(file.filename().string(), std::string(kNotMediaReason));
    }
    throw MediaProbeError::processFailed(error.what());
}

}  // namespace

SplitKeyframeReader makeSplitKeyframeReader() {
    return [](const std::filesystem::path& file, std::stop_token stop) {
        const auto readLines = [&](auto read) {
            try {
                return read();
            } catch (const PacketReadError& error) {
                throwUnreadable(file, error);
            }
        };
        const auto videoLines = [&](bool generateTimes) {
            return readLines([&] { return firstVideoPacketLines(file, generateTimes, stop); });
        };
        std::string report = videoLines(false);
        const auto timing = splitVideoTiming(report);
        if (timing.playsEditedPieces) {
            throw MediaProbeError::processFailed(
                "\u201C" + file.filename().string() +
                "\u201D plays pieces of its video that an editor chose (an edit list), and a "
                "split cuts the video as it is stored, not as it plays. Export it from the editor "
                "again as one piece, without an edit list, and split that file.");
        }
        if (timing.lacksPresentationTimes) {
            // Frames shown in the order they are decoded are shown at their decoding times;
            // reordered ones only at a known time, which only some codecs have generated.
            if (timing.reordered && !generatesPresentationTimes(timing.codec)) {
                throw MediaProbeError::processFailed(
                    "\u201C" + file.filename().string() +
                    "\u201D can't be split without re-encoding because its video frames have no "
                    "presentation times to cut at.");
            }
            if (generatesPresentationTimes(timing.codec)) {
                report = videoLines(true);
            }
        }
        auto keyframes = parseSplitKeyframes(report);
        if (!keyframes) {
            throw MediaProbeError::processFailed("Tavrolin could not read where \u201C" +
                                                 file.filename().string() +
                                                 "\u201D can be cut: it holds no video or audio "
                                                 "to cut.");
        }
        auto read = *keyframes;
        countSplitPackets(report, read);
        std::string decodingOrder = std::move(report);
        if (read.times.empty()) {
            // Audio alone is cut at its frames: where they lie is worth a second read.
            std::string frames = readLines([&] { return firstAudioPacketTimes(file, stop); });
            read.audioFrames = parseSplitAudioFrames(frames);
            decodingOrder = std::move(frames);
        }
        if (auto jump =
                splitClockJumpMessage(file, splitDecodingTimes(decodingOrder), read.origin)) {
            throw MediaProbeError::processFailed(*jump);
        }
        return read;
    };
}

}  // namespace tavrolin
