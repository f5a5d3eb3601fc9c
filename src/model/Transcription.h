#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/ChapterMarker.h"
#include "model/FileIdentity.h"
#include "model/MediaStream.h"
#include "model/OutputContainer.h"
#include "model/SubtitleCue.h"
#include "model/Uuid.h"

namespace tavrolin {

// The stage of a running transcription.
struct TranscriptionProgress {
    enum class Stage { preparingAudio, transcribing, preparingLanguageModel };
    Stage stage = Stage::preparingAudio;
    std::optional<double> fraction;  // none: unknown; always none for preparingLanguageModel

    static TranscriptionProgress preparingAudio(std::optional<double> fraction) {
        return {Stage::preparingAudio, fraction};
    }
    static TranscriptionProgress transcribing(std::optional<double> fraction) {
        return {Stage::transcribing, fraction};
    }
    static TranscriptionProgress preparingLanguageModel() {
        return {Stage::preparingLanguageModel, std::nullopt};
    }

    friend bool operator==(const TranscriptionProgress&, const TranscriptionProgress&) = default;
};

// One spoken language the recogniser supports; identity is `identifier`.
struct TranscriptionLocale {
    std::string identifier;
    std::string displayName;

    friend bool operator==(const TranscriptionLocale&, const TranscriptionLocale&) = default;
};

struct BatchTranscriptionSourceStatus {
    enum class Kind {
        pendingInspection,
        inspecting,
        ready,
        queued,
        transcribing,
        completed,
        failed
    };
    Kind kind = Kind::pendingInspection;
    std::string message;  // for failed

    static BatchTranscriptionSourceStatus failed(std::string message) {
        return {Kind::failed, std::move(message)};
    }

    friend bool operator==(const BatchTranscriptionSourceStatus&,
                           const BatchTranscriptionSourceStatus&) = default;
};

// The state of one file in the batch transcription workspace; identity is `id`.
struct BatchTranscriptionSource {
    Uuid id;
    std::filesystem::path url;
    // The file `url` led to when its streams were read (off the GUI thread); none before.
    std::optional<FileIdentity> identity;
    std::vector<MediaStream> sourceStreams;
    std::vector<MediaStream> audioStreams;
    std::optional<double> mediaDuration;
    std::optional<std::int64_t> selectedAudioStreamIndex;
    std::string selectedLocaleIdentifier;
    std::vector<SubtitleCue> cues;
    double subtitleTimingOffset = 0;
    std::vector<ChapterMarker> chapters;
    OutputContainer mediaOutputContainer = OutputContainer::mkv;
    BatchTranscriptionSourceStatus status;
    std::optional<TranscriptionProgress> progress;

    friend bool operator==(const BatchTranscriptionSource&,
                           const BatchTranscriptionSource&) = default;
};

// A run of consecutive cues that belong together; identity is `id` (its first cue's id).
struct TranscriptConversation {
    std::int64_t id = 0;
    std::int64_t ordinal = 0;
    double startTime = 0;
    double endTime = 0;
    std::vector<SubtitleCue> cues;

    // The dialogue in one line, at most 118 characters with a trailing ellipsis.
    std::string previewText() const;
    // Tells whether an earlier summary still fits; valid only within one run of the program.
    std::uint64_t contentFingerprint() const;

    friend bool operator==(const TranscriptConversation&, const TranscriptConversation&) = default;
};

struct BatchTranscriptSearchResult {
    Uuid sourceID;
    std::filesystem::path sourceURL;
    SubtitleCue cue;

    // The source's UUID text, a hyphen and the cue's id.
    std::string id() const { return sourceID.toString() + "-" + std::to_string(cue.id); }

    friend bool operator==(const BatchTranscriptSearchResult&,
                           const BatchTranscriptSearchResult&) = default;
};

struct ConversationSummaryAvailability {
    bool isAvailable = false;
    std::string message;

    static ConversationSummaryAvailability available() { return {true, {}}; }
    static ConversationSummaryAvailability unavailable(std::string message) {
        return {false, std::move(message)};
    }

    friend bool operator==(const ConversationSummaryAvailability&,
                           const ConversationSummaryAvailability&) = default;
};

// The failure of a transcription or transcript step; what() is the user-facing message.
class TranscriptionError : public std::runtime_error {
  public:
    enum class Case {
        audioExtractionFailed,
        invalidCues,
        invalidChapters,
        unsupportedHardware,
        unsupportedLanguage,
        noSpeech,
        outputExists
    };

    static TranscriptionError audioExtractionFailed(const std::string& message);
    static TranscriptionError invalidCues(const std::string& message);
    static TranscriptionError invalidChapters(const std::string& message);
    static TranscriptionError unsupportedHardware();
    static TranscriptionError unsupportedLanguage();
    static TranscriptionError noSpeech();
    static TranscriptionError outputExists();

    Case errorCase() const { return case_; }

  private:
    TranscriptionError(Case errorCase, const std::string& message)
        : std::runtime_error(message), case_(errorCase) {}
    Case case_;
};

}  // namespace tavrolin

template <>
struct std::hash<tavrolin::TranscriptionLocale> {
    std::size_t operator()(const tavrolin::TranscriptionLocale& locale) const noexcept {
        const std::size_t first = std::hash<std::string>{}(locale.identifier);
        return first ^ (std::hash<std::string>{}(locale.displayName) + 0x9E3779B97F4A7C15ULL +
                        (first << 6) + (first >> 2));
    }
};
