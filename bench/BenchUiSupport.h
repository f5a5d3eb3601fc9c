#pragma once

// GUI-thread measurements shared by the benchmarks of the Qt layer.
#include <pthread.h>
#include <time.h>

#include <QApplication>
#include <QMetaObject>
#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace benchuisupport {

using Clock = std::chrono::steady_clock;

// Records the longest time one event took to handle on the GUI thread (our own work), beside
// the longest gap between timer ticks (which also counts time the thread was not scheduled).
class MeasuringApplication : public QApplication {
  public:
    using QApplication::QApplication;
    double longestEventMilliseconds = 0;
    // The same in CPU time of the GUI thread: unaffected by other processes taking the cores.
    double longestEventCPUMilliseconds = 0;
    // What that event was, as "type on Class "name"": where to look when the figure is too high.
    QString longestEventCPUDescription;

    bool notify(QObject* receiver, QEvent* event) override {
        // Events sent while one is handled count in it; only the outermost is timed, so the
        // clocks are not read thousands of times inside one layout.
        if (depth_ > 0) {
            ++depth_;
            const bool result = QApplication::notify(receiver, event);
            --depth_;
            return result;
        }
        ++depth_;
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadCPUMilliseconds();
        // Read before handling: the receiver may be gone after (class names are static).
        const int type = int(event->type());
        const char* className = receiver->metaObject()->className();
        const QString objectName = receiver->objectName();
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        longestEventMilliseconds = std::max(
            longestEventMilliseconds,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        const double cpu = threadCPUMilliseconds() - cpuStart;
        if (cpu > longestEventCPUMilliseconds) {
            longestEventCPUMilliseconds = cpu;
            longestEventCPUDescription = QStringLiteral("event %1 on %2 \"%3\"")
                                             .arg(type)
                                             .arg(QLatin1StringView(className), objectName);
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

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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

}  // namespace benchuisupport
