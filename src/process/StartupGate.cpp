#include "process/StartupGate.h"

namespace tavrolin {

std::mutex StartupGate::mutex_;
std::condition_variable StartupGate::opened_;
bool StartupGate::isOpen_ = true;

void StartupGate::close() {
    const std::lock_guard lock(mutex_);
    isOpen_ = false;
}

void StartupGate::open() {
    {
        const std::lock_guard lock(mutex_);
        isOpen_ = true;
    }
    opened_.notify_all();
}

void StartupGate::wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [] { return isOpen_; });
}

}  // namespace tavrolin
