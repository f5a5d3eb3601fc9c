#include "process/SpeechAnalysisCancellationBox.h"

#include <utility>

namespace tavrolin {

void SpeechAnalysisCancellationBox::store(std::function<void()> cancellation) {
    std::function<void()> previous;
    std::lock_guard lock(mutex_);
    previous = std::exchange(cancellation_, std::move(cancellation));
    // `previous` is destroyed after the lock is released (declared before it).
}

void SpeechAnalysisCancellationBox::clear() {
    store({});
}

void SpeechAnalysisCancellationBox::cancel() {
    std::function<void()> action;
    {
        std::lock_guard lock(mutex_);
        action = cancellation_;
    }
    if (action) {
        action();
    }
}

bool SpeechAnalysisCancellationBox::hasCancellation() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(cancellation_);
}

}  // namespace tavrolin
