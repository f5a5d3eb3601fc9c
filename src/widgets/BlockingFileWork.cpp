#include "widgets/BlockingFileWork.h"

#include <QMetaObject>

#include <mutex>

#include "process/AbandonedWork.h"

namespace tavrolin {

struct BlockingFileWork::Shared {
    std::mutex mutex;
    // None once the owner is gone; posting happens under the lock, so the receiver stands
    // meanwhile.
    QObject* receiver = nullptr;
};

struct BlockingFileWork::Task {
    std::shared_ptr<Shared> shared;
    Work work;
};

void* BlockingFileWork::run(void* raw) {
    const std::unique_ptr<Task> task(static_cast<Task*>(raw));
    Delivery delivery = task->work();
    const std::lock_guard lock(task->shared->mutex);
    if (auto* receiver = task->shared->receiver; receiver && delivery) {
        // Queued to the receiver: dropped with it should it go before the event is served.
        QMetaObject::invokeMethod(receiver, std::move(delivery), Qt::QueuedConnection);
    }
    return nullptr;
}

BlockingFileWork::BlockingFileWork(QObject* receiver) : shared_(std::make_shared<Shared>()) {
    shared_->receiver = receiver;
}

BlockingFileWork::~BlockingFileWork() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->receiver = nullptr;
    }
    reapThreads();
    for (const pthread_t thread : threads_) {
        AbandonedWork::keep([thread] { return pthread_tryjoin_np(thread, nullptr) == 0; });
    }
}

void BlockingFileWork::reapThreads() {
    std::erase_if(threads_,
                  [](pthread_t thread) { return pthread_tryjoin_np(thread, nullptr) == 0; });
}

bool BlockingFileWork::start(Work work) {
    reapThreads();
    auto task = std::make_unique<Task>(Task{shared_, std::move(work)});
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, &BlockingFileWork::run, task.get()) != 0) {
        return false;
    }
    task.release();  // the thread owns it now
    threads_.push_back(thread);
    return true;
}

}  // namespace tavrolin
