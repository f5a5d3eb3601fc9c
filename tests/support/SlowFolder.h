#pragma once

// A folder whose every file-system call takes a while, as on a slow network mount, made without
// FUSE: including this header (in one source file of a test executable only) defines the C
// library's path calls in the executable, where they take precedence over the library's own
// for every caller in the process, Qt included. Once started, a call naming a path under the
// folder waits the delay (or until stop) before it is answered; calls made on the main (GUI) thread
// are counted, with the last one named, so that a test can say which call held the window. Reads
// of files opened under the folder while it is started wait too once a start asks so: a mount that
// stops answering in the middle of a file (a preview decoding it, a player playing it).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
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
    // From now on, calls under `folder` wait `delay`, and with `reads` so do reads of the files
    // opened there; the count starts again.
    static void start(const std::filesystem::path& folder, std::chrono::milliseconds delay,
                      bool reads = false) {
        const std::lock_guard lock(state().mutex);
        state().folder = folder.string();
        state().lastOnGuiThread.clear();
        state().guiThreadCalls = 0;
        state().delay = delay;
        state().reads = reads;
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
        std::unique_lock lock(s.mutex);
        if (s.holds(path)) {
            s.hold(lock, call, path);
        }
    }
    // Remembers a file opened under the folder, whose reads may wait later.
    static void opened(const char* path, int file) {
        State& s = state();
        if (!s.active || path == nullptr || file < 0 || file >= maximumFile) {
            return;
        }
        const std::lock_guard lock(s.mutex);
        s.opened[file] = s.holds(path);
    }
    static void closing(int file) {
        if (file >= 0 && file < maximumFile) {
            state().opened[file] = false;
        }
    }
    static void reading(int file) {
        State& s = state();
        if (!s.active || !s.reads || file < 0 || file >= maximumFile || !s.opened[file]) {
            return;
        }
        std::unique_lock lock(s.mutex);
        s.hold(lock, "read", "file " + std::to_string(file));
    }

  private:
    static constexpr int maximumFile = 4096;
    struct State {
        std::atomic<bool> active{false};
        std::atomic<bool> reads{false};
        std::array<std::atomic<bool>, maximumFile> opened{};
        std::atomic<int> guiThreadCalls{0};
        std::atomic<int> waiting{0};
        std::mutex mutex;
        std::condition_variable stopped;
        std::string folder;
        std::string lastOnGuiThread;
        std::chrono::milliseconds delay{};

        // Under the lock.
        bool holds(const char* path) const {
            return std::strncmp(path, folder.c_str(), folder.size()) == 0 &&
                   (path[folder.size()] == '/' || path[folder.size()] == '\0');
        }
        // Counts a call on the GUI thread, then waits the delay or until stop.
        void hold(std::unique_lock<std::mutex>& lock, const char* call, const std::string& path) {
            if (::syscall(SYS_gettid) == ::getpid()) {
                ++guiThreadCalls;
                lastOnGuiThread = std::string(call) + " " + path;
            }
            ++waiting;
            stopped.wait_for(lock, delay, [&] { return !active; });
            --waiting;
        }
    };
    // Never destroyed: threads a hung folder holds still wait on it at exit.
    static State& state() {
        static State* const s = new State;
        return *s;
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
        const int file = next arguments;                                            \
        tavtest::SlowFolder::opened(path, file);                                    \
        return file;                                                                \
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
// Reads and closes of any file (the decoder and the player read with read()): only those
// opened under the folder are looked at.
extern "C" ssize_t read(int file, void* buffer, size_t size) {
    static const auto next = tavtest::nextDefinition<ssize_t (*)(int, void*, size_t)>("read");
    tavtest::SlowFolder::reading(file);
    return next(file, buffer, size);
}
extern "C" int close(int file) {
    static const auto next = tavtest::nextDefinition<int (*)(int)>("close");
    tavtest::SlowFolder::closing(file);
    return next(file);
}
