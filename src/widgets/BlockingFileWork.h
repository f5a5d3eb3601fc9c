#pragma once

#include <QObject>

#include <pthread.h>

#include <functional>
#include <memory>
#include <vector>

namespace tavrolin {

// Runs file-system work that may block for good (a hung network mount) each on a thread of its
// own, and hands what it found back to `receiver` on the receiver's thread. Created, used and
// destroyed on the receiver's thread. Each thread holds only the work and a guarded way back,
// never the owner. The destructor never waits: work still blocked is abandoned, its answer
// dropped, and its thread is joined once it ends, or else ends with the process, so that
// neither closing a dialog nor Quit waits for a folder.
class BlockingFileWork {
  public:
    // What a work item returns: run on the receiver's thread, unless the receiver or this
    // object went first.
    using Delivery = std::function<void()>;
    using Work = std::function<Delivery()>;

    explicit BlockingFileWork(QObject* receiver);
    ~BlockingFileWork();
    BlockingFileWork(const BlockingFileWork&) = delete;
    BlockingFileWork& operator=(const BlockingFileWork&) = delete;

    // Starts `work` on a new thread. False when no thread could be had; nothing runs then.
    bool start(Work work);

  private:
    struct Shared;
    struct Task;
    static void* run(void* task);
    void reapThreads();

    std::shared_ptr<Shared> shared_;
    // Threads not known to have ended.
    std::vector<pthread_t> threads_;
};

}  // namespace tavrolin
