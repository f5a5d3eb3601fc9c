// Opening a long transcript in the review list and scrolling it end to end: the time from
// handing over the cues to the first painted frame, and the longest single GUI-thread event
// while scrolling (goal: under 16 ms).
//
// Usage: bench_ui_transcript_review [cue count, default 3000] [runs, default 3]
#include <QApplication>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchUiSupport.h"
#include "transcription/TranscriptCueList.h"

using namespace tavrolin;
using benchuisupport::MeasuringApplication;

namespace {

class PaintWatch : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    MeasuringApplication application(argc, argv);
    const int count = argc > 1 ? std::stoi(argv[1]) : 3000;
    const int runs = argc > 2 ? std::stoi(argv[2]) : 3;
    std::vector<SubtitleCue> cues;
    for (int i = 1; i <= count; ++i) {
        cues.push_back({i, i * 2.0, i * 2.0 + 1.5,
                        "Spoken line number " + std::to_string(i) + " of the long transcript.",
                        i % 7 == 0 ? std::optional(0.5) : std::optional(0.9)});
    }
    for (int run = 0; run < runs; ++run) {
        TranscriptCueListView list;
        list.resize(900, 700);
        PaintWatch watch;
        list.viewport()->installEventFilter(&watch);
        const auto start = std::chrono::steady_clock::now();
        list.cueModel()->setCues(cues);
        list.show();
        while (!watch.painted) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const double firstPaint = benchuisupport::millisecondsSince(start);

        application.longestEventMilliseconds = 0;
        application.longestEventCPUMilliseconds = 0;
        QScrollBar* bar = list.verticalScrollBar();
        const auto scrollStart = std::chrono::steady_clock::now();
        QTimer step;
        QObject::connect(&step, &QTimer::timeout, [&] {
            bar->setValue(bar->value() + bar->pageStep() / 2);
            if (bar->value() >= bar->maximum()) {
                step.stop();
                QApplication::exit();
            }
        });
        step.start(0);
        QApplication::exec();
        std::printf(
            "run %d: %d cues, first paint %.1f ms, scroll end to end %.0f ms, longest event "
            "%.2f ms (%.2f ms CPU)\n",
            run + 1, count, firstPaint, benchuisupport::millisecondsSince(scrollStart),
            application.longestEventMilliseconds, application.longestEventCPUMilliseconds);
    }
    return 0;
}
