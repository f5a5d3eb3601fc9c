// Adding many files to the Remux workspace: how long until every source is inspected (and its
// card filled), against the same ffprobe commands run from a shell with the same concurrency,
// and the longest time the GUI thread kept an event waiting meanwhile (goal: under 50 ms).
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

#include "engine/JobQueueViewModel.h"
#include "probe/FFprobeCommandBuilder.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "process/ProbeConcurrencyLimit.h"
#include "remux/RemuxView.h"
#include "remux/RemuxViewModel.h"
#include "remux/StreamSourceCard.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

class NoProcessing final : public MediaProcessing {
  public:
    void process(const ProcessingRequest&, ProgressCallback, std::stop_token) override {}
    void cancel() override {}
};

// Records the longest time one event took to handle on the GUI thread (our own work), beside
// the longest gap between timer ticks (which also counts time the thread was not scheduled).
class MeasuringApplication : public QApplication {
  public:
    using QApplication::QApplication;
    double longestEventMilliseconds = 0;
    // The same in CPU time of the GUI thread: unaffected by other processes taking the cores.
    double longestEventCPUMilliseconds = 0;

    bool notify(QObject* receiver, QEvent* event) override {
        ++depth_;
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadCPUMilliseconds();
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        if (depth_ == 0) {
            longestEventMilliseconds = std::max(
                longestEventMilliseconds,
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            longestEventCPUMilliseconds =
                std::max(longestEventCPUMilliseconds, threadCPUMilliseconds() - cpuStart);
        }
        return result;
    }

    static double threadCPUMilliseconds() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    }

  private:
    int depth_ = 0;
};

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

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

// Posts a call to the GUI thread from a helper thread, waits until it has run, pauses 1 ms and
// posts the next: the longest wait is the longest time the GUI thread kept an event (a click,
// a key) waiting, measured in wall time and in the GUI thread's own CPU time. (The gap between
// timer ticks counts whole chains of posted events together.)
class WaitProbe {
  public:
    explicit WaitProbe(QObject& receiver) : receiver_(receiver) {
        pthread_getcpuclockid(pthread_self(), &guiClock_);
        thread_ = std::jthread([this](std::stop_token stop) { probe(stop); });
    }
    ~WaitProbe() { stop(); }
    void stop() {
        if (thread_.joinable()) {
            thread_.request_stop();
            thread_.join();
        }
    }
    double longestWaitMilliseconds() const { return longestWait_; }
    double longestWaitCPUMilliseconds() const { return longestWaitCPU_; }

  private:
    double guiCPUMilliseconds() const {
        timespec now{};
        clock_gettime(guiClock_, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    }
    void probe(const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            auto handled = std::make_shared<std::atomic<bool>>(false);
            const auto posted = Clock::now();
            const double postedCPU = guiCPUMilliseconds();
            QMetaObject::invokeMethod(
                &receiver_,
                [this, handled, posted, postedCPU] {
                    longestWait_ = std::max(longestWait_, millisecondsSince(posted));
                    longestWaitCPU_ = std::max(longestWaitCPU_, guiCPUMilliseconds() - postedCPU);
                    handled->store(true);
                },
                Qt::QueuedConnection);
            while (!handled->load() && !stop.stop_requested()) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    QObject& receiver_;
    clockid_t guiClock_{};
    // Written on the GUI thread only.
    double longestWait_ = 0;
    double longestWaitCPU_ = 0;
    std::jthread thread_;
};

struct GuiRun {
    double allReadyMilliseconds = 0;
    double allShownMilliseconds = 0;
    double longestWaitMilliseconds = 0;
    double longestWaitCPUMilliseconds = 0;
    double longestEventMilliseconds = 0;
    double longestEventCPUMilliseconds = 0;
    double addFilesMilliseconds = 0;
};

GuiRun guiRun(MeasuringApplication& application, const std::vector<fs::path>& files) {
    JobQueueViewModel queue(std::make_shared<NoProcessing>());
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
    application.longestEventMilliseconds = 0;
    application.longestEventCPUMilliseconds = 0;
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
    while (result.allShownMilliseconds == 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (result.allReadyMilliseconds == 0 && allReady()) {
            result.allReadyMilliseconds = millisecondsSince(start);
        }
        if (result.allReadyMilliseconds != 0 && allShown()) {
            result.allShownMilliseconds = millisecondsSince(start);
        }
    }
    // Let the last refresh of the view happen inside the measurement.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 100) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    probe.stop();
    QCoreApplication::processEvents();
    result.longestWaitMilliseconds = probe.longestWaitMilliseconds();
    result.longestWaitCPUMilliseconds = probe.longestWaitCPUMilliseconds();
    result.longestEventMilliseconds = application.longestEventMilliseconds;
    result.longestEventCPUMilliseconds = application.longestEventCPUMilliseconds;
    return result;
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

    std::printf("files: %d, ffprobe concurrency: %zu, runs: %d\n", count, concurrency, runs);
    for (int i = 0; i < runs; ++i) {
        const double shell = shellMilliseconds(folder, files, concurrency);
        const GuiRun gui = guiRun(application, files);
        std::printf(
            "run %d: workspace all ready %.0f ms, all cards filled %.0f ms | shell xargs -P %zu "
            "%.0f ms | ratio %.2f | addFiles call %.1f ms | longest GUI wait %.1f ms (%.1f ms "
            "CPU) | longest event %.1f ms (%.1f ms CPU)\n",
            i + 1, gui.allReadyMilliseconds, gui.allShownMilliseconds, concurrency, shell,
            gui.allReadyMilliseconds / shell, gui.addFilesMilliseconds, gui.longestWaitMilliseconds,
            gui.longestWaitCPUMilliseconds, gui.longestEventMilliseconds,
            gui.longestEventCPUMilliseconds);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
