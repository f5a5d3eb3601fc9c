#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/ChapterMarker.h"
#include "model/MediaStream.h"
#include "model/SubtitleCue.h"

namespace tavrolin {

using StreamCodecOverrides = std::map<std::int64_t, std::string>;

struct RemuxRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    // Mapped in list order, so this is the output's stream order.
    std::vector<MediaStream> selectedStreams;
    StreamCodecOverrides subtitleCodecOverrides;  // stream index -> "mov_text", "webvtt"
    StreamCodecOverrides videoCodecTagOverrides;  // stream index -> "hvc1"

    friend bool operator==(const RemuxRequest&, const RemuxRequest&) = default;
};

struct JoinRequest {
    std::vector<std::filesystem::path> inputs;
    std::filesystem::path output;

    friend bool operator==(const JoinRequest&, const JoinRequest&) = default;
};

// The video frames a split's part must hold, counted from its source beforehand.
struct SplitFrameCount {
    std::int64_t packets = 0;  // of the first video stream, none of the frames lost at its end
    // The frames just before its end keyframe that no stream copy can keep (leading pictures).
    int lostAtEnd = 0;
    // Its start keyframe's own leading pictures, which the part cannot show either.
    int lostAtStart = 0;
    // Where its video stops in decoding order: a decoding time of the file's own between its
    // last packet and its end keyframe. None: not known.
    std::optional<double> stop = std::nullopt;
    // How long before its start keyframe the keyframe before it is shown (infinite: none); 0
    // when not known.
    double keyframeGap = 0;

    friend bool operator==(const SplitFrameCount&, const SplitFrameCount&) = default;
};

struct SplitRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    // In the file's own timestamps. At or before its first one (-infinity: wherever that lies,
    // negative or not) the part starts where the file does.
    double startTime = 0;
    std::optional<double> endTime;  // none: to the end of the file
    // None when the source's frames were not counted; the written part is checked against it.
    std::optional<SplitFrameCount> frames = std::nullopt;
    // The first video stream is one picture over longer sound (a title card): the part shows it
    // from its start to its end, wherever the cut.
    bool stillPicture = false;

    friend bool operator==(const SplitRequest&, const SplitRequest&) = default;
};

struct ChapterRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    std::vector<ChapterMarker> chapters;

    friend bool operator==(const ChapterRequest&, const ChapterRequest&) = default;
};

struct TranscriptionMediaRequest {
    std::filesystem::path input;
    std::filesystem::path output;
    std::vector<MediaStream> selectedStreams;
    bool mapsEverySourceStream = false;
    StreamCodecOverrides subtitleCodecOverrides;
    std::vector<SubtitleCue> cues;
    std::vector<ChapterMarker> chapters;
    std::string subtitleLanguage;
    // The output names the input, which is replaced only after verification.
    bool replacesInput = false;

    friend bool operator==(const TranscriptionMediaRequest&,
                           const TranscriptionMediaRequest&) = default;
};

// One media-writing operation.
struct ProcessingRequest {
    using Payload = std::variant<RemuxRequest, JoinRequest, SplitRequest, ChapterRequest,
                                 TranscriptionMediaRequest>;
    Payload payload;

    ProcessingRequest() = default;
    ProcessingRequest(RemuxRequest request) : payload(std::move(request)) {}
    ProcessingRequest(JoinRequest request) : payload(std::move(request)) {}
    ProcessingRequest(SplitRequest request) : payload(std::move(request)) {}
    ProcessingRequest(ChapterRequest request) : payload(std::move(request)) {}
    ProcessingRequest(TranscriptionMediaRequest request) : payload(std::move(request)) {}

    template <typename T>
    const T* as() const {
        return std::get_if<T>(&payload);
    }

    // The job's title in the queue views ("Remux a b.mkv", "Join 2 files").
    std::string title() const;
    // The file the job writes, and the files it reads (in order).
    const std::filesystem::path& output() const;
    std::vector<std::filesystem::path> inputs() const;

    friend bool operator==(const ProcessingRequest&, const ProcessingRequest&) = default;
};

}  // namespace tavrolin
