#include "engine/WaitingJobsRecord.h"

namespace tavrolin {

WaitingJobsRecord::WaitingJobsRecord(std::filesystem::path recordsFolder)
    : record_(std::move(recordsFolder)),
      writer_([this](std::stop_token stop) { writeLoop(std::move(stop)); }) {}

WaitingJobsRecord::~WaitingJobsRecord() {
    writer_.request_stop();
    writer_.join();
}

void WaitingJobsRecord::set(std::size_t count) {
    {
        std::lock_guard lock(mutex_);
        next_ = count;
    }
    wake_.notify_one();
}

void WaitingJobsRecord::writeLoop(std::stop_token stop) {
    std::size_t written = 0;
    for (;;) {
        std::size_t count = 0;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [&] { return next_.has_value(); })) {
                return;
            }
            count = *next_;
            next_.reset();
        }
        if (count != written) {
            record_.setWaitingJobs(count);
            written = count;
        }
    }
}

}  // namespace tavrolin
