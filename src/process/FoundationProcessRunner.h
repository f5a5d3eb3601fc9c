#pragma once

#include <cstddef>
#include <memory>

#include "process/ProcessRunning.h"

namespace tavrolin {

// Runs children with a vfork-style clone and exec (as fast as posix_spawn): standard input from
// /dev/null, standard output and standard error through close-on-exec pipes drained by two reader
// threads, the child watched and signalled through a pidfd so that a reused process id is never
// hit. Every child is killed (SIGKILL) when this process dies, however it dies: it carries a
// parent-death signal bound to the thread that called `run`, which stays in `run` until the child
// is reaped.
//
// Termination (a stop request or cancel()) sends SIGTERM, then SIGKILL when the child is still
// alive five seconds later. A child that died by a signal reports 128 + the signal number.
// A run whose stop token is already stopped when `run` is called starts nothing and returns at
// once with status 128 + SIGTERM and empty output, as if its child had been terminated.
//
// Standard output is kept whole; standard error keeps only its last `standardErrorTailBytes`.
// When the output handler throws (or the output cannot be stored), the handler is not called
// again, the pipe is still drained, and `run` rethrows that exception after the child exited.
//
// One runner may serve overlapping runs from several threads. Destroying the runner while runs
// are in progress is allowed: their children are terminated and the runs return on their own
// threads. It must not race with a call to `run` that is just starting.
class FoundationProcessRunner final : public ProcessRunning {
  public:
    static constexpr std::size_t standardErrorTailBytes = 256 * 1024;
    static constexpr int killDelaySeconds = 5;

    FoundationProcessRunner();
    ~FoundationProcessRunner() override;
    FoundationProcessRunner(const FoundationProcessRunner&) = delete;
    FoundationProcessRunner& operator=(const FoundationProcessRunner&) = delete;

    ProcessResult run(const std::filesystem::path& executable,
                      const std::vector<std::string>& arguments,
                      ProcessOutputHandler outputHandler = {}, std::stop_token stop = {}) override;

    void cancel() override;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace tavrolin
