#pragma once

#include <functional>
#include <mutex>

namespace tavrolin {

// Where a running speech analysis leaves the action that stops it, so that a cancel from any
// thread can reach it. The lock is held only to read or replace the action; the action itself
// runs outside the lock.
class SpeechAnalysisCancellationBox {
  public:
    // Replaces any stored action.
    void store(std::function<void()> cancellation);
    void clear();
    // Calls the stored action, if any, without clearing it (a second cancel calls it again).
    void cancel();
    bool hasCancellation() const;

  private:
    mutable std::mutex mutex_;
    std::function<void()> cancellation_;
};

}  // namespace tavrolin
