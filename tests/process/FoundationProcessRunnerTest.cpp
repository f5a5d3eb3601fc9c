#include "process/FoundationProcessRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempDir.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::filesystem::path kShell = "/bin/sh";

ProcessResult sh(ProcessRunning& runner, const std::string& script,
                 ProcessOutputHandler handler = {}, std::stop_token stop = {}) {
    return runner.run(kShell, {"-c", script}, std::move(handler), std::move(stop));
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(FoundationProcessRunner, ReturnsExitStatusAndBothOutputs) {
    FoundationProcessRunner runner;
    int handlerCalls = 0;
    const auto silent = sh(runner, "exit 0", [&](std::string_view) { ++handlerCalls; });
    EXPECT_EQ(silent.terminationStatus, 0);
    EXPECT_EQ(silent.standardOutput, "");
    EXPECT_EQ(silent.standardError, "");
    EXPECT_EQ(handlerCalls, 0);

    const auto failed = sh(runner, "printf out; printf err >&2; exit 3");
    EXPECT_EQ(failed.terminationStatus, 3);
    EXPECT_EQ(failed.standardOutput, "out");
    EXPECT_EQ(failed.standardError, "err");
}

TEST(FoundationProcessRunner, PassesArgumentsUnchangedWithoutShellAndReadsEmptyInput) {
    FoundationProcessRunner runner;
    const std::vector<std::string> arguments{
        "-c", "printf '%s|' \"$@\"; cat", "zero", "a b", "$HOME", "'q'", "", "*"};
    const auto result = runner.run(kShell, arguments);
    EXPECT_EQ(result.terminationStatus, 0);
    // `cat` reads standard input, which is /dev/null: it ends at once.
    EXPECT_EQ(result.standardOutput, "a b|$HOME|'q'||*|");
}

TEST(FoundationProcessRunner, ChildInheritsEnvironmentButNotIgnoredOrBlockedSignals) {
    FoundationProcessRunner runner;
    ::setenv("TAVROLIN_RUNNER_TEST", "inherited", 1);
    EXPECT_EQ(sh(runner, "printf %s \"$TAVROLIN_RUNNER_TEST\"").standardOutput, "inherited");
    ::unsetenv("TAVROLIN_RUNNER_TEST");

    // An application that ignores SIGTERM, or a thread that blocks it, must still be able to
    // stop its children with it (and not only through the late SIGKILL).
    const auto previous = std::signal(SIGTERM, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigset_t oldMask;
    ::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask);
    std::stop_source source;
    auto future = std::async(std::launch::deferred, [&] {
        return runner.run("/bin/sleep", {"30"}, {}, source.get_token());
    });
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        source.request_stop();
    });
    const auto result = future.get();  // runs on this thread, with SIGTERM blocked
    stopper.join();
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    std::signal(SIGTERM, previous);
    EXPECT_EQ(result.terminationStatus, 128 + SIGTERM);
}

TEST(FoundationProcessRunner, RepairsIllFormedOutput) {
    FoundationProcessRunner runner;
    const auto result = sh(runner, "printf 'a\\377\\376b'; printf '\\303' >&2");
    EXPECT_EQ(result.standardOutput,
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(result.standardError, "\xEF\xBF\xBD");
}

TEST(FoundationProcessRunner, DeathBySignalReportsOneHundredTwentyEightPlusSignal) {
    FoundationProcessRunner runner;
    const auto result = sh(runner, "kill -KILL $$");
    EXPECT_EQ(result.terminationStatus, 128 + SIGKILL);
}

TEST(FoundationProcessRunner, MissingExecutableThrowsAndLeavesNothingToCancel) {
    tavtest::TempDir folder;
    FoundationProcessRunner runner;
    EXPECT_THROW(runner.run(folder / "missing", {}), std::system_error);
    runner.cancel();  // nothing is running: no effect, no crash

    // A directory and a non-executable file cannot be started either.
    EXPECT_THROW(runner.run(folder.path(), {}), std::system_error);
    // The runner still works afterwards.
    EXPECT_EQ(sh(runner, "exit 4").terminationStatus, 4);

    // A failed start while an earlier run is still going leaves cancel() nothing to act on,
    // so the earlier run is not hit.
    auto earlier = std::async(std::launch::async, [&] { return sh(runner, "sleep 0.5; echo ok"); });
    std::this_thread::sleep_for(100ms);
    EXPECT_THROW(runner.run(folder / "missing", {}), std::system_error);
    runner.cancel();
    const auto result = earlier.get();
    EXPECT_EQ(result.terminationStatus, 0);
    EXPECT_EQ(result.standardOutput, "ok\n");
}

TEST(FoundationProcessRunner, LargeOutputArrivesInChunksThatMakeUpStandardOutput) {
    FoundationProcessRunner runner;
    std::string joined;
    int chunks = 0;
    const auto result =
        sh(runner, "head -c 1048576 /dev/zero | tr '\\0' x", [&](std::string_view c) {
            joined.append(c);
            ++chunks;
        });
    EXPECT_EQ(result.terminationStatus, 0);
    ASSERT_EQ(result.standardOutput.size(), 1048576u);
    EXPECT_EQ(result.standardOutput.find_first_not_of('x'), std::string::npos);
    EXPECT_EQ(joined, result.standardOutput);
    EXPECT_GE(chunks, 1);
}

TEST(FoundationProcessRunner, DrainsBothPipesAtOnce) {
    FoundationProcessRunner runner;
    const auto result = sh(runner,
                           "head -c 1048576 /dev/zero | tr '\\0' e >&2 & "
                           "head -c 1048576 /dev/zero | tr '\\0' o; wait");
    EXPECT_EQ(result.terminationStatus, 0);
    EXPECT_EQ(result.standardOutput.size(), 1048576u);
    // Standard error is a bounded tail of what was written.
    EXPECT_EQ(result.standardError.size(), FoundationProcessRunner::standardErrorTailBytes);
    EXPECT_EQ(result.standardError.find_first_not_of('e'), std::string::npos);
}

TEST(FoundationProcessRunner, StandardErrorKeepsTheLastBytes) {
    FoundationProcessRunner runner;
    // 600 KiB of filler, then a marker that must survive at the very end.
    const auto result =
        sh(runner, "head -c 614400 /dev/zero | tr '\\0' f >&2; printf 'last line\\n' >&2; exit 1");
    EXPECT_EQ(result.terminationStatus, 1);
    EXPECT_EQ(result.standardError.size(), FoundationProcessRunner::standardErrorTailBytes);
    EXPECT_TRUE(result.standardError.ends_with("fff\nlast line\n") ||
                result.standardError.ends_with("flast line\n"));
}

TEST(FoundationProcessRunner, StopTokenEndsTheRunningChildByTermination) {
    FoundationProcessRunner runner;
    std::stop_source source;
    std::promise<void> started;
    auto future = std::async(std::launch::async, [&] {
        return sh(
            runner, "echo up; exec sleep 30", [&](std::string_view) { started.set_value(); },
            source.get_token());
    });
    started.get_future().wait();
    source.request_stop();
    // Ended by the termination itself: neither the kill after the grace period nor the 30 s.
    EXPECT_EQ(future.get().terminationStatus, 128 + SIGTERM);
}

TEST(FoundationProcessRunner, AlreadyStoppedTokenStartsNothing) {
    tavtest::TempDir folder;
    FoundationProcessRunner runner;
    std::stop_source source;
    source.request_stop();
    const auto marker = folder / "started";
    const auto result = sh(runner, "touch '" + marker.string() + "'", {}, source.get_token());
    EXPECT_EQ(result.terminationStatus, 128 + SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(FoundationProcessRunner, StopArrivingWhileTheChildIsBeingStartedStillEndsIt) {
    // Stops land at staggered moments around the start: before the token is watched, between
    // that and the spawn, and after. None may leave a child running its full 30 s.
    FoundationProcessRunner runner;
    for (int round = 0; round < 24; ++round) {
        std::stop_source source;
        std::promise<void> go;
        auto run = std::async(std::launch::async, [&, token = source.get_token()] {
            go.get_future().wait();
            return runner.run("/bin/sleep", {"30"}, {}, token);
        });
        go.set_value();
        std::this_thread::sleep_for(std::chrono::microseconds(round * 150));
        source.request_stop();
        ASSERT_EQ(run.wait_for(10s), std::future_status::ready) << "round " << round;
        EXPECT_EQ(run.get().terminationStatus, 128 + SIGTERM) << "round " << round;
    }
}

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Whether memory `run` handed back still reads as poisoned to the address sanitizer, which
// would poison whatever the kernel maps there next (a font cache, read later by a library).
// The kernel maps at the top of the highest gap that fits: plugs fill every place above a
// hole a child's stack fits exactly, so the stack goes there. The answer counts only when the
// hole is free again afterwards.
std::optional<bool> leavesPoisonedMemory(const std::function<void()>& run) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::size_t stackBytes = 256 * 1024;
    constexpr int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
    std::vector<char*> plugs;
    char* hole = nullptr;
    while (!hole && plugs.size() < 512) {
        plugs.push_back(static_cast<char*>(::mmap(nullptr, stackBytes, PROT_NONE, flags, -1, 0)));
        const std::size_t n = plugs.size();
        if (n >= 3 && plugs[n - 1] + stackBytes == plugs[n - 2] &&
            plugs[n - 2] + stackBytes == plugs[n - 3]) {
            hole = plugs[n - 2];
        }
    }
    if (hole) {
        ::munmap(hole, stackBytes);
    }
    run();
    std::optional<bool> poisoned;
    if (hole && ::mmap(hole, stackBytes, PROT_NONE, flags | MAP_FIXED_NOREPLACE, -1, 0) == hole) {
        poisoned = __asan_region_is_poisoned(hole, stackBytes) != nullptr;
    } else {
        std::erase(plugs, hole);  // whatever holds the place now is not ours to unmap
    }
    for (char* plug : plugs) {
        ::munmap(plug, stackBytes);
    }
    return poisoned;
#else
    run();
    return std::nullopt;
#endif
}

TEST(FoundationProcessRunner, EveryWayOutClosesItsDescriptorsAndReapsItsChild) {
    tavtest::TempDir folder;
    FoundationProcessRunner runner;
    sh(runner, "exit 0");  // lazily made process-wide resources exist from here on
    const std::size_t before = openDescriptors();
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(sh(runner, "echo out; echo err >&2; exit 1").terminationStatus, 1);
        EXPECT_THROW(runner.run(folder / "missing", {}), std::system_error);
        std::stop_source stopped;
        stopped.request_stop();
        sh(runner, "exit 0", {}, stopped.get_token());
        std::stop_source stopLater;
        auto run = std::async(std::launch::async, [&] {
            return runner.run("/bin/sleep", {"30"}, {}, stopLater.get_token());
        });
        std::this_thread::sleep_for(20ms);
        stopLater.request_stop();
        EXPECT_EQ(run.get().terminationStatus, 128 + SIGTERM);
        EXPECT_THROW(sh(runner, "echo a; echo b",
                        [](std::string_view) { throw std::runtime_error("handler failed"); }),
                     std::runtime_error);
        EXPECT_NE(leavesPoisonedMemory([&] { sh(runner, "exit 0"); }), true) << "round " << round;
    }
    EXPECT_EQ(openDescriptors(), before);
    // No child of this process is left unreaped.
    siginfo_t info{};
    const int waited = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT);
    EXPECT_TRUE((waited == -1 && errno == ECHILD) || (waited == 0 && info.si_pid == 0))
        << "unreaped child " << info.si_pid;
}

TEST(FoundationProcessRunner, ChildIgnoringTerminationIsKilledAfterGracePeriod) {
    FoundationProcessRunner runner;
    std::stop_source source;
    const auto start = Clock::now();
    auto future = std::async(std::launch::async, [&] {
        // exec keeps one process, so the pipes close when it dies.
        return sh(runner, "trap '' TERM; echo ready; exec sleep 60", {}, source.get_token());
    });
    std::this_thread::sleep_for(300ms);
    source.request_stop();
    ASSERT_EQ(future.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(future.get().terminationStatus, 128 + SIGKILL);
    EXPECT_GE(secondsSince(start), FoundationProcessRunner::killDelaySeconds - 0.5);
}

TEST(FoundationProcessRunner, StoppingOneOfThreeRunsOnOneRunnerEndsOnlyThatOne) {
    FoundationProcessRunner runner;
    std::stop_source first;
    std::stop_source second;
    std::stop_source third;
    auto start = [&](std::stop_source& source) {
        return std::async(std::launch::async, [&runner, token = source.get_token()] {
            return sh(runner, "sleep 1; echo done", {}, token);
        });
    };
    auto a = start(first);
    auto b = start(second);
    auto c = start(third);
    std::this_thread::sleep_for(200ms);
    first.request_stop();
    const auto stopped = a.get();
    EXPECT_EQ(stopped.terminationStatus, 128 + SIGTERM);
    EXPECT_EQ(b.get().standardOutput, "done\n");
    const auto last = c.get();
    EXPECT_EQ(last.terminationStatus, 0);
    EXPECT_EQ(last.standardOutput, "done\n");
}

TEST(FoundationProcessRunner, CancelTerminatesTheLatestRunOnly) {
    FoundationProcessRunner runner;
    auto older = std::async(std::launch::async, [&] { return sh(runner, "sleep 1; echo older"); });
    std::this_thread::sleep_for(150ms);
    auto latest = std::async(std::launch::async, [&] { return runner.run("/bin/sleep", {"30"}); });
    std::this_thread::sleep_for(150ms);
    runner.cancel();
    ASSERT_EQ(latest.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(latest.get().terminationStatus, 128 + SIGTERM);
    const auto first = older.get();
    EXPECT_EQ(first.terminationStatus, 0);
    EXPECT_EQ(first.standardOutput, "older\n");

    // Once the runs are over, cancel() has nothing to act on.
    runner.cancel();
    EXPECT_EQ(sh(runner, "echo again").standardOutput, "again\n");
}

TEST(FoundationProcessRunner, LongChildrenOfOneRunnerDoNotHoldAnotherRunnersPipes) {
    // Runner A starts long children while runner B's short runs have their pipes open. A pipe
    // end inherited by one of A's children would keep a B run waiting for that child's end.
    FoundationProcessRunner a;
    FoundationProcessRunner b;
    std::stop_source stopSleepers;
    std::vector<std::future<ProcessResult>> sleepers;
    std::mutex sleepersMutex;
    std::vector<std::future<void>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::async(std::launch::async, [&] {
            for (int i = 0; i < 10; ++i) {
                {
                    std::lock_guard lock(sleepersMutex);
                    sleepers.push_back(std::async(std::launch::async, [&] {
                        return a.run("/bin/sleep", {"30"}, {}, stopSleepers.get_token());
                    }));
                }
                EXPECT_EQ(sh(b, "echo x").standardOutput, "x\n");
            }
        }));
    }
    for (auto& worker : workers) {
        worker.get();
    }
    stopSleepers.request_stop();
    // Every sleeper was still there to be stopped: no short run waited for one to end.
    for (auto& sleeper : sleepers) {
        EXPECT_EQ(sleeper.get().terminationStatus, 128 + SIGTERM);
    }
}

TEST(FoundationProcessRunner, HandlerReceivesChunksDecodedAlone) {
    FoundationProcessRunner runner;
    std::vector<std::string> chunks;
    // A two-byte character split across two writes with a pause between them.
    const auto result = sh(runner, "printf '\\303'; sleep 0.2; printf '\\251'",
                           [&](std::string_view chunk) { chunks.emplace_back(chunk); });
    EXPECT_EQ(result.standardOutput, "\xC3\xA9");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0], "\xEF\xBF\xBD");
    EXPECT_EQ(chunks[1], "\xEF\xBF\xBD");
}

TEST(FoundationProcessRunner, HandlerErrorIsRethrownAfterTheChildExits) {
    FoundationProcessRunner runner;
    int calls = 0;
    EXPECT_THROW(sh(runner, "echo one; sleep 0.1; echo two; sleep 0.1; echo three",
                    [&](std::string_view) {
                        ++calls;
                        throw std::runtime_error("handler failed");
                    }),
                 std::runtime_error);
    EXPECT_EQ(calls, 1);
}

TEST(FoundationProcessRunner, DestroyingTheRunnerTerminatesItsRuns) {
    auto runner = std::make_unique<FoundationProcessRunner>();
    std::promise<void> started;
    auto run = std::async(std::launch::async, [&, r = runner.get()] {
        return r->run(kShell, {"-c", "echo up; exec sleep 30"},
                      [&](std::string_view) { started.set_value(); });
    });
    started.get_future().wait();
    runner.reset();
    ASSERT_EQ(run.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(run.get().terminationStatus, 128 + SIGTERM);
}

TEST(FoundationProcessRunner, StoppedChildLeavingADescendantDoesNotKeepTheRunWaiting) {
    FoundationProcessRunner runner;
    std::stop_source source;
    std::promise<void> started;
    auto future = std::async(std::launch::async, [&] {
        // The backgrounded sleep inherits the pipes and outlives the shell. Its id is written
        // once it runs sleep, so that the line is the event the stop waits for.
        return sh(
            runner,
            "sleep 30 & until read -r name < /proc/$!/comm && [ \"$name\" = sleep ]; do :; "
            "done; echo $!; wait",
            [&](std::string_view) { started.set_value(); }, source.get_token());
    });
    started.get_future().wait();
    source.request_stop();
    const auto result = future.get();
    EXPECT_EQ(result.terminationStatus, 128 + SIGTERM);

    // What was written before the stop is kept. The orphan still holds the pipes: the run did
    // not wait for it. It is ended here.
    const int orphan = std::atoi(result.standardOutput.c_str());
    ASSERT_GT(orphan, 1);
    EXPECT_EQ(result.standardOutput, std::to_string(orphan) + "\n");
    std::ifstream command("/proc/" + std::to_string(orphan) + "/comm");
    std::string name;
    EXPECT_TRUE(std::getline(command, name) && name == "sleep");
    if (name == "sleep") {
        ::kill(orphan, SIGKILL);
    }
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

// The process id a child script wrote into `file` (atomically), once it is there.
pid_t writtenPid(const std::filesystem::path& file) {
    for (int i = 0; i < 1000 && !std::filesystem::exists(file); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    pid_t pid = 0;
    std::ifstream(file) >> pid;
    return pid;
}

std::string writesPidThenSleeps(const std::filesystem::path& file) {
    return "echo $$ > '" + file.string() + ".new'; mv '" + file.string() + ".new' '" +
           file.string() + "'; exec sleep 60";
}

// Whether the process behind `pidfd` ends within `timeoutMs`.
bool endsWithin(int pidfd, int timeoutMs) {
    pollfd exited{pidfd, POLLIN, 0};
    return ::poll(&exited, 1, timeoutMs) == 1;
}

TEST(FoundationProcessRunner, ChildrenDieWithTheProcessButNotWithAnotherThread) {
    tavtest::TempDir folder;
    FoundationProcessRunner runner;
    std::stop_source stop;
    std::thread longRun(
        [&] { sh(runner, writesPidThenSleeps(folder / "long"), {}, stop.get_token()); });
    const pid_t longChild = writtenPid(folder / "long");
    ASSERT_GT(longChild, 0);
    const int longPidfd = static_cast<int>(::syscall(SYS_pidfd_open, longChild, 0));
    ASSERT_GE(longPidfd, 0);
    // Threads that start children and end meanwhile take only their own children along.
    for (int i = 0; i < 3; ++i) {
        std::thread([&] { EXPECT_EQ(sh(runner, "exit 4").terminationStatus, 4); }).join();
    }
    EXPECT_FALSE(endsWithin(longPidfd, 0));
    stop.request_stop();
    longRun.join();
    EXPECT_TRUE(endsWithin(longPidfd, 0));
    ::close(longPidfd);

    // A process killed outright: its child ends with it.
    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        FoundationProcessRunner hostRunner;
        sh(hostRunner, writesPidThenSleeps(folder / "orphan"));
        ::_exit(0);
    }
    const pid_t orphan = writtenPid(folder / "orphan");
    ASSERT_GT(orphan, 0);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, orphan, 0));
    ASSERT_GE(pidfd, 0);
    ASSERT_EQ(::kill(host, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(host, &status, 0), host);
    EXPECT_TRUE(endsWithin(pidfd, 2000)) << "the child outlived the process that started it";
    ::close(pidfd);
}

}  // namespace
}  // namespace tavrolin
