#pragma once

// The Transcribe views' tests: fake probe, gated transcriber, no summariser, and a fixture with
// the real view model and the workspace view over them.
#include "transcription/TranscriptionView.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <thread>

#include "engine/FFmpegPreviewService.h"
#include "engine/MediaProcessing.h"
#include "model/CancellationError.h"
#include "preview/SplitPreviewViewModel.h"
#include "process/FoundationProcessRunner.h"
#include "queue/JobQueueViewModel.h"
#include "support/IdleServices.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "transcription/SubtitleSyncReviewSheet.h"
#include "transcription/TranscriptCueList.h"
#include "transcription/TranscriptReviewArea.h"
#include "transcription/TranscriptTimelineView.h"
#include "transcription/TranscriptionSettingsPanel.h"
#include "transcription/TranscriptionSourceList.h"
#include "transcription/TranscriptionViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Kind = BatchTranscriptionSourceStatus::Kind;

namespace {

// Answers once `open` is set; a stop ends the wait as a cancellation.
class GatedTranscriber : public MediaTranscribing {
  public:
    std::atomic<bool> open{true};

    TranscriptionCapability checkCapability() override {
        return {{{"en-US", "English (United States)"}}, std::nullopt};
    }
    std::vector<TranscriptFragment> transcribe(const fs::path& source, std::int64_t,
                                               const std::string&, std::optional<double>,
                                               TranscriptionProgressHandler progress,
                                               std::stop_token stop) override {
        progress(TranscriptionProgress::transcribing(0.125));
        while (!open) {
            if (stop.stop_requested()) {
                throw CancellationError();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return {{"hello " + source.stem().string(), 1.0, 2.0, 0.9},
                {"<i>hi</i> again", 9.0, 10.0, 0.9}};
    }
    void cancel() override {}
};

struct Fixture {
    QApplication& application = tavtest::qtApplication();
    tavtest::TempDir folder;
    std::shared_ptr<GatedTranscriber> transcriber = std::make_shared<GatedTranscriber>();
    JobQueueViewModel queue{std::make_shared<tavtest::IdleProcessor>()};
    TranscriptionViewModel model{
        TranscriptionViewModel::Services{std::make_shared<tavtest::VideoWithAudioProbe>(4.0),
                                         transcriber, std::make_shared<tavtest::NoSummaries>(),
                                         std::make_shared<SubtitleFileExporter>(),
                                         std::make_shared<InMemoryPreferencesStore>()},
        queue, TranscriptionViewModel::Panels{}};
    TranscriptionView view{model, queue, nullptr};

    const TranscriptionWorkspaceState& state() const { return model.state(); }
    fs::path file(const std::string& name) {
        std::ofstream(folder / name) << "x";
        return folder / name;
    }
    void addAndInspect(const std::vector<std::string>& names) {
        std::vector<fs::path> files;
        for (const auto& name : names) {
            files.push_back(file(name));
        }
        ASSERT_TRUE(tavtest::waitUntil([&] {
            return state().availability.kind == TranscriptionWorkspaceAvailability::Kind::available;
        }));
        ASSERT_TRUE(model.addSources(files));
        ASSERT_TRUE(tavtest::waitUntil([&] {
            return std::ranges::all_of(state().sources,
                                       [](const auto& s) { return s.status.kind == Kind::ready; });
        }));
        settle();
    }
    // One transcribed source holding `cues`, shown in a window-sized view.
    void showTranscript(const std::vector<SubtitleCue>& cues) {
        addAndInspect({"talk.mkv"});
        model.transcribeAllReadySources();
        ASSERT_TRUE(tavtest::waitUntil([&] { return state().transcribedSourceCount() == 1; }));
        model.setCues(cues);
        view.resize(1200, 800);
        view.show();
        settle();
    }
    // The export outputs are asked about off the GUI thread after every change.
    void settle() {
        QTest::qWait(1);
        ASSERT_TRUE(tavtest::waitUntil([&] { return !model.isCheckingOutputFolder(); }));
        view.render();
    }
    template <typename T>
    T* find(const char* name) const {
        return view.findChild<T*>(QString::fromLatin1(name));
    }
    // The shown widgets of that name (rebuilt rows go on the next event-loop turn).
    template <typename T>
    QList<T*> shown(const char* name) const {
        QList<T*> result;
        for (auto* widget : view.findChildren<T*>(QString::fromLatin1(name))) {
            if (widget->isVisibleTo(&view)) {
                result << widget;
            }
        }
        return result;
    }
    QPushButton* firstSlot() const { return find<QPushButton>("firstSlot"); }
    // The shown texts of the labels of that name.
    QStringList texts(const char* name) const {
        QStringList result;
        for (auto* label : view.findChildren<QLabel*>(QString::fromLatin1(name))) {
            if (label->isVisibleTo(&view) && !label->text().isEmpty()) {
                result << label->text();
            }
        }
        return result;
    }
};

}  // namespace
