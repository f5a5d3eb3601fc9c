#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stop_token>

namespace tavrolin {

// Bounds how many ffprobe children run at once across the application: take a slot around
// each run. The job queue's ffmpeg is not counted.
class ProbeConcurrencyLimit {
  public:
    // Holds one slot until destroyed. Movable; an empty slot holds nothing.
    class Slot {
      public:
        Slot() = default;
        Slot(Slot&& other) noexcept;
        Slot& operator=(Slot&& other) noexcept;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        ~Slot();
        explicit operator bool() const { return limit_ != nullptr; }

      private:
        friend class ProbeConcurrencyLimit;
        explicit Slot(ProbeConcurrencyLimit* limit) : limit_(limit) {}
        void release();
        ProbeConcurrencyLimit* limit_ = nullptr;
    };

    explicit ProbeConcurrencyLimit(std::size_t capacity);

    // The application's limit: one slot per core.
    static ProbeConcurrencyLimit& shared();

    // Waits for a free slot. Throws CancellationError when `stop` is requested before one is
    // taken (also when it already is on entry).
    Slot acquire(std::stop_token stop = {});

    std::size_t capacity() const { return capacity_; }
    std::size_t inUse() const;

  private:
    void release();

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable_any available_;
    std::size_t inUse_ = 0;
};

}  // namespace tavrolin
