#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// Where a stream-copy cut can fall in one source: the keyframes of its first video stream (cover
// art aside).
// Times are seconds from the first frame, as the preview shows them; `origin` is that frame's
// presentation time in the file, which the cut's ffmpeg run needs. A source without video
// (audio only) has no keyframes and can be cut anywhere. A plain value; any thread.
struct SplitKeyframes {
    double origin = 0;
    std::vector<double> times;  // ascending, no duplicates
    double end = 0;             // the end of the media, from the first frame
    // Keyframes (by time) with leading pictures: pictures after them in decoding order that are
    // shown before them, which a stream-copy cut at the keyframe loses (open groups of pictures).
    std::map<double, int> leadingPictures;
    // Audio alone: where the first audio stream's frames start, ascending, in the file's own
    // time. A cut there lands on the first frame at or after the time asked.
    std::vector<double> audioFrames = {};
    // The video's packets in decoding order, with a presentation time or not: how many come
    // before each keyframe of `times` (in its order), and in all. Empty when the keyframes read
    // were not those of `times` one for one.
    std::vector<std::int64_t> packetsBefore = {};
    std::int64_t packets = 0;
    // Keyframes (by time, ascending) whose packet also carries a B-frame shown before them, as
    // DivX and Xvid pack them: a cut there loses that picture too, though it is no packet.
    std::vector<double> packedKeyframes = {};
    // Those keyframes (by time) and their packets' times: libavformat gives such a packet the
    // time of the B-frame it carries, and the keyframe is shown at its placeholder's, a frame
    // later. A cut's ffmpeg run names the packet's.
    std::map<double, double> packetTimes = {};
    // The video is one picture over longer sound (a title card): the file is cut as its sound
    // is, with no keyframes, and every part shows the picture.
    bool stillPicture = false;
    // For each keyframe of `packetsBefore`: a decoding time of the file's own, halfway between
    // the packet decoded just before it and its own, where a copy that stops reading keeps every
    // packet before the keyframe. None where either has no decoding time, they are out of
    // order, or any packet lacks a presentation time.
    std::vector<std::optional<double>> stopsBefore = {};

    // The last keyframe at or before `seconds`, and the first one after it.
    std::optional<double> atOrBefore(double seconds) const;
    std::optional<double> after(double seconds) const;
    // How many frames just before `keyframe` a cut there loses, and how many of them are
    // packets of their own.
    int lostBefore(double keyframe) const;
    int leadingPackets(double keyframe) const;
    // The time of the packet of the keyframe shown at `keyframe`, from the first frame.
    double packetTime(double keyframe) const;

    friend bool operator==(const SplitKeyframes&, const SplitKeyframes&) = default;
};

// The report the keyframes are read from (firstVideoPacketLines, PacketReports.h): every packet
// of the first video stream with its presentation and decoding times, length, size and flags,
// then that stream's codec and reordering, and the container's duration; read with the
// presentation times generated for a codec whose packets lack them (see PresentationTimes.h).

// For a file without video, the times of its first audio stream's packets
// (firstAudioPacketTimes) read from that report, ascending.
std::vector<double> parseSplitAudioFrames(std::string_view report);

// Where the clock of a stream jumps, read from its decoding times in the order read: a time more
// than a tenth of a second before the one read before it (a chained Ogg starts each of its
// streams at 0 again) or more than ten seconds after it (a capture that skipped a gap). ffmpeg
// carries its copies of transport and program streams and of Ogg over such a jump, so that a
// remux of them runs on; times are the file's own. None when the clock runs on.
struct SplitClockJump {
    double from = 0;  // the decoding time read before the jump
    double to = 0;    // and the one after it
};
std::optional<SplitClockJump> splitClockJump(const std::vector<double>& decodingTimes);

// The decoding times of that report's packets (of the video, or the audio packets' times of the
// audio report), in the order read.
std::vector<double> splitDecodingTimes(std::string_view report);

// Why a split of `file` is refused when its clock jumps: none when it runs on, or when a remux
// of `file`'s container would not make it (see splitClockJump). `origin` is where the page's
// times count from.
std::optional<std::string> splitClockJumpMessage(const std::filesystem::path& file,
                                                 const std::vector<double>& decodingTimes,
                                                 double origin);

// Reads that report (CSV without section names); none when it holds neither a video packet
// with a time nor a duration. A packet without a presentation time counts at its decoding time.
// Times count from the first frame shown (an edit list may hide some before it); a packed
// B-frame's placeholder is no keyframe, whatever the index says.
std::optional<SplitKeyframes> parseSplitKeyframes(std::string_view report);

// Counts the packets of that report into `keyframes`, read from it (packetsBefore, packets).
void countSplitPackets(std::string_view report, SplitKeyframes& keyframes);

// What that report says of the video's times: its codec, whether any packet of it has a
// decoding time but no presentation time (AVI and MPEG program streams), and whether its frames
// are shown in another order than decoded (B-frames).
struct SplitVideoTiming {
    std::string codec;
    bool lacksPresentationTimes = false;
    bool reordered = false;
    // An edit list plays pieces of it, hiding packets between them.
    bool playsEditedPieces = false;
};
SplitVideoTiming splitVideoTiming(std::string_view report);

// Reads the keyframes of a file in-process, blocking; thread-safe. Throws MediaProbeError with
// a sentence for the user, ModuleUnavailableError, or CancellationError when `stop` was
// requested.
using SplitKeyframeReader =
    std::function<SplitKeyframes(const std::filesystem::path& file, std::stop_token stop)>;

SplitKeyframeReader makeSplitKeyframeReader();

}  // namespace tavrolin
