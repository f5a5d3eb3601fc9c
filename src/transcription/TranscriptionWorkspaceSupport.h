#pragma once

// Small rules shared by the translation units of the Transcribe page; not for use elsewhere.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/TextMetrics.h"
#include "model/Transcription.h"

namespace tavrolin::workspace {

inline std::string fileName(const std::filesystem::path& file) {
    return file.filename().string();
}

inline bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return lowercased(a) == lowercased(b);
}

inline bool isSupported(const std::vector<TranscriptionLocale>& locales,
                        const std::string& identifier) {
    return std::any_of(locales.begin(), locales.end(), [&](const TranscriptionLocale& locale) {
        return equalsIgnoringCase(locale.identifier, identifier);
    });
}

inline std::optional<MediaStream> streamWithIndex(const BatchTranscriptionSource& source,
                                                  std::optional<std::int64_t> index) {
    if (!index) {
        return std::nullopt;
    }
    for (const auto& stream : source.audioStreams) {
        if (stream.index == *index) {
            return stream;
        }
    }
    return std::nullopt;
}

inline bool isInspecting(const BatchTranscriptionSource& source) {
    using Kind = BatchTranscriptionSourceStatus::Kind;
    return source.status.kind == Kind::pendingInspection || source.status.kind == Kind::inspecting;
}

inline bool isTranscribable(const BatchTranscriptionSource& source) {
    return source.cues.empty() && source.selectedAudioStreamIndex &&
           !source.selectedLocaleIdentifier.empty() && !isInspecting(source);
}

inline std::string plural(int count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// Why an export is unavailable, shown beside its button: what blocks it, else the running
// transcription or the output-folder check it waits for; nothing while it is available.
inline std::optional<std::string> exportUnavailableReason(const std::optional<std::string>& blocker,
                                                          bool isTranscribing,
                                                          bool isCheckingOutputFolder) {
    if (blocker) {
        return blocker;
    }
    if (isTranscribing) {
        return "Exports wait until the transcription finishes.";
    }
    if (isCheckingOutputFolder) {
        return "Checking that the output folder can be written…";
    }
    return std::nullopt;
}

inline void hashCombine(std::uint64_t& seed, std::uint64_t value) {
    seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
}

inline std::vector<ChapterMarker> sortedChapters(std::vector<ChapterMarker> chapters) {
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const auto& a, const auto& b) { return a.startTime < b.startTime; });
    return chapters;
}

}  // namespace tavrolin::workspace
