#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/MediaStream.h"
#include "model/OutputContainer.h"
#include "model/ProcessingRequest.h"
#include "process/FFmpegVersion.h"

namespace tavrolin {

// What happens to one stream when it is copied into a container.
struct StreamCopyDecision {
    enum class Kind { copy, convert, incompatible };
    Kind kind = Kind::copy;
    std::string codec;  // the subtitle codec to set while muxing; only for `convert`

    static StreamCopyDecision copy() { return {Kind::copy, {}}; }
    static StreamCopyDecision convert(std::string codec) {
        return {Kind::convert, std::move(codec)};
    }
    static StreamCopyDecision incompatible() { return {Kind::incompatible, {}}; }

    bool isIncompatible() const { return kind == Kind::incompatible; }

    friend bool operator==(const StreamCopyDecision&, const StreamCopyDecision&) = default;
};

// Which codec fits which container (and the playback target) by stream copy. Pure functions
// of their arguments over fixed codec sets; safe on any thread. Given the installed FFmpeg's
// release, the pairs that release is known to refuse are incompatible too, so the review never
// promises what the job's ffmpeg will not write.
class StreamCopyCompatibility {
  public:
    using Target = std::optional<PlaybackTarget>;

    // Whether the job's command tells ffmpeg to use its experimental writers, which some
    // releases need for some pairs (FLAC into MP4 in 5.1).
    enum class Writers { standard, experimental };

    explicit StreamCopyCompatibility(std::optional<FFmpegRelease> installed = std::nullopt,
                                     Writers writers = Writers::standard)
        : installed_(installed), writers_(writers) {}

    // Whether copying `codec` into the container needs the experimental writers in a release
    // that refuses it otherwise.
    static bool isExperimentalCopy(const std::string& codec, OutputContainer container);

    StreamCopyDecision copyDecision(const MediaStream& stream, OutputContainer container) const;
    // The container's decision, then the target's profile on the codec the output will carry.
    StreamCopyDecision playbackProfileDecision(const MediaStream& stream, OutputContainer container,
                                               Target target) const;

    // Why the stream is dropped; none when it stays.
    std::optional<std::string> issueMessage(const MediaStream& stream, OutputContainer container,
                                            Target target) const;
    // Why the container does not suit the target; none when it does or without a target.
    std::optional<std::string> playbackContainerMessage(OutputContainer container,
                                                        Target target) const;

    // The streams that are dropped / kept, in input order.
    std::vector<MediaStream> unsupportedStreams(const std::vector<MediaStream>& streams,
                                                OutputContainer container, Target target) const;
    std::vector<MediaStream> supportedStreams(const std::vector<MediaStream>& streams,
                                              OutputContainer container, Target target) const;
    // The containers, in Join's menu order, that take every stream copied unchanged (a subtitle
    // that would be converted does not count), and as many streams.
    std::vector<OutputContainer> containersHoldingUnchanged(
        const std::vector<MediaStream>& streams) const;
    // Why the container cannot take as many streams as `file` holds: an MP3 file holds one, its
    // audio. None when it can.
    static std::optional<std::string> streamCountMessage(const std::vector<MediaStream>& streams,
                                                         OutputContainer container,
                                                         const std::string& fileName);

    // Stream index -> "mov_text" / "webvtt" for every subtitle that is converted.
    StreamCodecOverrides subtitleCodecOverrides(const std::vector<MediaStream>& streams,
                                                OutputContainer container, Target target) const;
    // Stream index -> "hvc1" for HEVC video when the target is chosen in an MP4/M4V/MOV file.
    StreamCodecOverrides videoCodecTagOverrides(const std::vector<MediaStream>& streams,
                                                OutputContainer container, Target target) const;

    // Why copying `file`'s streams into the container would show a turned video on its side or
    // upside down; none when nothing is turned or the container keeps the turn.
    static std::optional<std::string> rotationMessage(const std::vector<MediaStream>& streams,
                                                      OutputContainer container,
                                                      const std::string& fileName);

    // Seconds an edit list hides at the start of `streams`' file, when it trims more than an
    // audio codec's priming: any hidden video, or audio hidden for longer than 0.1 s.
    static std::optional<double> trimmedStart(const std::vector<MediaStream>& streams);
    // Why copying `file`'s streams into the container would show what its edit list hides; none
    // when its start is not trimmed or the container keeps the edit list (the MP4 family).
    static std::optional<std::string> trimmedStartMessage(const std::vector<MediaStream>& streams,
                                                          OutputContainer container,
                                                          const std::string& fileName);
    // Why `file`'s video cannot be copied into the container: its packets have no presentation
    // times and its frames are reordered (H.264 or HEVC with B-frames in AVI), so no decoding
    // time says when a frame is shown; Matroska needs that time, the MP4 family would invent it
    // wrong, and only MPEG-1/2/4 video gets it generated exactly. None otherwise: frames shown
    // in decoding order are shown at their decoding times.
    static std::optional<std::string> untimedVideoMessage(const std::vector<MediaStream>& streams,
                                                          OutputContainer container,
                                                          const std::string& fileName);
    // Seconds as a sentence states them: "0.2 s".
    static std::string secondsText(double seconds);

  private:
    // "Opus audio cannot be copied into MOV by FFmpeg 5.1." when the installed release refuses
    // the pair; none otherwise.
    std::optional<std::string> installedRefusal(const MediaStream& stream,
                                                OutputContainer container) const;

    std::optional<FFmpegRelease> installed_;
    Writers writers_;
};

}  // namespace tavrolin
