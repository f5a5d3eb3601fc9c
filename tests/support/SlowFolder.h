#pragma once

// A folder whose every file-system call takes a while, as on a slow network mount, made without
// FUSE: including this header (in one source file of a test executable only) defines the C
// library's path calls in the executable, where they take precedence over the library's own
// for every caller in the process, Qt included. Once started, a call naming a path under the
// folder waits the delay (or until stop) before it is answered; calls made on the main (GUI) thread
// are counted, with the last one named, so that a test can say which call held the window.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace tavtest {

class SlowFolder {
  public:
    // From now on, calls under `folder` wait `delay`; the count starts again.
    static void start(const std::filesystem::path& folder, std::chrono::milliseconds delay) {
        const std::lock_guard lock(state().mutex);
        state().folder = folder.string();
        state().lastOnGuiThread.clear();
        state().guiThreadCalls = 0;
        state().delay = delay;
        state().active = true;
    }
    // Calls still waiting are answered at once: a hung folder (a delay longer than the test)
    // lets its threads go.
    static void stop() {
        {
            const std::lock_guard lock(state().mutex);
            state().active = false;
        }
        state().stopped.notify_all();
    }
    static int guiThreadCalls() { return state().guiThreadCalls; }
    // How many calls are waiting now.
    static int waiting() { return state().waiting; }
    static std::string lastOnGuiThread() {
        const std::lock_guard lock(state().mutex);
        return state().lastOnGuiThread;
    }

    // Waits when `path` lies under the folder; what the interposed calls run first.
    static void visit(const char* call, const char* path) {
        State& s = state();
        if (!s.active || path == nullptr) {
            return;
        }
        std::chrono::milliseconds delay{};
        {
            std::unique_lock lock(s.mutex);
            const std::string& folder = s.folder;
            if (std::strncmp(path, folder.c_str(), folder.size()) != 0 ||
                (path[folder.size()] != '/' && path[folder.size()] != '\0')) {
                return;
            }
            if (::syscall(SYS_gettid) == ::getpid()) {
                ++s.guiThreadCalls;
                s.lastOnGuiThread = std::string(call) + " " + path;
            }
            delay = s.delay;
            ++s.waiting;
            s.stopped.wait_for(lock, delay, [&] { return !s.active; });
            --s.waiting;
        }
    }

  private:
    struct State {
        std::atomic<bool> active{false};
        std::atomic<int> guiThreadCalls{0};
        std::atomic<int> waiting{0};
        std::mutex mutex;
        std::condition_variable stopped;
        std::string folder;
        std::string lastOnGuiThread;
        std::chrono::milliseconds delay{};
    };
    static State& state() {
        static State s;
        return s;
    }
};

template <typename Function>
Function nextDefinition(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace tavtest

// Each waits, then calls the library's own definition.
#define TAVTEST_SLOW_CALL(name, returns, parameters, arguments, path)                   \
    extern "C" returns name parameters {                                                \
        static const auto next = tavtest::nextDefinition<returns(*) parameters>(#name); \
        tavtest::SlowFolder::visit(#name, path);                                        \
        return next arguments;                                                          \
    }
#define TAVTEST_SLOW_NOTHROW_CALL(name, returns, parameters, arguments, path)           \
    extern "C" returns name parameters noexcept {                                       \
        static const auto next = tavtest::nextDefinition<returns(*) parameters>(#name); \
        tavtest::SlowFolder::visit(#name, path);                                        \
        return next arguments;                                                          \
    }
#define TAVTEST_SLOW_OPEN(name, parameters, arguments, path)                        \
    extern "C" int name parameters {                                                \
        static const auto next = tavtest::nextDefinition<int(*) parameters>(#name); \
        tavtest::SlowFolder::visit(#name, path);                                    \
        mode_t mode = 0;                                                            \
        if ((flags & (O_CREAT | O_TMPFILE)) != 0) {                                 \
            va_list rest;                                                           \
            va_start(rest, flags);                                                  \
            mode = static_cast<mode_t>(va_arg(rest, int));                          \
            va_end(rest);                                                           \
        }                                                                           \
        return next arguments;                                                      \
    }

TAVTEST_SLOW_NOTHROW_CALL(statx, int,
                          (int dirfd, const char* path, int flags, unsigned mask,
                           struct statx* buffer),
                          (dirfd, path, flags, mask, buffer), path)
TAVTEST_SLOW_NOTHROW_CALL(stat, int, (const char* path, struct stat* buffer), (path, buffer), path)
TAVTEST_SLOW_NOTHROW_CALL(stat64, int, (const char* path, struct stat64* buffer), (path, buffer),
                          path)
TAVTEST_SLOW_NOTHROW_CALL(lstat, int, (const char* path, struct stat* buffer), (path, buffer), path)
TAVTEST_SLOW_NOTHROW_CALL(lstat64, int, (const char* path, struct stat64* buffer), (path, buffer),
                          path)
TAVTEST_SLOW_NOTHROW_CALL(fstatat, int,
                          (int dirfd, const char* path, struct stat* buffer, int flags),
                          (dirfd, path, buffer, flags), path)
TAVTEST_SLOW_NOTHROW_CALL(fstatat64, int,
                          (int dirfd, const char* path, struct stat64* buffer, int flags),
                          (dirfd, path, buffer, flags), path)
TAVTEST_SLOW_NOTHROW_CALL(access, int, (const char* path, int mode), (path, mode), path)
TAVTEST_SLOW_NOTHROW_CALL(faccessat, int, (int dirfd, const char* path, int mode, int flags),
                          (dirfd, path, mode, flags), path)
TAVTEST_SLOW_NOTHROW_CALL(realpath, char*, (const char* path, char* resolved), (path, resolved),
                          path)
TAVTEST_SLOW_NOTHROW_CALL(readlink, ssize_t, (const char* path, char* buffer, size_t size),
                          (path, buffer, size), path)
TAVTEST_SLOW_NOTHROW_CALL(statfs, int, (const char* path, struct statfs* buffer), (path, buffer),
                          path)
TAVTEST_SLOW_NOTHROW_CALL(statfs64, int, (const char* path, struct statfs64* buffer),
                          (path, buffer), path)
TAVTEST_SLOW_NOTHROW_CALL(inotify_add_watch, int, (int fd, const char* path, uint32_t mask),
                          (fd, path, mask), path)
TAVTEST_SLOW_CALL(opendir, DIR*, (const char* path), (path), path)
TAVTEST_SLOW_OPEN(open, (const char* path, int flags, ...), (path, flags, mode), path)
TAVTEST_SLOW_OPEN(open64, (const char* path, int flags, ...), (path, flags, mode), path)
TAVTEST_SLOW_OPEN(openat, (int dirfd, const char* path, int flags, ...), (dirfd, path, flags, mode),
                  path)
TAVTEST_SLOW_OPEN(openat64, (int dirfd, const char* path, int flags, ...),
                  (dirfd, path, flags, mode), path)
