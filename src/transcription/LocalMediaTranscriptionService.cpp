#include "transcription/LocalMediaTranscriptionService.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/CacheFolder.h"
#include "engine/FFmpegProgressTracker.h"
#include "model/CancellationError.h"
#include "probe/ProbeText.h"
#include "process/ModuleLoader.h"
#include "transcription/TranscriptionLocales.h"
#include "transcription/TranscriptionWorkingFolder.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr const char* noLanguagesMessage =
    "The on-device transcriber has no supported languages on this computer.";
constexpr const char* extractionFallback =
    "FFmpeg could not decode the selected audio stream for transcription.";

// Publishes the run's own stop source to cancel() for as long as the run lasts.
class CurrentRun {
  public:
    CurrentRun(std::mutex& mutex, std::stop_source*& slot, std::stop_source& source)
        : mutex_(mutex), slot_(slot) {
        std::lock_guard lock(mutex_);
        slot_ = &source;
    }
    ~CurrentRun() {
        std::lock_guard lock(mutex_);
        slot_ = nullptr;
    }
    CurrentRun(const CurrentRun&) = delete;
    CurrentRun& operator=(const CurrentRun&) = delete;

  private:
    std::mutex& mutex_;
    std::stop_source*& slot_;
};

}  // namespace

LocalMediaTranscriptionService::LocalMediaTranscriptionService(
    std::shared_ptr<ProcessRunning> runner, std::shared_ptr<SpeechRecognizerBackend> recognizer,
    ToolLocations locations, fs::path temporaryRoot, std::optional<fs::path> ffmpegOverride)
    : runner_(std::move(runner)),
      recognizer_(std::move(recognizer)),
      locations_(std::move(locations)),
      temporaryRoot_(temporaryRoot.empty() ? defaultTemporaryRoot() : std::move(temporaryRoot)),
      ffmpegOverride_(std::move(ffmpegOverride)) {}

fs::path LocalMediaTranscriptionService::defaultTemporaryRoot() {
    return tavrolinCacheFolder();
}

void LocalMediaTranscriptionService::removeAbandonedTemporaryDirectories() {
    {
        std::lock_guard lock(stateMutex_);
        if (std::exchange(removedAbandonedTemporaryDirectories_, true)) {
            return;
        }
    }
    TranscriptionWorkingFolder::removeAbandoned(temporaryRoot_);
}

TranscriptionCapability LocalMediaTranscriptionService::checkCapability() {
    removeAbandonedTemporaryDirectories();
    std::vector<TranscriptionLocale> locales;
    try {
        locales = transcriptionLocales(recognizer_->localeIdentifiers());
    } catch (const ModuleUnavailableError& missing) {
        return {{}, missing.what()};
    } catch (const std::exception&) {
        // An unreadable model folder offers no language; the check itself never fails.
    }
    if (locales.empty()) {
        return {{}, noLanguagesMessage};
    }
    return {std::move(locales), std::nullopt};
}

void LocalMediaTranscriptionService::cancel() {
    // Only through the run's own stop: it is marked stopped before its callbacks end ffmpeg, so
    // an extraction that sees its child end by the signal always finds the run cancelled.
    {
        std::lock_guard lock(stateMutex_);
        if (currentRun_ != nullptr) {
            currentRun_->request_stop();
        }
    }
    speechCancellation_.cancel();
}

std::vector<TranscriptFragment> LocalMediaTranscriptionService::transcribe(
    const fs::path& source, std::int64_t audioStreamIndex, const std::string& localeIdentifier,
    std::optional<double> mediaDuration, TranscriptionProgressHandler progress,
    std::stop_token stop) {
    std::lock_guard run(runMutex_);
    // The run stops on the caller's token and on cancel(); both end it as a cancellation.
    std::stop_source runStop;
    const std::stop_callback forward(stop, [&runStop] { runStop.request_stop(); });
    const CurrentRun current(stateMutex_, currentRun_, runStop);
    if (!progress) {
        progress = [](const TranscriptionProgress&) {};
    }
    const auto locale = recognizer_->equivalentLocale(localeIdentifier);
    if (!locale) {
        throw TranscriptionError::unsupportedLanguage();
    }
    return performTranscription(source, audioStreamIndex, *locale, mediaDuration, progress,
                                runStop.get_token());
}

std::vector<TranscriptFragment> LocalMediaTranscriptionService::performTranscription(
    const fs::path& source, std::int64_t audioStreamIndex, const std::string& locale,
    std::optional<double> mediaDuration, const TranscriptionProgressHandler& progress,
    std::stop_token stop) {
    throwIfStopped(stop);
    progress(TranscriptionProgress::preparingLanguageModel());
    // Shared with the cancel action: a cancel that copied the action just before the run ended
    // still reaches a live decoder.
    const std::shared_ptr<SpeechRecognition> recognition = recognizer_->prepare(locale);
    throwIfStopped(stop);

    const TranscriptionWorkingFolder folder(temporaryRoot_);
    const fs::path audio = folder.path() / "audio.wav";
    extractAudio(source, audioStreamIndex, audio, mediaDuration, progress, stop);

    // Stored before the stop check below, so a cancel from now on always reaches the decoder.
    speechCancellation_.store([recognition] { recognition->stop(); });
    struct ClearOnExit {
        SpeechAnalysisCancellationBox& box;
        ~ClearOnExit() { box.clear(); }
    } clearOnExit{speechCancellation_};
    const std::stop_callback stopDecoder(stop, [raw = recognition.get()] { raw->stop(); });

    std::vector<TranscriptFragment> fragments;
    progress(TranscriptionProgress::transcribing(0.0));
    recognition->decode(
        audio,
        [&](const SpeechRecognitionResult& result) {
            if (result.words.empty()) {
                return;
            }
            fragments.insert(fragments.end(), result.words.begin(), result.words.end());
        },
        [&](std::optional<double> fraction) {
            progress(TranscriptionProgress::transcribing(fraction));
        });
    // A stopped run never reports "no speech" or a partial transcript.
    throwIfStopped(stop);
    if (fragments.empty()) {
        throw TranscriptionError::noSpeech();
    }
    return fragments;
}

void LocalMediaTranscriptionService::extractAudio(const fs::path& source,
                                                  std::int64_t audioStreamIndex,
                                                  const fs::path& output,
                                                  std::optional<double> mediaDuration,
                                                  const TranscriptionProgressHandler& progress,
                                                  std::stop_token stop) {
    const bool knownDuration = mediaDuration && std::isfinite(*mediaDuration) && *mediaDuration > 0;
    progress(
        TranscriptionProgress::preparingAudio(knownDuration ? std::optional(0.0) : std::nullopt));
    const fs::path ffmpeg =
        ffmpegOverride_ ? *ffmpegOverride_ : FFmpegToolchain::resolve(locations_).ffmpeg;
    std::optional<FFmpegProgressTracker> tracker;
    if (knownDuration) {
        tracker.emplace(*mediaDuration, [&progress](double fraction) {
            progress(TranscriptionProgress::preparingAudio(fraction));
        });
    }
    ProcessOutputHandler handler;
    if (tracker) {
        handler = [&tracker](std::string_view chunk) { tracker->consume(chunk); };
    }
    const ProcessResult result = runner_->run(
        ffmpeg, commandBuilder_.arguments(source, audioStreamIndex, output), handler, stop);
    throwIfStopped(stop);
    if (result.terminationStatus != 0) {
        throw TranscriptionError::audioExtractionFailed(
            toolFailureText(result, "FFmpeg", extractionFallback));
    }
    progress(TranscriptionProgress::preparingAudio(1.0));
}

}  // namespace tavrolin
