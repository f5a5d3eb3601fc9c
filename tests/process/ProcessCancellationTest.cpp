#include "process/ProcessCancellation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>
#include <vector>

#include "model/CancellationError.h"
#include "process/FoundationProcessRunner.h"
#include "process/ProbeConcurrencyLimit.h"
#include "process/SpeechAnalysisCancellationBox.h"
#include "support/TempDir.h"

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

TEST(WithProcessCancellation, RunsWithoutHandlerAndStopsOnlyItsOwnChild) {
    FoundationProcessRunner runner;
    const auto done = withProcessCancellation(runner, "/bin/sh", {"-c", "echo hi; exit 2"}, {});
    EXPECT_EQ(done.terminationStatus, 2);
    EXPECT_EQ(done.standardOutput, "hi\n");

    std::stop_source stopFirst;
    auto first = std::async(std::launch::async, [&] {
        return withProcessCancellation(runner, "/bin/sleep", {"30"}, stopFirst.get_token());
    });
    auto second = std::async(std::launch::async, [&] {
        return withProcessCancellation(runner, "/bin/sh", {"-c", "sleep 0.5; echo second"}, {});
    });
    std::this_thread::sleep_for(100ms);
    stopFirst.request_stop();
    ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(first.get().terminationStatus, 128 + SIGTERM);
    const auto other = second.get();
    EXPECT_EQ(other.terminationStatus, 0);
    EXPECT_EQ(other.standardOutput, "second\n");
}

TEST(WithProcessCancellation, LaunchErrorPassesThrough) {
    tavtest::TempDir folder;
    FoundationProcessRunner runner;
    EXPECT_THROW(withProcessCancellation(runner, folder / "missing", {}, {}), std::system_error);
}

TEST(SpeechAnalysisCancellationBox, CancelCallsTheStoredActionUntilCleared) {
    SpeechAnalysisCancellationBox box;
    box.cancel();  // nothing stored: nothing happens
    EXPECT_FALSE(box.hasCancellation());

    int first = 0;
    int second = 0;
    box.store([&] { ++first; });
    box.cancel();
    box.cancel();  // not cleared by cancelling
    EXPECT_EQ(first, 2);

    box.store([&] { ++second; });  // replaces
    box.cancel();
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 1);

    box.clear();
    box.cancel();
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(box.hasCancellation());
}

TEST(SpeechAnalysisCancellationBox, ActionRunsOutsideTheLock) {
    // An action that touches the box itself would deadlock if it ran under the lock.
    SpeechAnalysisCancellationBox box;
    int calls = 0;
    box.store([&] {
        ++calls;
        box.clear();
    });
    box.cancel();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(box.hasCancellation());
}

TEST(ProbeConcurrencyLimit, BoundsConcurrentHoldersAndReleasesOnScopeExit) {
    ProbeConcurrencyLimit limit(2);
    std::atomic<int> current{0};
    std::atomic<int> highest{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            auto slot = limit.acquire();
            const int now = ++current;
            int seen = highest.load();
            while (now > seen && !highest.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(20ms);
            --current;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(highest.load(), 2);
    EXPECT_EQ(limit.inUse(), 0u);
}

TEST(ProbeConcurrencyLimit, WaitingEndsWithCancellationWhenStopped) {
    ProbeConcurrencyLimit limit(1);
    auto held = limit.acquire();
    std::stop_source stop;
    auto waiter = std::async(std::launch::async, [&] { return limit.acquire(stop.get_token()); });
    EXPECT_EQ(waiter.wait_for(50ms), std::future_status::timeout);
    stop.request_stop();
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    EXPECT_THROW(waiter.get(), CancellationError);
    EXPECT_EQ(limit.inUse(), 1u);

    // A moved slot is released once, by its last owner.
    auto moved = std::move(held);
    EXPECT_FALSE(held);
    EXPECT_TRUE(moved);
    moved = ProbeConcurrencyLimit::Slot();
    EXPECT_EQ(limit.inUse(), 0u);

    // A caller already stopped gets no slot, even a free one.
    std::stop_source already;
    already.request_stop();
    EXPECT_THROW(limit.acquire(already.get_token()), CancellationError);
    EXPECT_EQ(limit.inUse(), 0u);
}

TEST(ProbeConcurrencyLimit, SharedLimitHasOneSlotPerCoreAndNeverNone) {
    const auto cores = std::max(1u, std::thread::hardware_concurrency());
    EXPECT_EQ(ProbeConcurrencyLimit::shared().capacity(), cores);
    EXPECT_EQ(&ProbeConcurrencyLimit::shared(), &ProbeConcurrencyLimit::shared());

    // An unknown core count (0) still lets one ffprobe run at a time.
    ProbeConcurrencyLimit unknown(0);
    EXPECT_EQ(unknown.capacity(), 1u);
    auto slot = unknown.acquire();
    EXPECT_TRUE(slot);
    EXPECT_EQ(unknown.inUse(), 1u);
}

}  // namespace
}  // namespace tavrolin
