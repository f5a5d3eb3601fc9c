#pragma once

// Services that answer at once and do nothing, for tests and benchmarks whose subject lies
// elsewhere. Header-only: the core test support library links no engine or transcription code.
#include "engine/MediaProcessing.h"
#include "probe/MediaProbing.h"
#include "transcription/ConversationSummarizing.h"
#include "transcription/MediaTranscribing.h"

namespace tavtest {

// Ends every job at once without writing anything.
class IdleProcessor final : public tavrolin::MediaProcessing {
  public:
    void process(const tavrolin::ProcessingRequest&, tavrolin::ProgressCallback,
                 std::stop_token) override {}
    void cancel() override {}
};

// Every file holds an H.264 video stream and an AAC audio stream (index 1), no chapters, and
// lasts `duration` seconds.
class VideoWithAudioProbe final : public tavrolin::MediaProbing {
  public:
    explicit VideoWithAudioProbe(double duration) : duration_(duration) {}

    std::vector<tavrolin::MediaStream> inspectStreams(const std::filesystem::path&,
                                                      std::stop_token) override {
        tavrolin::MediaStream video;
        video.codecName = "h264";
        tavrolin::MediaStream audio;
        audio.index = 1;
        audio.kind = tavrolin::MediaStreamKind::audio;
        audio.codecName = "aac";
        return {video, audio};
    }
    std::vector<tavrolin::ChapterMarker> inspectChapters(const std::filesystem::path&,
                                                         std::stop_token) override {
        return {};
    }
    std::optional<double> inspectDuration(const std::filesystem::path&, std::stop_token) override {
        return duration_;
    }

  private:
    double duration_;
};

// No summariser is configured.
class NoSummaries final : public tavrolin::ConversationSummarizing {
  public:
    tavrolin::ConversationSummaryAvailability availability() const override {
        return tavrolin::ConversationSummaryAvailability::unavailable("Not configured.");
    }
    std::string summarize(const tavrolin::TranscriptConversation&, std::stop_token) override {
        throw tavrolin::ConversationSummaryError::unavailable();
    }
};

// English (United States) is supported, and every run hears no words.
class NoTranscriber final : public tavrolin::MediaTranscribing {
  public:
    tavrolin::TranscriptionCapability checkCapability() override {
        return {{{"en-US", "English (United States)"}}, std::nullopt};
    }
    std::vector<tavrolin::TranscriptFragment> transcribe(const std::filesystem::path&, std::int64_t,
                                                         const std::string&, std::optional<double>,
                                                         tavrolin::TranscriptionProgressHandler,
                                                         std::stop_token) override {
        return {};
    }
    void cancel() override {}
};

}  // namespace tavtest
