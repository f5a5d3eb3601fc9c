#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>

#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"
#include "process/SpeechAnalysisCancellationBox.h"
#include "transcription/FFmpegAudioExtractionCommandBuilder.h"
#include "transcription/MediaTranscribing.h"
#include "transcription/SpeechRecognizerBackend.h"

namespace tavrolin {

// Transcribes on this computer: extracts the chosen audio stream with ffmpeg into "audio.wav"
// in a locked working folder under the cache folder, then decodes it with the speech
// recogniser. Runs are serialised (one at a time, on the calling worker thread); cancel() and
// the stop token end a run within one chunk of audio, terminating ffmpeg, and the run then
// throws CancellationError and leaves no folder. The first capability check of each instance
// removes working folders that earlier runs left behind. Workers that call it keep it alive
// (hold it by shared_ptr) until they return.
class LocalMediaTranscriptionService final : public MediaTranscribing {
  public:
    // `temporaryRoot` defaults to defaultTemporaryRoot(); `ffmpegOverride` replaces the located
    // ffmpeg (tests).
    LocalMediaTranscriptionService(std::shared_ptr<ProcessRunning> runner,
                                   std::shared_ptr<SpeechRecognizerBackend> recognizer,
                                   ToolLocations locations,
                                   std::filesystem::path temporaryRoot = {},
                                   std::optional<std::filesystem::path> ffmpegOverride = {});

    // $XDG_CACHE_HOME/tavrolin
    static std::filesystem::path defaultTemporaryRoot();

    TranscriptionCapability checkCapability() override;
    std::vector<TranscriptFragment> transcribe(const std::filesystem::path& source,
                                               std::int64_t audioStreamIndex,
                                               const std::string& localeIdentifier,
                                               std::optional<double> mediaDuration,
                                               TranscriptionProgressHandler progress,
                                               std::stop_token stop = {}) override;
    void cancel() override;

    // Once per instance; later calls do nothing.
    void removeAbandonedTemporaryDirectories();

  private:
    std::vector<TranscriptFragment> performTranscription(
        const std::filesystem::path& source, std::int64_t audioStreamIndex,
        const std::string& locale, std::optional<double> mediaDuration,
        const TranscriptionProgressHandler& progress, std::stop_token stop);
    void extractAudio(const std::filesystem::path& source, std::int64_t audioStreamIndex,
                      const std::filesystem::path& output, std::optional<double> mediaDuration,
                      const TranscriptionProgressHandler& progress, std::stop_token stop);

    const std::shared_ptr<ProcessRunning> runner_;
    const std::shared_ptr<SpeechRecognizerBackend> recognizer_;
    const FFmpegAudioExtractionCommandBuilder commandBuilder_{};
    const ToolLocations locations_;
    const std::filesystem::path temporaryRoot_;
    const std::optional<std::filesystem::path> ffmpegOverride_;
    SpeechAnalysisCancellationBox speechCancellation_;

    std::mutex runMutex_;  // held for a whole run: runs never overlap
    std::mutex stateMutex_;
    bool removedAbandonedTemporaryDirectories_ = false;
    std::stop_source* currentRun_ = nullptr;  // the running run's own stop source
};

}  // namespace tavrolin
