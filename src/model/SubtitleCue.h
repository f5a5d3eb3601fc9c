#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavrolin {

// One timed line of a transcript; `id` is its position counting from 1.
struct SubtitleCue {
    std::int64_t id = 0;
    double startTime = 0;
    double endTime = 0;
    std::string text;
    std::optional<double> confidence;

    friend bool operator==(const SubtitleCue&, const SubtitleCue&) = default;
};

// One piece of recognised speech, the input of cue segmentation.
struct TranscriptFragment {
    std::string text;
    double startTime = 0;
    double endTime = 0;
    std::optional<double> confidence;

    friend bool operator==(const TranscriptFragment&, const TranscriptFragment&) = default;
};

enum class SubtitleFileFormat { srt, webVTT };

// "srt" or "vtt".
inline const char* fileExtension(SubtitleFileFormat format) {
    return format == SubtitleFileFormat::srt ? "srt" : "vtt";
}

}  // namespace tavrolin
