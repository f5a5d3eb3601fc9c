#include "queue/JobQueueViewModel.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "engine/JobLeftovers.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "queue/QueueTestSupport.h"
#include "support/TempDir.h"

using namespace tavrolin;
using tavtest::ensureApplication;
using namespace std::chrono_literals;
using Kind = ProcessingJob::Status::Kind;

namespace {

// A processor whose calls block until the test decides how they end. A stopped call throws
// CancellationError unless `ignoresStop` is set (a processor that finished before it noticed).
class FakeProcessor : public MediaProcessing {
  public:
    enum class Outcome { pending, succeed, fail, cancel };

    void process(const ProcessingRequest& request, ProgressCallback progress,
                 std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        if (active_) {
            overlapped_ = true;
        }
        active_ = true;
        started_.push_back(request.title());
        progress_ = progress;
        stop_ = stop;
        outcome_ = Outcome::pending;
        condition_.notify_all();
        condition_.wait(lock, [&] {
            return outcome_ != Outcome::pending || (stop.stop_requested() && !ignoresStop);
        });
        active_ = false;
        progress_ = nullptr;
        const Outcome outcome = outcome_;
        outcome_ = Outcome::pending;
        ++finished_;
        condition_.notify_all();
        if (outcome == Outcome::succeed) {
            return;
        }
        if (outcome == Outcome::fail) {
            throw MediaProcessingError::processFailed(failureMessage);
        }
        throw CancellationError();
    }

    void cancel() override {
        std::lock_guard lock(mutex_);
        ++cancelCalls;
        condition_.notify_all();
    }

    // Waits until the processor has started `count` calls in all.
    bool hasStarted(std::size_t count) {
        std::lock_guard lock(mutex_);
        return started_.size() >= count && active_;
    }
    void finish(Outcome outcome) {
        std::lock_guard lock(mutex_);
        outcome_ = outcome;
        condition_.notify_all();
    }
    void report(double fraction) {
        ProgressCallback progress;
        {
            std::lock_guard lock(mutex_);
            progress = progress_;
        }
        progress(fraction);
    }
    ProgressCallback currentProgress() {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    bool stopRequested() {
        std::lock_guard lock(mutex_);
        return stop_.stop_requested();
    }
    void wakeUp() { condition_.notify_all(); }
    std::vector<std::string> started() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    bool isActive() {
        std::lock_guard lock(mutex_);
        return active_;
    }
    int finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }

    bool ignoresStop = false;
    bool overlapped_ = false;
    int cancelCalls = 0;
    std::string failureMessage = "FFmpeg could not write the file.";

  private:
    std::mutex mutex_;
    std::condition_variable condition_;
    std::vector<std::string> started_;
    ProgressCallback progress_;
    std::stop_token stop_;
    Outcome outcome_ = Outcome::pending;
    bool active_ = false;
    int finished_ = 0;
};

class FakeRevealer : public FileRevealing {
  public:
    void reveal(const std::filesystem::path& file) override { revealed.push_back(file); }
    std::vector<std::filesystem::path> revealed;
};

ProcessingRequest remux(const std::string& name) {
    return RemuxRequest{"/media/" + name, "/out/" + name + "-converted.mkv", {}, {}, {}};
}

std::vector<std::string> titles(const std::vector<ProcessingJob>& jobs) {
    std::vector<std::string> result;
    for (const auto& job : jobs) {
        result.push_back(job.request.title());
    }
    return result;
}

std::vector<Kind> kinds(const std::vector<ProcessingJob>& jobs) {
    std::vector<Kind> result;
    for (const auto& job : jobs) {
        result.push_back(job.status.kind);
    }
    return result;
}

class JobQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        processor = std::make_shared<FakeProcessor>();
        revealer = std::make_shared<FakeRevealer>();
        queue = std::make_unique<JobQueueViewModel>(processor, revealer);
    }
    void TearDown() override {
        // Let every call end so no worker thread outlives the test.
        if (queue) {
            queue->shutdown(5s);
        }
        queue.reset();
        processor->finish(FakeProcessor::Outcome::cancel);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !processor->isActive(); }, 5000));
    }

    // Ends the running call and waits until the queue has settled it.
    void finishRunning(FakeProcessor::Outcome outcome) {
        const auto before = processor->finished();
        const auto running = queue->runningJob();
        ASSERT_TRUE(running.has_value());
        processor->finish(outcome);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (processor->finished() <= before) {
                    return false;
                }
                for (const auto& job : queue->jobs()) {
                    if (job.id == running->id) {
                        return job.status.isFinished();
                    }
                }
                return true;
            },
            5000));
    }
    // Waits until the worker has begun call `count` and marked its job running.
    void awaitStart(std::size_t count) {
        // The worker begins on the event loop, so it is pumped while waiting.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return processor->hasStarted(count) && queue->hasRunningJob(); }, 5000));
    }
    void awaitIdle() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !queue->isWorkerActive(); }, 5000));
    }

    std::shared_ptr<FakeProcessor> processor;
    std::shared_ptr<FakeRevealer> revealer;
    std::unique_ptr<JobQueueViewModel> queue;
};

}  // namespace

TEST_F(JobQueueTest, EnqueueAppendsQueuedJobsInOneChangeAndStartsNothing) {
    QSignalSpy changes(queue.get(), &JobQueueViewModel::changed);
    queue->enqueue({});
    EXPECT_EQ(changes.count(), 0);

    queue->enqueue({remux("a.mkv"), remux("b.mkv")});
    EXPECT_EQ(changes.count(), 1);
    ASSERT_EQ(queue->jobs().size(), 2u);
    EXPECT_EQ(titles(queue->jobs()), (std::vector<std::string>{"Remux a.mkv", "Remux b.mkv"}));
    EXPECT_EQ(kinds(queue->jobs()), (std::vector<Kind>{Kind::queued, Kind::queued}));
    EXPECT_NE(queue->jobs()[0].id, queue->jobs()[1].id);
    EXPECT_FALSE(queue->jobs()[0].fractionCompleted.has_value());
    EXPECT_EQ(queue->jobs()[0].request, remux("a.mkv"));
    EXPECT_EQ(queue->activeJobCount(), 2);
    EXPECT_TRUE(queue->hasQueuedJobs());
    EXPECT_TRUE(queue->canStart());
    EXPECT_FALSE(queue->canCancel());
    EXPECT_FALSE(queue->canClear());

    QTest::qWait(20);
    EXPECT_TRUE(processor->started().empty());
    EXPECT_FALSE(queue->isWorkerActive());

    // "Start Queue" runs them in list order, one at a time.
    queue->startWorkerIfNeeded();
    awaitStart(1);
    EXPECT_EQ(queue->runningJob()->request.title(), "Remux a.mkv");
    EXPECT_EQ(titles(queue->queuedJobs()), (std::vector<std::string>{"Remux b.mkv"}));
    EXPECT_FALSE(queue->canStart());
    EXPECT_TRUE(queue->canCancel());
    EXPECT_EQ(queue->activeJobCount(), 2);
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitStart(2);
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitIdle();
    EXPECT_EQ(processor->started(), (std::vector<std::string>{"Remux a.mkv", "Remux b.mkv"}));
    EXPECT_EQ(kinds(queue->jobs()), (std::vector<Kind>{Kind::completed, Kind::completed}));
    EXPECT_EQ(queue->activeJobCount(), 0);
    EXPECT_FALSE(processor->overlapped_);
}

TEST_F(JobQueueTest, EnqueueNextGoesBeforeTheFirstQueuedJobAndRunsFirst) {
    queue->enqueueNext({remux("J1")});
    awaitStart(1);
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitIdle();

    queue->enqueueNext({remux("J2")});
    awaitStart(2);
    // [J1 completed, J2 running] + J5, J6 goes at the end.
    queue->enqueueNext({remux("J5"), remux("J6")});
    EXPECT_EQ(titles(queue->jobs()),
              (std::vector<std::string>{"Remux J1", "Remux J2", "Remux J5", "Remux J6"}));

    queue->enqueue({remux("J3"), remux("J4")});
    queue->enqueueNext({remux("J7")});
    EXPECT_EQ(titles(queue->jobs()),
              (std::vector<std::string>{"Remux J1", "Remux J2", "Remux J7", "Remux J5", "Remux J6",
                                        "Remux J3", "Remux J4"}));
    EXPECT_EQ(queue->activeJobCount(), 6);

    // The next job is looked up afresh after each one.
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitStart(3);
    queue->enqueueNext({remux("J8")});
    for (std::size_t call = 3; call <= 8; ++call) {
        awaitStart(call);
        finishRunning(FakeProcessor::Outcome::succeed);
    }
    awaitIdle();
    EXPECT_EQ(processor->started(),
              (std::vector<std::string>{"Remux J1", "Remux J2", "Remux J7", "Remux J8", "Remux J5",
                                        "Remux J6", "Remux J3", "Remux J4"}));
    EXPECT_FALSE(processor->overlapped_);
}

TEST_F(JobQueueTest, WaitingJobsStartWithAnyLaterWorker) {
    // "Add to Queue" twice, then "Remux Now": [R3, R1, R2], all three run.
    queue->enqueue({remux("R1"), remux("R2")});
    queue->enqueueNext({remux("R3")});
    EXPECT_EQ(titles(queue->jobs()),
              (std::vector<std::string>{"Remux R3", "Remux R1", "Remux R2"}));
    for (std::size_t call = 1; call <= 3; ++call) {
        awaitStart(call);
        finishRunning(FakeProcessor::Outcome::succeed);
    }
    awaitIdle();
    EXPECT_EQ(processor->started(), (std::vector<std::string>{"Remux R3", "Remux R1", "Remux R2"}));
    queue->clearFinishedJobs();
    EXPECT_TRUE(queue->jobs().empty());

    // A join appends and starts the worker: the older remux jobs run first.
    queue->enqueue({remux("R4"), remux("R5")});
    queue->enqueue({JoinRequest{{"/media/a.mp4", "/media/b.mp4"}, "/out/joined.mp4"}});
    queue->startWorkerIfNeeded();
    EXPECT_EQ(titles(queue->jobs()),
              (std::vector<std::string>{"Remux R4", "Remux R5", "Join 2 files"}));
    awaitStart(4);
    EXPECT_EQ(processor->started().back(), "Remux R4");
}

TEST_F(JobQueueTest, EmptyEnqueueNextStillStartsTheWorker) {
    queue->enqueue({remux("a.mkv")});
    queue->enqueueNext({});
    EXPECT_EQ(queue->jobs().size(), 1u);
    awaitStart(1);
    EXPECT_EQ(processor->started(), (std::vector<std::string>{"Remux a.mkv"}));
}

TEST_F(JobQueueTest, OnlyOneWorkerAndAnIdleWorkerEndsAtOnce) {
    queue->startWorkerIfNeeded();
    EXPECT_TRUE(queue->isWorkerActive());
    awaitIdle();
    EXPECT_TRUE(processor->started().empty());

    queue->enqueue({remux("a"), remux("b"), remux("c")});
    queue->startWorkerIfNeeded();
    queue->startWorkerIfNeeded();
    awaitStart(1);
    queue->startWorkerIfNeeded();
    queue->enqueueNext({});
    QTest::qWait(20);
    EXPECT_EQ(processor->started().size(), 1u);
    EXPECT_EQ(queue->queuedJobs().size(), 2u);
    for (std::size_t call = 1; call <= 3; ++call) {
        awaitStart(call);
        finishRunning(FakeProcessor::Outcome::succeed);
    }
    awaitIdle();
    EXPECT_FALSE(processor->overlapped_);
}

TEST_F(JobQueueTest, ProgressIsClampedAndStoredOnlyWhileRunning) {
    queue->enqueueNext({remux("a"), remux("b"), remux("c")});
    awaitStart(1);
    EXPECT_FALSE(queue->runningJob()->fractionCompleted.has_value());
    processor->report(0.25);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return queue->runningJob()->fractionCompleted == 0.25; }, 5000));
    processor->report(1.4);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return queue->runningJob()->fractionCompleted == 1.0; }, 5000));
    processor->report(-0.2);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return queue->runningJob()->fractionCompleted == 0.0; }, 5000));
    // Queued jobs never get a fraction.
    EXPECT_FALSE(queue->jobs()[1].fractionCompleted.has_value());

    // A report that arrives after completion leaves the fraction at 1.
    processor->report(0.4);
    auto late = processor->currentProgress();
    finishRunning(FakeProcessor::Outcome::succeed);
    late(0.3);
    awaitStart(2);
    QTest::qWait(20);
    EXPECT_EQ(queue->jobs()[0].status.kind, Kind::completed);
    EXPECT_EQ(queue->jobs()[0].fractionCompleted, 1.0);

    // A job that completes without any report shows 1.
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitStart(3);
    EXPECT_EQ(queue->jobs()[1].fractionCompleted, 1.0);

    // A failed job keeps its last fraction and shows the error's message.
    processor->report(0.6);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return queue->runningJob()->fractionCompleted == 0.6; }, 5000));
    finishRunning(FakeProcessor::Outcome::fail);
    awaitIdle();
    EXPECT_EQ(queue->jobs()[2].status,
              ProcessingJob::Status::failed("FFmpeg could not write the file."));
    EXPECT_EQ(queue->jobs()[2].fractionCompleted, 0.6);
    EXPECT_EQ(queue->jobs()[2].status.label(), "Failed");
}

TEST_F(JobQueueTest, CancelCurrentStopsTheRunningJobAndTheNextOneStarts) {
    queue->cancelRunningJob();  // nothing running: nothing happens
    EXPECT_EQ(processor->cancelCalls, 0);

    queue->enqueueNext({remux("a"), remux("b")});
    awaitStart(1);
    processor->report(0.3);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return queue->runningJob()->fractionCompleted == 0.3; }, 5000));
    queue->cancelRunningJob();
    EXPECT_EQ(processor->cancelCalls, 1);
    EXPECT_TRUE(processor->stopRequested());
    awaitStart(2);
    EXPECT_EQ(queue->jobs()[0].status.kind, Kind::cancelled);
    EXPECT_EQ(queue->jobs()[0].fractionCompleted, 0.3);  // keeps its last fraction
    EXPECT_EQ(queue->jobs()[1].status.kind, Kind::running);
    EXPECT_FALSE(processor->stopRequested());  // the next job has a stop token of its own

    // Queued jobs are never touched by Cancel Current.
    queue->enqueue({remux("c")});
    queue->cancelRunningJob();
    awaitStart(3);
    EXPECT_EQ(queue->jobs()[1].status.kind, Kind::cancelled);
    EXPECT_FALSE(queue->jobs()[1].fractionCompleted.has_value());
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitIdle();
    EXPECT_EQ(kinds(queue->jobs()),
              (std::vector<Kind>{Kind::cancelled, Kind::cancelled, Kind::completed}));
}

TEST_F(JobQueueTest, CancelThatComesTooLateLeavesTheJobCompletedOrFailed) {
    processor->ignoresStop = true;
    queue->enqueueNext({remux("a"), remux("b")});
    awaitStart(1);
    queue->cancelRunningJob();
    EXPECT_TRUE(processor->stopRequested());
    // The processor had already written the file and returns normally.
    finishRunning(FakeProcessor::Outcome::succeed);
    EXPECT_EQ(queue->jobs()[0].status.kind, Kind::completed);
    EXPECT_EQ(queue->jobs()[0].fractionCompleted, 1.0);

    awaitStart(2);
    queue->cancelRunningJob();
    finishRunning(FakeProcessor::Outcome::fail);
    awaitIdle();
    EXPECT_EQ(queue->jobs()[1].status.kind, Kind::failed);
}

TEST_F(JobQueueTest, ClearFinishedKeepsActiveJobsInOrder) {
    queue->enqueueNext({remux("J1"), remux("J3"), remux("J2")});
    awaitStart(1);
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitStart(2);
    finishRunning(FakeProcessor::Outcome::fail);
    awaitStart(3);
    queue->enqueue({remux("J4")});
    // [J1 completed, J3 failed, J2 running, J4 queued]
    EXPECT_EQ(kinds(queue->jobs()),
              (std::vector<Kind>{Kind::completed, Kind::failed, Kind::running, Kind::queued}));
    EXPECT_TRUE(queue->canClear());
    QSignalSpy changes(queue.get(), &JobQueueViewModel::changed);
    queue->clearFinishedJobs();
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(titles(queue->jobs()), (std::vector<std::string>{"Remux J2", "Remux J4"}));
    EXPECT_FALSE(queue->canClear());
    queue->clearFinishedJobs();
    EXPECT_EQ(changes.count(), 1);

    // The running job still settles after its neighbours were cleared.
    finishRunning(FakeProcessor::Outcome::succeed);
    awaitStart(4);
    EXPECT_EQ(queue->jobs()[0].status.kind, Kind::completed);
}

TEST_F(JobQueueTest, RevealShowsTheOutputOfEveryKindOfRequest) {
    const std::vector<ProcessingRequest> requests{
        remux("a.mkv"),
        JoinRequest{{"/m/a.mp4", "/m/b.mp4"}, "/out/join.mp4"},
        SplitRequest{"/m/a.mp4", "/out/split.mp4", 1.0, 2.0},
        ChapterRequest{"/m/a.mp4", "/out/chapters.mp4", {}},
        TranscriptionMediaRequest{
            "/m/a.mp4", "/out/transcript.mkv", {}, false, {}, {}, {}, "eng", false},
    };
    queue->enqueue(requests);
    for (const auto& job : queue->jobs()) {
        queue->revealOutput(job);
    }
    EXPECT_EQ(revealer->revealed, (std::vector<std::filesystem::path>{
                                      "/out/a.mkv-converted.mkv", "/out/join.mp4", "/out/split.mp4",
                                      "/out/chapters.mp4", "/out/transcript.mkv"}));
}

TEST_F(JobQueueTest, DestroyingTheQueueStopsTheJobAndJoinsItsWorker) {
    queue->enqueueNext({remux("a"), remux("b")});
    awaitStart(1);
    auto progress = processor->currentProgress();
    processor->ignoresStop = true;  // the call ends a while after the stop, as a killed child
    std::thread lateEnd([&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return processor->stopRequested(); }, 5000));
        std::this_thread::sleep_for(100ms);
        progress(0.5);
        processor->finish(FakeProcessor::Outcome::succeed);
    });
    queue.reset();
    EXPECT_FALSE(processor->isActive()) << "no worker outlives the queue";
    lateEnd.join();
    // The late progress and result were dropped, and nothing further started.
    QTest::qWait(20);
    EXPECT_EQ(processor->started().size(), 1u);
}

TEST_F(JobQueueTest, ShutdownCancelsTheRunningJobAndWaitsBounded) {
    queue->enqueueNext({remux("a"), remux("b")});
    awaitStart(1);
    EXPECT_TRUE(queue->shutdown(5s));
    EXPECT_EQ(processor->cancelCalls, 1);
    EXPECT_FALSE(processor->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !queue->hasRunningJob(); }, 5000));
    EXPECT_EQ(queue->jobs()[0].status.kind, Kind::cancelled);
    // Nothing further starts after a shutdown.
    QTest::qWait(20);
    EXPECT_EQ(processor->started().size(), 1u);
    EXPECT_EQ(queue->jobs()[1].status.kind, Kind::queued);
    queue->startWorkerIfNeeded();
    QTest::qWait(20);
    EXPECT_EQ(processor->started().size(), 1u);
}

TEST_F(JobQueueTest, ShutdownGivesUpAfterItsTimeout) {
    processor->ignoresStop = true;
    queue->enqueueNext({remux("a")});
    awaitStart(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(queue->shutdown(50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    EXPECT_TRUE(processor->isActive());
    EXPECT_FALSE(queue->shutdown(0ms));
    processor->finish(FakeProcessor::Outcome::succeed);
    EXPECT_TRUE(queue->shutdown(5s));
}

namespace {

// An object of static storage that a lingering worker still uses; its destructor lingers too,
// so a worker that runs on past it gets the chance to notice.
struct ExitWatch {
    std::atomic<bool> destroyed{false};
    ~ExitWatch() {
        destroyed = true;
        std::this_thread::sleep_for(600ms);
    }
};

ExitWatch& exitWatch() {
    static ExitWatch watch;
    return watch;
}

// Ignores the stop for a while, as a processor that is still removing its working file.
class LingeringProcessor : public MediaProcessing {
  public:
    void process(const ProcessingRequest&, ProgressCallback, std::stop_token) override {
        started = true;
        std::this_thread::sleep_for(300ms);
        if (exitWatch().destroyed) {
            std::_Exit(3);
        }
    }
    void cancel() override {}
    std::atomic<bool> started{false};
};

}  // namespace

// A worker that outlives the shutdown's wait is joined when the queue goes, before the
// process's static objects are destroyed.
TEST(JobQueueExitTest, AWorkerThatOutlivesShutdownFinishesBeforeStaticsAreDestroyed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ensureApplication();
            exitWatch();
            auto processor = std::make_shared<LingeringProcessor>();
            auto queue = std::make_unique<JobQueueViewModel>(processor);
            queue->enqueueNext({remux("a")});
            if (!QTest::qWaitFor([&] { return processor->started.load(); }, 5000)) {
                std::_Exit(4);
            }
            if (queue->shutdown(10ms)) {
                std::_Exit(5);
            }
            queue.reset();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

namespace {

namespace fs = std::filesystem;

TEST_F(JobQueueTest, LeftoversOfAnEarlierRunAreRemovedOffTheGuiThreadAndShownInOneLine) {
    tavtest::TempDir scratch;
    const auto records = scratch / "records";
    const auto working =
        scratch / ".clip-clip.tmp-tavrolin-0F8FAD5B-D9CB-469F-A165-70867728950E.mkv";
    std::ofstream(working) << "half a copy";
    // A run of the app that ended without its clean-up: its record stays, unlocked.
    const pid_t earlier = ::fork();
    ASSERT_GE(earlier, 0);
    if (earlier == 0) {
        // Never destroyed: the process just ends.
        auto* record = new JobRecord(records);
        record->addWorkingOutput(working, scratch / "clip-clip.mkv");
        auto* earlierQueue = new JobQueueViewModel(std::make_shared<FakeProcessor>());
        earlierQueue->removeLeftoversOfEarlierRuns(records);
        earlierQueue->enqueue({remux("a"), remux("b"), remux("c")});
        // Written on the queue's own thread: the record appears beside the job's.
        for (int i = 0; i < 1000; ++i) {
            if (std::count_if(fs::directory_iterator(records), {}, [](const auto& entry) {
                    return entry.path().filename().native().front() != '.';
                }) == 2) {
                ::_exit(0);
            }
            std::this_thread::sleep_for(10ms);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(earlier, &status, 0), earlier);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QSignalSpy changed(queue.get(), &JobQueueViewModel::changed);
    queue->removeLeftoversOfEarlierRuns(records);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !queue->notices().empty(); }, 5000));
    EXPECT_EQ(queue->notices(),
              (std::vector<std::string>{
                  "Removed an unfinished copy of \u201Cclip-clip.mkv\u201D left by an earlier run.",
                  "3 jobs that were waiting in the queue when an earlier run ended were not kept. "
                  "Add them again to run them."}));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(fs::exists(working));
    EXPECT_TRUE(fs::is_empty(records));
}

}  // namespace
