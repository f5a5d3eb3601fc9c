#include "widgets/WorkerPool.h"

#include <algorithm>

#include "process/AbandonedWork.h"

namespace tavrolin {

WorkerPool::WorkerPool(int maxThreads, std::chrono::milliseconds idleFor, WhenLeft whenLeft)
    : pool_(std::make_unique<QThreadPool>()), whenLeft_(whenLeft) {
    pool_->setMaxThreadCount(std::max(1, maxThreads));
    pool_->setExpiryTimeout(static_cast<int>(idleFor.count()));
}

WorkerPool::~WorkerPool() {
    if (whenLeft_ == WhenLeft::dropQueued) {
        pool_->clear();
    }
    if (pool_->waitForDone(0)) {
        return;
    }
    AbandonedWork::keep([pool = pool_.release()] {
        if (!pool->waitForDone(0)) {
            return false;
        }
        delete pool;
        return true;
    });
}

void WorkerPool::start(std::function<void()> work) {
    pool_->start(std::move(work));
}

}  // namespace tavrolin
