#include "process/FoundationProcessRunner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sanitizer/asan_interface.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "process/Utf8Repair.h"

extern char** environ;

namespace tavrolin {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kTerminatedStatus = 128 + SIGTERM;
constexpr std::size_t kReadBufferBytes = 256 * 1024;
// After an abandoned wait, at most this many reads drain what is already in a pipe.
constexpr int kDrainReadsAfterAbandon = 64;

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_ = -1;
};

int pidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int pidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

Fd makeEventFd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        throwErrno("eventfd");
    }
    return Fd(fd);
}

void signalEventFd(int fd) {
    const std::uint64_t one = 1;
    // A full counter still leaves the descriptor readable, which is all the waiters need.
    [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
}

void drainEventFd(int fd) {
    std::uint64_t value = 0;
    [[maybe_unused]] const auto ignored = ::read(fd, &value, sizeof value);
}

std::pair<Fd, Fd> makePipe() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
        throwErrno("pipe2");
    }
    return {Fd(fds[0]), Fd(fds[1])};
}

}  // namespace

// One child of one run. terminate() may come from any thread at any time: before the child
// exists (it is then signalled as soon as it is spawned), while it runs, or after it was
// reaped (nothing happens; the pidfd makes a late signal harmless anyway).
class RunChild {
  public:
    RunChild() : wake_(makeEventFd()) {}

    int wakeFd() const { return wake_.get(); }

    // A termination requested before the child existed is delivered now.
    void attach(int pidfd) {
        std::lock_guard lock(mutex_);
        pidfd_ = pidfd;
        if (terminationRequested_) {
            signalLocked();
        }
    }

    void terminate() {
        std::lock_guard lock(mutex_);
        if (reaped_) {
            return;
        }
        terminationRequested_ = true;
        if (pidfd_ >= 0 && !terminatedAt_) {
            signalLocked();
        }
    }

    bool terminationRequested() {
        std::lock_guard lock(mutex_);
        return terminationRequested_;
    }

    // Milliseconds the waiter may sleep: -1 without a pending termination; sends SIGKILL once
    // the grace period after SIGTERM has run out.
    int waitTimeout() {
        std::lock_guard lock(mutex_);
        if (!terminatedAt_ || killed_) {
            return -1;
        }
        const auto deadline =
            *terminatedAt_ + std::chrono::seconds(FoundationProcessRunner::killDelaySeconds);
        const auto now = Clock::now();
        if (now >= deadline) {
            pidfdSendSignal(pidfd_, SIGKILL);
            killed_ = true;
            return -1;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        return static_cast<int>(left.count());
    }

    void markReaped() {
        std::lock_guard lock(mutex_);
        reaped_ = true;
    }

  private:
    void signalLocked() {
        pidfdSendSignal(pidfd_, SIGTERM);
        terminatedAt_ = Clock::now();
        signalEventFd(wake_.get());
    }

    std::mutex mutex_;
    Fd wake_;
    int pidfd_ = -1;  // owned by the run
    bool terminationRequested_ = false;
    bool reaped_ = false;
    bool killed_ = false;
    std::optional<Clock::time_point> terminatedAt_;
};

struct FoundationProcessRunner::State {
    std::mutex mutex;
    std::shared_ptr<RunChild> latest;
    std::vector<std::shared_ptr<RunChild>> inFlight;

    void add(const std::shared_ptr<RunChild>& child) {
        std::lock_guard lock(mutex);
        latest = child;
        inFlight.push_back(child);
    }

    void remove(const std::shared_ptr<RunChild>& child) {
        std::lock_guard lock(mutex);
        if (latest == child) {
            latest.reset();
        }
        std::erase(inFlight, child);
    }
};

namespace {

// Reads `fd` until end of file, or, once `abandonFd` is signalled, until the pipe is empty.
template <typename Sink>
void drainPipe(int fd, int abandonFd, Sink&& sink) {
    std::string buffer(kReadBufferBytes, '\0');
    bool abandoned = false;
    int drainReads = 0;
    for (;;) {
        if (!abandoned) {
            std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {abandonFd, POLLIN, 0}}};
            const int ready = ::poll(fds.data(), fds.size(), -1);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                abandoned = true;
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            }
        }
        if (abandoned && ++drainReads > kDrainReadsAfterAbandon) {
            return;
        }
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN && !abandoned) {
                continue;
            }
            return;
        }
        if (count == 0) {
            return;
        }
        sink(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
    }
}

// The last `limit` bytes of standard error, starting at a character boundary when cut.
class TailBuffer {
  public:
    explicit TailBuffer(std::size_t limit) : limit_(limit) {}

    void append(std::string_view chunk) {
        if (chunk.size() >= limit_) {
            bytes_.assign(chunk.substr(chunk.size() - limit_));
            cut_ = true;
            return;
        }
        bytes_.append(chunk);
        if (bytes_.size() > 2 * limit_) {
            bytes_.erase(0, bytes_.size() - limit_);
            cut_ = true;
        }
    }

    std::string take() {
        if (bytes_.size() > limit_) {
            bytes_.erase(0, bytes_.size() - limit_);
            cut_ = true;
        }
        if (cut_) {
            std::size_t skip = 0;
            while (skip < 3 && skip < bytes_.size() &&
                   (static_cast<unsigned char>(bytes_[skip]) & 0xC0) == 0x80) {
                ++skip;
            }
            bytes_.erase(0, skip);
        }
        return std::move(bytes_);
    }

  private:
    std::size_t limit_;
    std::string bytes_;
    bool cut_ = false;
};

// What the child needs between clone and exec. It shares this process's memory until exec
// (CLONE_VM | CLONE_VFORK, as posix_spawn does), so it only reads these fields and writes `error`.
struct ChildSetup {
    const char* path = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int input = -1;
    int output = -1;
    int error = -1;
    pid_t parent = 0;
    int failure = 0;  // errno of the step that failed; 0 once exec succeeded
};

[[gnu::no_sanitize_address]] void duplicateTo(int fd, int target) {
    if (fd == target) {
        ::fcntl(fd, F_SETFD, 0);  // keep it open across exec
    } else {
        ::dup2(fd, target);
    }
}

// Runs in the child before exec: only async-signal-safe calls. Not instrumented by the address
// sanitizer: it runs on a stack the sanitizer does not know and never returns to unmark it.
[[gnu::no_sanitize_address]] int childMain(void* argument) {
    auto& setup = *static_cast<ChildSetup*>(argument);
    // Default dispositions for every signal, whatever this process had (an ignored SIGTERM or
    // SIGPIPE must not leak into the child); the mask opens only after that.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) {
            ::sigaction(signal, &defaults, nullptr);
        }
    }
    // The child dies with the thread that made it, and that thread stays in `run` until the
    // child is reaped, so in effect with this process, however it ends. A process that died
    // before the request took effect left the child to another parent: it must not run.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        setup.failure = errno;
        ::_exit(127);
    }
    if (::getppid() != setup.parent) {
        setup.failure = ESRCH;
        ::_exit(127);
    }
    duplicateTo(setup.input, STDIN_FILENO);
    duplicateTo(setup.output, STDOUT_FILENO);
    duplicateTo(setup.error, STDERR_FILENO);
    sigset_t empty;
    sigemptyset(&empty);
    ::sigprocmask(SIG_SETMASK, &empty, nullptr);
    ::execve(setup.path, setup.argv, setup.envp);
    setup.failure = errno;
    ::_exit(127);
}

// The child's own stack until exec; the parent is suspended meanwhile.
class ChildStack {
  public:
    static constexpr std::size_t bytes = 256 * 1024;
    ChildStack() {
        base_ = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (base_ == MAP_FAILED) {
            throwErrno("mmap");
        }
    }
    ~ChildStack() {
        // The sanitizer's marks of the child's frames would poison whatever is mapped here next.
        ASAN_UNPOISON_MEMORY_REGION(base_, bytes);
        ::munmap(base_, bytes);
    }
    ChildStack(const ChildStack&) = delete;
    ChildStack& operator=(const ChildStack&) = delete;
    void* top() const { return static_cast<char*>(base_) + bytes; }

  private:
    void* base_ = nullptr;
};

pid_t spawnChild(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                 int outWrite, int errWrite) {
    Fd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) {
        throwErrno("/dev/null");
    }
    std::string argv0 = executable.string();
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(argv0.data());
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    ChildSetup setup;
    setup.path = executable.c_str();
    setup.argv = argv.data();
    setup.envp = environ;
    setup.input = input.get();
    setup.output = outWrite;
    setup.error = errWrite;
    setup.parent = ::getpid();
    ChildStack stack;

    // No handler of this process may run in the child while it shares our memory.
    sigset_t all;
    sigfillset(&all);
    sigset_t previous;
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::clone(childMain, stack.top(), CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
    const int cloneError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) {
        throw std::system_error(cloneError, std::generic_category(), "clone");
    }
    if (setup.failure != 0) {
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        throw std::system_error(setup.failure, std::generic_category(), executable.string());
    }
    return pid;
}

struct ExitStatus {
    std::int32_t status = 0;
    int signal = 0;
};

ExitStatus statusOf(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) {
        return {info.si_status, 0};
    }
    return {128 + info.si_status, info.si_status};
}

// Waits for the child to exit, escalating to SIGKILL when a termination goes unanswered.
ExitStatus waitForExit(RunChild& child, int pidfd) {
    for (;;) {
        const int timeout = child.waitTimeout();
        std::array<pollfd, 2> fds{{{pidfd, POLLIN, 0}, {child.wakeFd(), POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            throwErrno("poll");
        }
        if (ready > 0 && fds[0].revents != 0) {
            break;
        }
        if (ready > 0 && fds[1].revents != 0) {
            drainEventFd(child.wakeFd());
        }
    }
    siginfo_t info{};
    while (::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED) != 0) {
        if (errno != EINTR) {
            throwErrno("waitid");
        }
    }
    child.markReaped();
    return statusOf(info);
}

// Kills and reaps a child whose run could not be set up completely.
void killAndReap(int pidfd) {
    pidfdSendSignal(pidfd, SIGKILL);
    siginfo_t info{};
    while (::waitid(P_PIDFD, static_cast<id_t>(pidfd), &info, WEXITED) != 0 && errno == EINTR) {
    }
}

}  // namespace

FoundationProcessRunner::FoundationProcessRunner() : state_(std::make_shared<State>()) {}

FoundationProcessRunner::~FoundationProcessRunner() {
    std::vector<std::shared_ptr<RunChild>> children;
    {
        std::lock_guard lock(state_->mutex);
        children = state_->inFlight;
    }
    for (const auto& child : children) {
        child->terminate();
    }
}

ProcessResult FoundationProcessRunner::run(const std::filesystem::path& executable,
                                           const std::vector<std::string>& arguments,
                                           ProcessOutputHandler outputHandler,
                                           std::stop_token stop) {
    if (stop.stop_requested()) {
        return ProcessResult{kTerminatedStatus, {}, {}};
    }
    // Everything below holds its own reference, so the runner may go away meanwhile.
    const std::shared_ptr<State> state = state_;
    auto child = std::make_shared<RunChild>();
    state->add(child);
    struct Unregister {
        State& state;
        const std::shared_ptr<RunChild>& child;
        ~Unregister() { state.remove(child); }
    } unregister{*state, child};
    std::stop_callback onStop(stop, [&child] { child->terminate(); });

    auto [outRead, outWrite] = makePipe();
    auto [errRead, errWrite] = makePipe();
    Fd abandon = makeEventFd();

    const pid_t pid = spawnChild(executable, arguments, outWrite.get(), errWrite.get());
    outWrite.reset();
    errWrite.reset();
    Fd pidfd(pidfdOpen(pid));
    if (pidfd.get() < 0) {
        const int error = errno;
        ::kill(pid, SIGKILL);  // not reaped yet, so the id is still this child's
        int ignored = 0;
        ::waitpid(pid, &ignored, 0);
        throw std::system_error(error, std::generic_category(), "pidfd_open");
    }
    child->attach(pidfd.get());

    std::string standardOutput;
    TailBuffer standardError(standardErrorTailBytes);
    std::exception_ptr outputError;

    std::thread outReader;
    std::thread errReader;
    const auto joinReaders = [&] {
        if (outReader.joinable()) {
            outReader.join();
        }
        if (errReader.joinable()) {
            errReader.join();
        }
    };
    // A run whose setup or wait failed: the child is killed and reaped, the readers let go.
    const auto abortRun = [&] {
        killAndReap(pidfd.get());
        child->markReaped();
        signalEventFd(abandon.get());
        joinReaders();
    };
    try {
        outReader = std::thread([&, fd = outRead.get(), abandonFd = abandon.get()] {
            // After a failure (the handler's, or no memory for the output) the pipe is still
            // drained so that the child never blocks on it; the error is rethrown later.
            drainPipe(fd, abandonFd, [&](std::string_view chunk) {
                if (outputError) {
                    return;
                }
                try {
                    standardOutput.append(chunk);
                    if (outputHandler) {
                        outputHandler(repairUtf8(chunk));
                    }
                } catch (...) {
                    outputError = std::current_exception();
                }
            });
        });
        errReader = std::thread([&, fd = errRead.get(), abandonFd = abandon.get()] {
            drainPipe(fd, abandonFd, [&](std::string_view chunk) { standardError.append(chunk); });
        });
    } catch (...) {
        abortRun();
        throw;
    }

    ExitStatus status;
    try {
        status = waitForExit(*child, pidfd.get());
    } catch (...) {
        abortRun();
        throw;
    }
    // A terminated child may have left a descendant holding the pipes open; do not wait on it.
    if (child->terminationRequested()) {
        signalEventFd(abandon.get());
    }
    joinReaders();

    if (outputError) {
        std::rethrow_exception(outputError);
    }
    return ProcessResult{status.status, repairUtf8InPlace(std::move(standardOutput)),
                         repairUtf8InPlace(standardError.take()), status.signal};
}

void FoundationProcessRunner::cancel() {
    std::shared_ptr<RunChild> child;
    {
        std::lock_guard lock(state_->mutex);
        child = state_->latest;
    }
    if (child) {
        child->terminate();
    }
}

}  // namespace tavrolin
