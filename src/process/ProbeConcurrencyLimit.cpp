#include "process/ProbeConcurrencyLimit.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "model/CancellationError.h"

namespace tavrolin {

ProbeConcurrencyLimit::Slot::Slot(Slot&& other) noexcept
    : limit_(std::exchange(other.limit_, nullptr)) {}

ProbeConcurrencyLimit::Slot& ProbeConcurrencyLimit::Slot::operator=(Slot&& other) noexcept {
    if (this != &other) {
        release();
        limit_ = std::exchange(other.limit_, nullptr);
    }
    return *this;
}

ProbeConcurrencyLimit::Slot::~Slot() {
    release();
}

void ProbeConcurrencyLimit::Slot::release() {
    if (limit_ != nullptr) {
        std::exchange(limit_, nullptr)->release();
    }
}

ProbeConcurrencyLimit::ProbeConcurrencyLimit(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)) {}

ProbeConcurrencyLimit& ProbeConcurrencyLimit::shared() {
    // hardware_concurrency() may answer 0 when it cannot tell; there is still one core.
    static ProbeConcurrencyLimit limit(std::max(1u, std::thread::hardware_concurrency()));
    return limit;
}

ProbeConcurrencyLimit::Slot ProbeConcurrencyLimit::acquire(std::stop_token stop) {
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    std::unique_lock lock(mutex_);
    if (!available_.wait(lock, stop, [this] { return inUse_ < capacity_; })) {
        throw CancellationError();
    }
    ++inUse_;
    return Slot(this);
}

std::size_t ProbeConcurrencyLimit::inUse() const {
    std::lock_guard lock(mutex_);
    return inUse_;
}

void ProbeConcurrencyLimit::release() {
    {
        std::lock_guard lock(mutex_);
        --inUse_;
    }
    available_.notify_one();
}

}  // namespace tavrolin
