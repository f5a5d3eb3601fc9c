#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "model/SubtitleCue.h"
#include "model/Transcription.h"

namespace tavrolin {

// The answer of a capability check: the spoken languages offered, or why there are none.
struct TranscriptionCapability {
    std::vector<TranscriptionLocale> locales;
    std::optional<std::string> unavailableMessage;  // set exactly when transcription is impossible

    bool isAvailable() const { return !unavailableMessage.has_value(); }
    friend bool operator==(const TranscriptionCapability&,
                           const TranscriptionCapability&) = default;
};

// Called from any thread, one call at a time, phases in order.
using TranscriptionProgressHandler = std::function<void(const TranscriptionProgress&)>;

// Turns one audio stream of a media file into timed fragments on this computer. Operations
// block and run on worker threads, never the GUI thread; one transcription runs at a time.
class MediaTranscribing {
  public:
    virtual ~MediaTranscribing() = default;

    // Never throws.
    virtual TranscriptionCapability checkCapability() = 0;

    // `audioStreamIndex` is ffmpeg's absolute stream index. Returns at least one fragment, in
    // time order. Throws TranscriptionError, MediaProcessingError (tool not found), file-system
    // errors, and CancellationError once `stop` or cancel() ended the run.
    virtual std::vector<TranscriptFragment> transcribe(const std::filesystem::path& source,
                                                       std::int64_t audioStreamIndex,
                                                       const std::string& localeIdentifier,
                                                       std::optional<double> mediaDuration,
                                                       TranscriptionProgressHandler progress,
                                                       std::stop_token stop = {}) = 0;

    // Stops the running extraction and recognition, if any. Any thread; never blocks on the run.
    virtual void cancel() = 0;
};

}  // namespace tavrolin
