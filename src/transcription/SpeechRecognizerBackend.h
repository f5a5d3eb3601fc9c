#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/SubtitleCue.h"

namespace tavrolin {

// One stretch of recognised audio: its words with their own times, and the stretch's span.
struct SpeechRecognitionResult {
    std::vector<TranscriptFragment> words;
    double startTime = 0;
    double endTime = 0;
};

// One decoder for one run, used on the thread that called SpeechRecognizerBackend::prepare.
// Only stop() may be called from another thread.
class SpeechRecognition {
  public:
    virtual ~SpeechRecognition() = default;

    // Decodes a 16 kHz mono 16-bit PCM WAV file. `onResult` gets each stretch in time order,
    // `onProgress` the fraction of the file decoded (none when its length is unknown). Returns
    // early, without the last stretch, once stop() was called. Throws std::runtime_error for a
    // file it cannot read.
    virtual void decode(const std::filesystem::path& wavFile,
                        const std::function<void(const SpeechRecognitionResult&)>& onResult,
                        const std::function<void(std::optional<double>)>& onProgress) = 0;

    // Makes a running or later decode return within one chunk of audio. Any thread.
    virtual void stop() = 0;
};

// The speech recogniser of this computer: which spoken languages it has, and decoders for them.
// The locale queries may be called from any thread.
class SpeechRecognizerBackend {
  public:
    virtual ~SpeechRecognizerBackend() = default;

    // Canonical identifiers such as "en-US", in no particular order.
    virtual std::vector<std::string> localeIdentifiers() const = 0;
    // The supported identifier that stands for `identifier` ("en_us " gives "en-US"; "en" gives
    // the first supported English locale); none when no supported locale fits.
    virtual std::optional<std::string> equivalentLocale(std::string_view identifier) const = 0;
    // Loads the model of a supported identifier. Throws std::runtime_error when it cannot.
    virtual std::unique_ptr<SpeechRecognition> prepare(const std::string& identifier) = 0;
};

}  // namespace tavrolin
