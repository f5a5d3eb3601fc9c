// Adding many files to the Remux workspace: how long until every source is inspected (and its
// card filled), against the same ffprobe commands run from a shell with the same concurrency,
// and the longest time the GUI thread kept an event waiting meanwhile (goal: at most 16 ms; the
// CPU figure is the one a loaded machine leaves meaningful).
//
// Usage: bench_ui_remux_add [file count, default 300] [runs, default 3]
#include <pthread.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchUiSupport.h"
#include "probe/FFprobeCommandBuilder.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "process/ProbeConcurrencyLimit.h"
#include "queue/JobQueueViewModel.h"
#include "remux/RemuxView.h"
#include "remux/RemuxViewModel.h"
#include "remux/StreamSourceCard.h"
#include "support/IdleServices.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using benchuisupport::MeasuringApplication;
using benchuisupport::millisecondsSince;
using benchuisupport::WaitProbe;

namespace {

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::vector<fs::path> makeFiles(const fs::path& folder, int count) {
    const fs::path first = folder / "source-000.mkv";
    const std::string make =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
        "testsrc2=size=64x36:rate=25:duration=1 -f lavfi -i sine=duration=1 -c:v libx264 "
        "-preset ultrafast -pix_fmt yuv420p -c:a aac -metadata:s:a:0 language=eng '" +
        first.string() + "'";
    if (!run(make)) {
        std::fprintf(stderr, "ffmpeg could not make the source file\n");
        std::exit(1);
    }
    std::vector<fs::path> files{first};
    for (int i = 1; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "source-%03d.mkv", i);
        fs::copy_file(first, folder / name);
        files.push_back(folder / name);
    }
    return files;
}

// The same ffprobe command per file through xargs with the given concurrency.
double shellMilliseconds(const fs::path& folder, const std::vector<fs::path>& files,
                         std::size_t concurrency) {
    const fs::path list = folder / "list";
    {
        std::ofstream stream(list, std::ios::binary);
        for (const auto& file : files) {
            stream << file.string() << '\0';
        }
    }
    const std::string command =
        "xargs -0 -P " + std::to_string(concurrency) + " -n 1 ffprobe -v error -show_entries '" +
        FFprobeCommandBuilder::streamEntries + "' -of json < '" + list.string() + "' > /dev/null";
    const auto start = Clock::now();
    if (!run(command)) {
        std::fprintf(stderr, "the shell run failed\n");
    }
    return millisecondsSince(start);
}

struct GuiRun {
    double allReadyMilliseconds = 0;
    double allShownMilliseconds = 0;
    double longestWaitMilliseconds = 0;
    double longestWaitCPUMilliseconds = 0;
    double longestEventMilliseconds = 0;
    double longestEventCPUMilliseconds = 0;
    QString longestEventCPUDescription;
    double addFilesMilliseconds = 0;
    // The GUI thread's CPU time until every card was filled.
    double guiCPUMilliseconds = 0;
};

GuiRun guiRun(MeasuringApplication& application, const std::vector<fs::path>& files) {
    JobQueueViewModel queue(std::make_shared<tavtest::IdleProcessor>());
    RemuxViewModel model(queue, std::make_shared<FFprobeService>(
                                    std::make_shared<FoundationProcessRunner>(), ToolLocations{}));
    RemuxView view(model);
    view.resize(1000, 800);
    view.show();
    QCoreApplication::processEvents();

    GuiRun result;
    QObject receiver;
    WaitProbe probe(receiver);
    const auto start = Clock::now();
    const double cpuStart = MeasuringApplication::threadCPUMilliseconds();
    application.longestEventMilliseconds = 0;
    application.longestEventCPUMilliseconds = 0;
    application.longestEventCPUDescription.clear();
    QTimer::singleShot(0, [&] {
        const auto callStart = Clock::now();
        model.addFiles(files);
        result.addFilesMilliseconds = millisecondsSince(callStart);
    });
    const auto allReady = [&] {
        return model.sources().size() == files.size() &&
               std::all_of(model.sources().begin(), model.sources().end(), [](const auto& s) {
                   return std::holds_alternative<RemuxSource::Ready>(s.inspectionState);
               });
    };
    // The view fills cards in source order: the last card's rows come last.
    const auto allShown = [&] {
        const auto* last = view.cardFor(files.back());
        return last != nullptr && last->findChild<QCheckBox*>() != nullptr;
    };
    // The loop sleeps between events as the application's does: processEvents with a time limit
    // never waits, and a spinning GUI thread would take a core from the ffprobe runs it is
    // measured against. The tick bounds each sleep.
    QTimer tick;
    tick.start(5);
    while (result.allShownMilliseconds == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (result.allReadyMilliseconds == 0 && allReady()) {
            result.allReadyMilliseconds = millisecondsSince(start);
        }
        if (result.allReadyMilliseconds != 0 && allShown()) {
            result.allShownMilliseconds = millisecondsSince(start);
            result.guiCPUMilliseconds = MeasuringApplication::threadCPUMilliseconds() - cpuStart;
        }
    }
    // Let the last refresh of the view happen inside the measurement.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 100) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    probe.stop();
    QCoreApplication::processEvents();
    result.longestWaitMilliseconds = probe.longestWaitMilliseconds();
    result.longestWaitCPUMilliseconds = probe.longestWaitCPUMilliseconds();
    result.longestEventMilliseconds = application.longestEventMilliseconds;
    result.longestEventCPUMilliseconds = application.longestEventCPUMilliseconds;
    result.longestEventCPUDescription = application.longestEventCPUDescription;
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The 1, 5 and 15 minute load averages: figures taken on a busy machine say so.
std::string loadAverage() {
    std::ifstream stream("/proc/loadavg");
    std::string one, five, fifteen;
    stream >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    MeasuringApplication application(argc, argv);

    std::string pattern = (fs::temp_directory_path() / "tavrolin-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return 1;
    }
    const fs::path folder = pattern;
    const auto files = makeFiles(folder, count);
    const std::size_t concurrency = ProbeConcurrencyLimit::shared().capacity();

    std::printf("files: %d, ffprobe concurrency: %zu, runs: %d, load %s\n", count, concurrency,
                runs, loadAverage().c_str());
    std::vector<double> readyRatios, filledRatios, waitCPU, eventCPU;
    for (int i = 0; i < runs; ++i) {
        const double shell = shellMilliseconds(folder, files, concurrency);
        const GuiRun gui = guiRun(application, files);
        std::printf(
            "run %d: workspace all ready %.0f ms, all cards filled %.0f ms | shell xargs -P %zu "
            "%.0f ms | ratio all ready %.2f, all cards filled %.2f | GUI thread %.0f ms CPU | "
            "addFiles call %.1f ms | "
            "longest GUI wait %.1f ms (%.1f ms CPU) | longest event %.1f ms (%.1f ms CPU: %s)\n",
            i + 1, gui.allReadyMilliseconds, gui.allShownMilliseconds, concurrency, shell,
            gui.allReadyMilliseconds / shell, gui.allShownMilliseconds / shell,
            gui.guiCPUMilliseconds, gui.addFilesMilliseconds, gui.longestWaitMilliseconds,
            gui.longestWaitCPUMilliseconds, gui.longestEventMilliseconds,
            gui.longestEventCPUMilliseconds, qPrintable(gui.longestEventCPUDescription));
        readyRatios.push_back(gui.allReadyMilliseconds / shell);
        filledRatios.push_back(gui.allShownMilliseconds / shell);
        waitCPU.push_back(gui.longestWaitCPUMilliseconds);
        eventCPU.push_back(gui.longestEventCPUMilliseconds);
    }
    std::printf(
        "median of %d: ratio all ready %.2f, all cards filled %.2f | longest GUI wait %.1f ms CPU "
        "| longest event %.1f ms CPU | load %s\n",
        runs, median(readyRatios), median(filledRatios), median(waitCPU), median(eventCPU),
        loadAverage().c_str());
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
