// The view model's tasks around latched fake services: the capability check, the one
// inspection task, the batch run with cancellation and late progress, summaries, teardown.
#include "support/IdleServices.h"
#include "transcription/TranscriptionViewModel.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "engine/MediaProcessing.h"
#include "model/CancellationError.h"
#include "probe/MediaProbeError.h"
#include "queue/JobQueueViewModel.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Kind = BatchTranscriptionSourceStatus::Kind;
using Availability = TranscriptionWorkspaceAvailability::Kind;

namespace {

// A gate that a worker waits at until the test opens it once, or the stop token ends the wait.
class Latch {
  public:
    // True when opened, false when stopped.
    bool wait(std::stop_token stop) {
        // Registered before locking: a token stopped already runs the callback right here.
        std::stop_callback wake(stop, [this] {
            std::lock_guard inner(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait(lock, [&] { return opened_ > 0 || stop.stop_requested(); });
        if (opened_ > 0) {
            --opened_;  // open() already took this waiter off the count
            return true;
        }
        --waiting_;
        return false;
    }
    // Lets one waiting worker through.
    void open() {
        std::lock_guard lock(mutex_);
        ++opened_;
        --waiting_;
        changed_.notify_all();
    }
    int waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int opened_ = 0;
    int waiting_ = 0;
};

class LatchedProbe : public MediaProbing {
  public:
    Latch latch;
    std::mutex mutex;
    std::vector<std::string> calls;

    std::vector<MediaStream> inspectStreams(const fs::path& file, std::stop_token stop) override {
        record("streams " + file.filename().string());
        if (!latch.wait(stop)) {
            throw MediaProbeError::processFailed("ffprobe could not inspect this file.");
        }
        if (file.filename() == "broken.mkv") {
            throw MediaProbeError::processFailed("ffprobe could not inspect this file.");
        }
        MediaStream audio;
        audio.index = 1;
        audio.kind = MediaStreamKind::audio;
        audio.codecName = "aac";
        return {MediaStream{}, audio};
    }
    std::vector<ChapterMarker> inspectChapters(const fs::path& file,
                                               std::stop_token stop) override {
        record("chapters " + file.filename().string());
        if (stop.stop_requested()) {
            throw CancellationError();
        }
        return {};
    }
    std::optional<double> inspectDuration(const fs::path&, std::stop_token) override { return 4.0; }

  private:
    void record(std::string call) {
        std::lock_guard lock(mutex);
        calls.push_back(std::move(call));
    }
};

class LatchedTranscriber : public MediaTranscribing {
  public:
    Latch latch;
    TranscriptionCapability capability{{{"en-US", "English (United States)"}}, std::nullopt};
    std::atomic<int> cancels{0};
    std::function<void(const TranscriptionProgressHandler&)> beforeAnswer;

    TranscriptionCapability checkCapability() override { return capability; }
    std::vector<TranscriptFragment> transcribe(const fs::path& source, std::int64_t,
                                               const std::string&, std::optional<double>,
                                               TranscriptionProgressHandler progress,
                                               std::stop_token stop) override {
        progress(TranscriptionProgress::preparingAudio(0.5));
        if (!latch.wait(stop)) {
            throw CancellationError();
        }
        if (beforeAnswer) {
            beforeAnswer(progress);
        }
        if (source.filename() == "silent.mkv") {
            throw TranscriptionError::noSpeech();
        }
        return {{"hello " + source.stem().string(), 1.0, 2.0, 0.9}};
    }
    void cancel() override { ++cancels; }
};

class LatchedSummarizer : public ConversationSummarizing {
  public:
    Latch latch;
    ConversationSummaryAvailability availability() const override {
        return ConversationSummaryAvailability::available();
    }
    std::string summarize(const TranscriptConversation& conversation,
                          std::stop_token stop) override {
        if (!latch.wait(stop)) {
            throw CancellationError();
        }
        if (conversation.cues.front().text == "fails") {
            throw ConversationSummaryError::emptyResult();
        }
        return "About " + conversation.cues.front().text + ".";
    }
};

struct Fixture {
    // First member: the model posts to the application from its constructor on.
    QApplication& application = tavtest::qtApplication();
    tavtest::TempDir folder;
    std::shared_ptr<LatchedProbe> probe = std::make_shared<LatchedProbe>();
    std::shared_ptr<LatchedTranscriber> transcriber = std::make_shared<LatchedTranscriber>();
    std::shared_ptr<LatchedSummarizer> summarizer = std::make_shared<LatchedSummarizer>();
    JobQueueViewModel queue{std::make_shared<tavtest::IdleProcessor>()};
    std::unique_ptr<TranscriptionViewModel> model = std::make_unique<TranscriptionViewModel>(
        TranscriptionViewModel::Services{probe, transcriber, summarizer,
                                         std::make_shared<SubtitleFileExporter>(),
                                         std::make_shared<InMemoryPreferencesStore>()},
        queue, TranscriptionViewModel::Panels{});

    const TranscriptionWorkspaceState& state() const { return model->state(); }
    fs::path file(const std::string& name) {
        std::ofstream(folder / name) << "x";
        return folder / name;
    }
    Kind status(std::size_t i) const { return state().sources.at(i).status.kind; }
    // The capability answer comes from a worker: a loaded machine may give it late.
    bool available() const {
        return tavtest::waitUntil(
            [&] { return state().availability.kind == Availability::available; }, 30000);
    }
    // Opens the probe's latch for every source until all are inspected.
    void inspectAll() {
        ASSERT_TRUE(tavtest::waitUntil([&] {
            if (probe->latch.waiting() > 0) {
                probe->latch.open();
            }
            return !model->isInspecting();
        }));
    }
};

}  // namespace

TEST(TranscriptionViewModel, InspectsOneSourceAtATimeAndSurvivesRemovalOfAnother) {
    Fixture f;
    ASSERT_TRUE(f.available());
    ASSERT_TRUE(f.model->addSources({f.file("a.mkv"), f.file("b.mkv"), f.file("broken.mkv")}));
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.probe->latch.waiting() == 1; }));
    EXPECT_EQ(f.status(0), Kind::inspecting);
    EXPECT_EQ(f.status(1), Kind::pendingInspection);

    // Removing another source stops a's probe; a goes back to pending and is inspected again.
    f.model->removeSource(f.state().sources.at(1).id);
    ASSERT_TRUE(tavtest::waitUntil([&] {
        std::lock_guard lock(f.probe->mutex);
        return f.probe->calls.size() == 2 && f.probe->latch.waiting() == 1;
    }));
    ASSERT_EQ(f.state().sources.size(), 2u);
    EXPECT_EQ(f.status(0), Kind::inspecting);
    EXPECT_EQ(f.probe->calls, (std::vector<std::string>{"streams a.mkv", "streams a.mkv"}));
    f.inspectAll();
    EXPECT_EQ(f.status(0), Kind::ready);
    EXPECT_EQ(f.state().sources[0].selectedLocaleIdentifier, "en-US");
    EXPECT_EQ(f.state().sources[1].status,
              BatchTranscriptionSourceStatus::failed("ffprobe could not inspect this file."));
    EXPECT_EQ(f.probe->calls.back(), "streams broken.mkv");
}

TEST(TranscriptionViewModel, BatchRunAppendsCancelsAndDropsLateProgress) {
    Fixture f;
    ASSERT_TRUE(f.available());
    f.model->addSources({f.file("a.mkv"), f.file("silent.mkv"), f.file("c.mkv")});
    f.inspectAll();

    // A late report from a's worker arrives after a finished.
    TranscriptionProgressHandler lateReport;
    f.transcriber->beforeAnswer = [&](const TranscriptionProgressHandler& report) {
        if (!lateReport) {
            lateReport = report;
        }
    };
    QSignalSpy spy(f.model.get(), &TranscriptionViewModel::changed);
    f.model->startTranscription({f.state().sources[0].id, f.state().sources[1].id});
    f.model->addSelectedSourceToTranscriptionQueue(f.state().sources[2].id);
    EXPECT_EQ(f.state().batchTotalCount, 3);
    EXPECT_EQ(f.state().message, "Added c.mkv to the transcription queue.");
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.transcriber->latch.waiting() == 1; }));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return f.state().progress == TranscriptionProgress::preparingAudio(0.5); }));
    f.transcriber->latch.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.transcriber->latch.waiting() == 1; }));
    EXPECT_EQ(f.status(0), Kind::completed);
    lateReport(TranscriptionProgress::transcribing(0.99));
    f.transcriber->latch.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.transcriber->latch.waiting() == 1; }));
    EXPECT_NE(f.state().sources[2].progress, TranscriptionProgress::transcribing(0.99));
    EXPECT_EQ(f.state().sources[1].status,
              BatchTranscriptionSourceStatus::failed(TranscriptionError::noSpeech().what()));
    EXPECT_EQ(f.state().batchProgressText(), "File 3 of 3");
    EXPECT_GT(spy.count(), 3);

    // Cancelling the last position: it never counts as failed and nothing follows.
    f.model->cancelTranscription();
    EXPECT_EQ(f.transcriber->cancels, 1);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isTranscribing; }));
    EXPECT_EQ(f.status(2), Kind::ready);
    EXPECT_EQ(f.state().message, "Cancelled batch transcription. Pending files were not started.");

    // Removing is refused during a run, allowed after it.
    f.model->startTranscription({f.state().sources[2].id});
    f.model->removeSource(f.state().sources[2].id);
    EXPECT_EQ(f.state().sources.size(), 3u);
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.transcriber->latch.waiting() == 1; }));
    f.transcriber->latch.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isTranscribing; }));
    EXPECT_EQ(f.state().message, "Transcribed 1 file. Review the results before exporting.");
}

TEST(TranscriptionViewModel, CancelAtEachPhaseEndsTheRunAsCancelled) {
    enum class Phase { beforeTheWorkerStarts, whileTranscribing, afterTheServiceAnswered };
    struct Row {
        const char* name;
        Phase phase;
    };
    for (const auto& row :
         std::vector<Row>{{"before the worker starts", Phase::beforeTheWorkerStarts},
                          {"while transcribing", Phase::whileTranscribing},
                          {"after the service answered", Phase::afterTheServiceAnswered}}) {
        SCOPED_TRACE(row.name);
        Fixture f;
        f.model->addSources({f.file("a.mkv"), f.file("b.mkv")});
        f.inspectAll();
        if (row.phase == Phase::afterTheServiceAnswered) {
            // The service returns a transcript although the cancel came first.
            f.transcriber->beforeAnswer = [&](const TranscriptionProgressHandler&) {
                QMetaObject::invokeMethod(
                    f.model.get(), [&] { f.model->cancelTranscription(); },
                    Qt::BlockingQueuedConnection);
            };
        }
        f.model->startTranscription({f.state().sources[0].id, f.state().sources[1].id});
        if (row.phase == Phase::beforeTheWorkerStarts) {
            f.model->cancelTranscription();
        } else {
            ASSERT_TRUE(tavtest::waitUntil([&] { return f.transcriber->latch.waiting() == 1; }));
            if (row.phase == Phase::whileTranscribing) {
                f.model->cancelTranscription();
            } else {
                f.transcriber->latch.open();
            }
        }
        ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isTranscribing; }));
        QTest::qWait(20);
        EXPECT_EQ(f.status(0), Kind::ready);
        EXPECT_EQ(f.status(1), Kind::ready);
        EXPECT_TRUE(f.state().sources[0].cues.empty());
        EXPECT_EQ(f.state().message,
                  "Cancelled batch transcription. Pending files were not started.");
        EXPECT_EQ(f.transcriber->latch.waiting(), 0);
    }
}

TEST(TranscriptionViewModel, SummariesDropResultsForEditedConversations) {
    Fixture f;
    f.model->addSources({f.file("a.mkv")});
    f.inspectAll();
    f.model->setCues({{1, 1, 2, "first", {}}, {2, 30, 31, "fails", {}}, {3, 60, 61, "third", {}}});
    f.model->summarizeConversations(false);
    EXPECT_TRUE(f.state().isSummarizingConversations);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(tavtest::waitUntil([&] { return f.summarizer->latch.waiting() == 1; }));
        f.summarizer->latch.open();
    }
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.summarizer->latch.waiting() == 1; }));
    auto edited = f.state().cues();
    edited[2].text = "edited";
    f.model->setCues(edited);
    f.summarizer->latch.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isSummarizingConversations; }));
    EXPECT_EQ(f.state().conversationSummaries,
              (std::map<std::int64_t, std::string>{{1, "About first."}}));
    EXPECT_EQ(f.state().conversationSummaryNotice,
              "Summarized 1 conversation; 1 shows its dialogue preview. The on-device language "
              "model returned an empty conversation summary. Make sure the local language model "
              "server is running, then choose Refresh Summaries.");

    // A new selection resets a running summary without a notice.
    f.model->summarizeConversations(false);
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.summarizer->latch.waiting() == 1; }));
    f.model->clearSelectedTranscript();
    EXPECT_FALSE(f.state().isSummarizingConversations);
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.summarizer->latch.waiting() == 0; }));
    QTest::qWait(20);
    EXPECT_FALSE(f.state().conversationSummaryNotice);
}

TEST(TranscriptionViewModel, TeardownStopsEveryTaskAndCancelsTheService) {
    Fixture f;
    f.model->addSources({f.file("a.mkv"), f.file("b.mkv")});
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.probe->latch.waiting() == 1; }));
    f.probe->latch.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.probe->latch.waiting() == 1; }));
    ASSERT_TRUE(f.available());
    f.model->startTranscription({f.state().sources[0].id});
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.transcriber->latch.waiting() == 1; }, 30000));
    f.model.reset();
    EXPECT_EQ(f.transcriber->cancels, 1);
    // The workers are stopped, not waited for: they end on their own.
    EXPECT_TRUE(tavtest::waitUntil(
        [&] { return f.transcriber->latch.waiting() == 0 && f.probe->latch.waiting() == 0; }));
}
