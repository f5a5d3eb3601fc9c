#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {

// The raw values are ffprobe's codec_type texts.
enum class MediaStreamKind { video, audio, subtitle };

inline constexpr std::array<MediaStreamKind, 3> allMediaStreamKinds{
    MediaStreamKind::video, MediaStreamKind::audio, MediaStreamKind::subtitle};

std::string_view rawValue(MediaStreamKind kind);
std::optional<MediaStreamKind> mediaStreamKindFromRaw(std::string_view raw);

// One stream of a source file as ffprobe reports it. Its identity is `index`.
struct MediaStream {
    std::int64_t index = 0;
    MediaStreamKind kind = MediaStreamKind::video;
    std::string codecName;
    std::optional<std::string> codecLongName;
    std::optional<std::string> language;
    std::optional<std::string> title;
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<std::int64_t> channelCount;
    std::optional<std::string> channelLayout;
    std::optional<std::int64_t> sampleRate;  // audio samples per second
    std::optional<std::string> profile;
    std::optional<std::int64_t> level;
    std::optional<std::string> pixelFormat;
    std::optional<std::string> colorTransfer;
    std::optional<std::string> colorPrimaries;
    std::optional<std::string> colorSpace;
    std::optional<std::string> codecTag;
    // Degrees clockwise (90, 180 or 270) a video is turned for display, from its display matrix
    // or `rotate` tag; none when shown as stored.
    std::optional<int> rotation;
    // Seconds of this stream the file's edit list reads but hides before what it shows (an MP4
    // cut after a keyframe, or an audio codec's priming); 0 when none.
    double hiddenStart = 0;
    // Whether some of its first packets carry a decoding time but no presentation time (AVI,
    // MPEG program streams).
    bool lacksPresentationTimes = false;
    // Whether its decoder shows frames in another order than they come (B-frames): a packet's
    // decoding time is then not when it is shown.
    bool reordersFrames = false;
    bool isDefault = false;
    bool isForced = false;

    std::int64_t id() const { return index; }

    // Names the stream for lists and pickers.
    std::string displayTitle() const;
    // One line of technical facts: codec, profile, resolution or channels, language.
    std::string technicalSummary() const;
    // The label in the transcription workspace's audio-track picker.
    std::string pickerLabel() const;

    friend bool operator==(const MediaStream&, const MediaStream&) = default;
};

// Joins parts with " · " (space, middle dot, space).
std::string joinWithMiddleDot(const std::vector<std::string>& parts);

}  // namespace tavrolin

// Hashes all twenty-three fields, like equality.
template <>
struct std::hash<tavrolin::MediaStream> {
    std::size_t operator()(const tavrolin::MediaStream& stream) const noexcept;
};
