// The Transcribe source list with many long transcripts, over the real view model with instant
// fake services: the longest GUI-thread stall while a 500-file batch runs, first while its last
// sources report progress (every tick changes one row, and the completed sources above it are all
// marked for export), then over the whole run; and a search across every transcript: the GUI
// thread's share against the time until the results are shown, after a new query and after an
// added cue. Goal: no GUI-thread stall over 16 ms.
//
// Usage: bench_ui_transcription_sources [sources, default 500] [cues each, default 2000]
//        [ticking sources, default 5]
#include <QApplication>
#include <QListView>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchUiSupport.h"
#include "engine/MediaProcessing.h"
#include "queue/JobQueueViewModel.h"
#include "support/IdleServices.h"
#include "transcription/TranscriptionSourceList.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/CoalescedRefresh.h"

using namespace tavrolin;
using benchuisupport::MeasuringApplication;
namespace fs = std::filesystem;

namespace {

const char* const words[] = {"weather", "market", "Café", "tomorrow", "bread",   "umbrella",
                             "sunny",   "green",  "warm", "morning",  "children"};

// The last `tickingSources` of `sourceCount` calls report `ticks` progress values 1 ms apart;
// every call returns `cueCount` fragments far enough apart to stay one cue each.
class SyntheticTranscriber : public MediaTranscribing {
  public:
    SyntheticTranscriber(int sourceCount, int cueCount, int tickingSources)
        : firstTicking_(sourceCount - tickingSources), cueCount_(cueCount) {}

    TranscriptionCapability checkCapability() override {
        return {{{"en-US", "English (United States)"}}, std::nullopt};
    }
    std::vector<TranscriptFragment> transcribe(const fs::path&, std::int64_t, const std::string&,
                                               std::optional<double>,
                                               TranscriptionProgressHandler progress,
                                               std::stop_token) override {
        const int call = calls_++;
        if (call >= firstTicking_) {
            for (int tick = 0; tick <= ticks; ++tick) {
                progress(TranscriptionProgress::transcribing(tick / double(ticks)));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        std::vector<TranscriptFragment> fragments;
        fragments.reserve(static_cast<std::size_t>(cueCount_));
        for (int i = 0; i < cueCount_; ++i) {
            // "line <i>" makes a query with one hit per source; the words make broad ones.
            std::string text = "line " + std::to_string(i) + " ";
            for (int w = 0; w < 8; ++w) {
                text += std::string(words[(i * 7 + w * 3 + call) % 11]) + " ";
            }
            fragments.push_back({text, i * 3.0, i * 3.0 + 1.0, 0.9});
        }
        return fragments;
    }
    void cancel() override {}

    static constexpr int ticks = 200;

  private:
    int firstTicking_;
    int cueCount_;
    std::atomic<int> calls_{0};
};

template <typename Done>
void runUntil(Done done) {
    while (!done()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Starts `change` and waits until the result list shows rows again; prints the GUI thread's
// longest event and the time until the results were shown.
template <typename Change>
void measureSearch(MeasuringApplication& application, const char* name, QListView* results,
                   Change change) {
    application.longestEventMilliseconds = 0;
    application.longestEventCPUMilliseconds = 0;
    const auto start = benchuisupport::Clock::now();
    // The count and the first hit's texts (the cue text is role UserRole + 2 where the list has
    // roles of its own) tell that new results are shown.
    const auto shown = [&] {
        const QModelIndex first = results->model()->index(0, 0);
        return QString::number(results->model()->rowCount()) + first.data().toString() +
               first.data(Qt::UserRole + 2).toString();
    };
    const QString before = shown();
    change();
    const double callMilliseconds = benchuisupport::millisecondsSince(start);
    runUntil([&] { return results->isVisible() && shown() != before; });
    std::printf(
        "%-30s change call %7.1f ms, longest GUI event %7.1f ms, results "
        "shown after %7.1f ms (%d rows)\n",
        name, callMilliseconds, std::max(callMilliseconds, application.longestEventMilliseconds),
        benchuisupport::millisecondsSince(start), results->model()->rowCount());
}

}  // namespace

int main(int argc, char** argv) {
    MeasuringApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int sourceCount = argc > 1 ? std::stoi(argv[1]) : 500;
    const int cueCount = argc > 2 ? std::stoi(argv[2]) : 2000;
    const int tickingSources = argc > 3 ? std::stoi(argv[3]) : 5;

    auto transcriber =
        std::make_shared<SyntheticTranscriber>(sourceCount, cueCount, tickingSources);
    JobQueueViewModel queue(std::make_shared<tavtest::IdleProcessor>());
    TranscriptionViewModel model(
        TranscriptionViewModel::Services{std::make_shared<tavtest::VideoWithAudioProbe>(9000.0),
                                         transcriber, std::make_shared<tavtest::NoSummaries>(),
                                         std::make_shared<SubtitleFileExporter>(),
                                         std::make_shared<InMemoryPreferencesStore>()},
        queue, TranscriptionViewModel::Panels{});
    runUntil([&] {
        return model.state().availability.kind ==
               TranscriptionWorkspaceAvailability::Kind::available;
    });
    std::vector<fs::path> files;
    for (int i = 0; i < sourceCount; ++i) {
        files.push_back("/bench/episode-" + std::to_string(i) + ".mkv");
    }
    model.addSources(files);
    runUntil([&] { return !model.isInspecting(); });

    TranscriptionSourceList list(model);
    list.resize(285, 900);
    CoalescedRefresh refresh(&list, [&] { list.render(); });
    int renders = 0;
    QObject::connect(&model, &TranscriptionViewModel::changed, &list, [&] {
        ++renders;
        refresh.schedule();
    });
    list.show();
    runUntil([&] { return list.isVisible(); });

    // The run up to the ticking sources, then their ticks: each tick changes one row.
    application.longestEventMilliseconds = 0;
    application.longestEventCPUMilliseconds = 0;
    const auto runStart = benchuisupport::Clock::now();
    model.transcribeAllReadySources();
    runUntil([&] { return model.state().batchCompletedCount >= sourceCount - tickingSources; });
    std::printf(
        "run to source %d (%d cues each): %.0f ms, longest GUI event %.2f ms (%.2f ms CPU)\n",
        sourceCount - tickingSources, cueCount, benchuisupport::millisecondsSince(runStart),
        application.longestEventMilliseconds, application.longestEventCPUMilliseconds);
    application.longestEventMilliseconds = 0;
    application.longestEventCPUMilliseconds = 0;
    const int changesBefore = renders;
    const auto ticksStart = benchuisupport::Clock::now();
    runUntil([&] { return !model.state().isTranscribing; });
    std::printf(
        "progress of the last %d sources x %d ticks: %d changes in %.0f ms, longest GUI event "
        "%.2f ms (%.2f ms CPU)\n",
        tickingSources, SyntheticTranscriber::ticks, renders - changesBefore,
        benchuisupport::millisecondsSince(ticksStart), application.longestEventMilliseconds,
        application.longestEventCPUMilliseconds);

    auto* results = list.findChild<QListView*>(QStringLiteral("searchResults"));
    // The first query copies every transcript for the worker; later ones share the copy.
    measureSearch(application, "first search \"line 1234 \"", results,
                  [&] { model.setBatchTranscriptSearch("line 1234 "); });
    measureSearch(application, "search \"line 777 \"", results,
                  [&] { model.setBatchTranscriptSearch("line 777 "); });
    measureSearch(application, "search \"umbrella warm\"", results,
                  [&] { model.setBatchTranscriptSearch("umbrella warm"); });
    measureSearch(application, "search \"line 1999 \"", results,
                  [&] { model.setBatchTranscriptSearch("line 1999 "); });
    measureSearch(application, "add one cue while searching", results, [&] {
        auto cues = model.state().cues();
        const SubtitleCue last = cues.back();
        cues.push_back({last.id + 1, last.endTime + 1, last.endTime + 2, "line 1999 again", 0.9});
        model.setCues(std::move(cues));
    });
    return 0;
}
