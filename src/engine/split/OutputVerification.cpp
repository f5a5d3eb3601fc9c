#include "engine/split/OutputVerification.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "engine/FFprobeQueries.h"
#include "engine/MillisecondTime.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "model/Paths.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReading.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

const char* const streamsMessage =
    "Tavrolin could not verify the prepared media streams. The original file was not changed.";

// How many packets from a part's beginning show its first frame, reordering included.
constexpr int kStartPackets = 24;
// How far before a part's end its last packets are read.
constexpr double kEndWindow = 3.0;
// Half a tick of the coarsest time base a muxer picks, and the rounding of the commands.
constexpr double kSlack = 0.002;

std::string secondsText(double seconds) {
    std::string text = formatCommandLineSeconds(std::abs(seconds));
    return text.substr(0, text.size() - 3) + " s";
}

}  // namespace

namespace {

// What the read-back of a part shows of its video (its audio, without video) and its format.
struct PartReadBack {
    std::vector<double> times;  // each packet's, in the order read
    bool opensOnKeyframe = false;
    double first = 0;          // the earliest time
    bool firstHidden = false;  // that packet is flagged discard
    double firstLength = 0;    // the earliest packet's duration, when stored
    double frame = 0;          // the shortest packet duration, else the closest two times
    double longest = 0;        // the longest packet duration
    double last = 0;           // the latest time
    double lastLength = 0;     // that packet's own duration, when stored
    std::optional<double> partEnd;
    std::optional<double> start;     // the format's
    std::optional<double> duration;  // the format's
};

// Times count from `zero`.
PartReadBack readPartBack(const WrittenPackets& read, double zero) {
    PartReadBack part;
    for (const WrittenPacket& packet : read.packets) {
        const double pts = packet.time - zero;
        const double duration = packet.duration.value_or(0);
        if (part.times.empty()) {
            part.opensOnKeyframe = packet.keyframe;
        }
        if (part.times.empty() || pts < part.first) {
            part.first = pts;
            part.firstHidden = packet.discard;
            part.firstLength = duration;
        }
        if (part.times.empty() || pts >= part.last) {
            part.last = pts;
            part.lastLength = duration;
        }
        part.times.push_back(pts);
        if (duration > 0 && (part.frame == 0 || duration < part.frame)) {
            part.frame = duration;
        }
        part.longest = std::max(part.longest, duration);
    }
    if (read.start) {
        part.start = *read.start - zero;
    }
    part.duration = read.duration;
    if (part.start && part.duration) {
        part.partEnd = *part.start + *part.duration;
    }
    // Matroska may store no packet durations (variable frame rates).
    std::vector<double> sorted = part.times;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t at = 1; part.frame == 0 && at < sorted.size(); ++at) {
        if (sorted[at] > sorted[at - 1]) {
            part.frame = sorted[at] - sorted[at - 1];
        }
    }
    return part;
}

// Where the part's last frame ends: its time plus its length, which is up to the source's next
// frame when the plan read it (a variable rate's last frame before a keyframe may last five of
// the others), else what its packet says.
double lastFrameLength(const PartReadBack& part, const SplitPartSpan& span) {
    if (span.lastFrame && span.end && *span.end > *span.lastFrame) {
        return *span.end - *span.lastFrame;
    }
    return part.lastLength > 0 ? part.lastLength : part.frame;
}

std::string countText(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " video frame" : " video frames");
}

// `counted`: the part's packets matched the count of its span's in the source.
std::optional<std::string> videoFault(const PartReadBack& part, const SplitPartSpan& span,
                                      bool counted) {
    // A part from the beginning keeps what its source hides before its own start.
    if (span.startsAtCut && (part.firstHidden || part.first < -kSlack / 2)) {
        return std::string("would hide its first frame from most players");
    }
    if (!part.opensOnKeyframe) {
        return std::string("does not start on a keyframe");
    }
    if (span.startsAtCut && part.first > std::min(kSlack, part.frame / 2)) {
        return "starts " + secondsText(part.first) + " after the cut";
    }
    if (!span.end) {
        return std::nullopt;
    }
    if (span.endIsVideo && !span.lastFrame && counted) {
        // The count pins the packets: the last is the source's frame before the end keyframe,
        // shown until it however long that is, which was not read.
        if (part.last >= *span.end - kSlack / 2) {
            return "ends at " + secondsText(part.last) + " of its own time instead of " +
                   secondsText(*span.end);
        }
        return std::nullopt;
    }
    std::optional<double> end = part.partEnd;
    double early = part.frame + kSlack;
    double late = early;
    if (span.endIsVideo) {
        // The last frame is the source's before the end, within half a frame.
        const double length = lastFrameLength(part, span);
        end = part.last + length;
        early = late = std::min(length, part.frame > 0 ? part.frame : length) / 2 + kSlack;
    }
    if (!end) {
        return std::string("cannot be read back");
    }
    if (*end < *span.end - early || *end > *span.end + late) {
        return "ends at " + secondsText(*end) + " of its own time instead of " +
               secondsText(*span.end);
    }
    return std::nullopt;
}

// Audio is checked by how long it plays, which hidden warm-up is no part of, whatever times its
// packets carry (a FLAC frame tells its place in the source). At an end cut its packets were read
// at both ends: they hold the span and the plan's warm-up. To the source's end its header tells.
std::optional<std::string> audioFault(const PartReadBack& part, const SplitPartSpan& span) {
    if (part.times.empty()) {
        return std::string("holds no audio");
    }
    if (!span.end) {
        return std::nullopt;
    }
    std::optional<double> length = part.duration;
    if (span.endIsVideo) {
        // Its own audio starts after the warm-up, and a part from the beginning where the
        // source's does, after the codec delay its header hides as the source's does. A
        // Matroska part's codec delay hides its warm-up before 0, where its read starts.
        const double own = part.first + (span.lengthFromZero ? 0 : span.warmUp);
        length = part.last + (part.lastLength > 0 ? part.lastLength : part.frame) -
                 std::max(own, span.begin);
    } else if (length && part.first < 0 && !part.firstHidden) {
        // Warm-up before 0 that no edit list hides is skipped by the decoder (Opus pre-skip),
        // though Ogg counts it in the file's length.
        *length += part.first;
    } else if (length && part.start) {
        // A start later than the first packet is audio the header tells decoders to skip (an
        // MP3's encoder delay, warm-up included); a FLAC frame's own time is no such start.
        *length -= std::max(*part.start - std::max(part.first, 0.0), 0.0);
    }
    if (!length) {
        return std::string("cannot be read back");
    }
    const double expected = *span.end - span.begin;
    // Cut between packets at both ends, and a muxer may shorten the last one.
    const double within = 2 * part.longest + kSlack;
    if (*length > expected + within || *length < expected - within - span.sourceDelay) {
        return "plays " + secondsText(*length) + " of audio instead of " + secondsText(expected);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> splitPartFault(const WrittenPackets& read, const SplitPartSpan& span,
                                          std::optional<std::int64_t> written) {
    auto part = readPartBack(read, span.zero);
    if (span.lengthFromZero && part.start && part.duration) {
        part.start = std::max(*part.start, 0.0);
        part.partEnd = *part.start + *part.duration;
        part.first = std::max(part.first, 0.0);
    }
    if (!span.hasVideo) {
        return audioFault(part, span);
    }
    if (span.videoPackets && written && *written != *span.videoPackets) {
        return "holds " + countText(*written) + " instead of the " +
               std::to_string(*span.videoPackets) + " " + span.packetsFrom;
    }
    // Without a count, a part without video packets has nothing shown to check.
    return part.times.empty() ? std::nullopt : videoFault(part, span, span.videoPackets && written);
}

namespace {

// Whether `stream` is the one the check reads: the first video stream that is no attached
// picture, else (or for audio alone) the first audio stream.
int checkedStream(const PacketFormat& format, bool video) {
    if (video) {
        for (const PacketStream& stream : format.streams) {
            if (stream.codecType == "video" && !stream.attachedPicture) {
                return stream.index;
            }
        }
        return -1;
    }
    for (const PacketStream& stream : format.streams) {
        if (stream.codecType == "audio") {
            return stream.index;
        }
    }
    return -1;
}

WrittenPackets readWindow(const std::filesystem::path& written, const SplitPartSpan& span,
                          const std::stop_token& stop) {
    // Generated times where a part in AVI or VOB keeps few, as for its source.
    const auto reader = openPacketReader(written, PacketReadOptions{true}, stop);
    const PacketFormat& format = reader->format();
    WrittenPackets read{{},
                        secondsOfMicroseconds(format.startMicroseconds),
                        secondsOfMicroseconds(format.durationMicroseconds)};
    const int stream = checkedStream(format, span.hasVideo);
    if (stream < 0) {
        return read;
    }
    const TimeBase base = format.streams.at(static_cast<std::size_t>(stream)).timeBase;
    int counted = 0;
    // Only packets with a time count, as the check reads times; the head counts every packet
    // of the stream, as ffprobe's interval does.
    bool keep = true;
    const auto take = [&](const ReadPacket& packet, bool head) {
        if (packet.stream != stream) {
            return true;
        }
        if (packet.pts && keep) {
            read.packets.push_back({secondsOf(*packet.pts, base),
                                    packet.duration > 0
                                        ? std::optional<double>(secondsOf(packet.duration, base))
                                        : std::nullopt,
                                    packet.keyframe, packet.discard});
        }
        return !head || ++counted < kStartPackets;
    };
    const auto damaged = [&](const PacketReadEnd& end) {
        if (!end.damage.empty()) {
            throw PacketReadError::damaged(written, end.damage);
        }
    };
    damaged(reader->read([&](const ReadPacket& packet) { return take(packet, true); }, stop));
    // The end is read whatever the span, as that is where a file cut short shows; only a span
    // whose end the check measures by its packets keeps them. Audio to the end of its source is
    // measured by its header (FLAC's times are the source's, so a read of its end by them may
    // read the whole part).
    std::optional<double> from;
    if (span.end && (span.hasVideo || span.endIsVideo)) {
        from = span.zero + *span.end - kEndWindow;
    } else if (read.duration) {
        keep = false;
        from = read.start.value_or(0) + *read.duration - kEndWindow;
    }
    if (from) {
        reader->seek(std::max(*from, 0.0));
        damaged(reader->read([&](const ReadPacket& packet) { return take(packet, false); }, stop));
    }
    return read;
}

}  // namespace

WrittenPackets readWrittenPackets(const fs::path& written, const fs::path& output,
                                  const SplitPartSpan& span, std::stop_token stop) {
    try {
        return readWindow(written, span, stop);
    } catch (const PacketReadError& error) {
        throw MediaProcessingError::outputUnreadable(output.parent_path(),
                                                     output.filename().string(), error.reason());
    }
}

void verifySplitPart(const WrittenPackets& read, const std::string& name, const SplitPartSpan& span,
                     std::optional<std::int64_t> writtenPackets) {
    if (auto fault = splitPartFault(read, span, writtenPackets)) {
        throw MediaProcessingError::partMismatch(name, *fault);
    }
}

void verifyJoinedOutput(const WrittenPackets& read, const std::string& name,
                        std::int64_t inputPackets, std::optional<std::int64_t> writtenPackets) {
    SplitPartSpan whole;
    whole.videoPackets = inputPackets;
    whole.packetsFrom = "its files hold together";
    if (auto fault = splitPartFault(read, whole, writtenPackets)) {
        throw MediaProcessingError::processFailed("Tavrolin did not keep \u201C" + name +
                                                  "\u201D because the file it wrote " + *fault +
                                                  ". Try the join again.");
    }
}

void checkPreparedHeader(std::size_t streams, std::optional<double> duration,
                         std::size_t expectedStreamCount, double sourceDuration) {
    if (streams < expectedStreamCount || !duration || !(*duration > 0)) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    const double tolerance = std::max(sourceDuration * 0.02, 3.0);
    if (std::abs(*duration - sourceDuration) > tolerance) {
        throw MediaProcessingError::processFailed(
            "The prepared file duration does not match the source. The original file was not "
            "changed.");
    }
}

void verifyPreparedReplacement(const fs::path& prepared, const fs::path& source,
                               PacketCensusRead& sourceCensus,
                               const std::vector<CopiedStream>& streams,
                               std::size_t expectedStreamCount, double sourceDuration,
                               std::stop_token stop) {
    std::error_code sizeError;
    auto size = fs::file_size(prepared, sizeError);
    if (sizeError || size < 1) {
        throw MediaProcessingError::processFailed(
            "The prepared replacement is empty. The original file was not changed.");
    }
    // The header as the census's one opening of the copy reads it.
    const auto copy = readFileCensusOrNone(standardizedPath(prepared), stop);
    throwIfStopped(stop);
    if (!copy) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    checkPreparedHeader(copy->header.streams.size(), statedDuration(copy->header),
                        expectedStreamCount, sourceDuration);
    const auto original = sourceCensus.get();
    // A census cut short by a cancel reads as none: the cancel, not the copy, is the cause.
    throwIfStopped(stop);
    if (!original || !holdsEveryPacket(*original, copy->census, streams)) {
        throw MediaProcessingError::processFailed(
            "Tavrolin left \u201C" + source.filename().string() +
            "\u201D unchanged because its prepared copy is incomplete; try the export again.");
    }
}

}  // namespace tavrolin
