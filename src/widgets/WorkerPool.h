#pragma once

#include <QThread>
#include <QThreadPool>

#include <chrono>
#include <functional>
#include <memory>

namespace tavrolin {

// The thread pool of one owner (a view model, the updater) for its blocking work. Unlike a
// QThreadPool member, destroying it never waits: work still queued is dropped (or, when asked,
// run after the owner is gone, for clean-up that must happen), and work still running (told to
// stop by its owner, or blocked in a hung mount where no stop reaches) is left to AbandonedWork,
// which frees the pool once that work has ended. Work therefore holds nothing of its owner but
// shared services and guarded ways back (runGuardedTask). GUI thread.
class WorkerPool {
  public:
    enum class WhenLeft { dropQueued, runQueued };

    // `idleFor`: how long a thread with nothing to do is kept for the next work.
    explicit WorkerPool(int maxThreads = QThread::idealThreadCount(),
                        std::chrono::milliseconds idleFor = std::chrono::seconds(30),
                        WhenLeft whenLeft = WhenLeft::dropQueued);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void start(std::function<void()> work);

  private:
    std::unique_ptr<QThreadPool> pool_;
    WhenLeft whenLeft_;
};

}  // namespace tavrolin
