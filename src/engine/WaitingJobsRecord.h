#pragma once

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "engine/JobLeftovers.h"

namespace tavrolin {

// Keeps the number of jobs waiting in a queue in a record of its own (see JobRecord), so that
// the start after a kill can say how many were not kept. Written on a thread of its own, so a
// caller on the GUI thread never waits for the disk; the latest number wins. Nothing is written
// until the number is first above zero. `set` may be called from any thread.
class WaitingJobsRecord {
  public:
    explicit WaitingJobsRecord(std::filesystem::path recordsFolder);
    // Stops the writer, then removes the record: a run that ends normally leaves none.
    ~WaitingJobsRecord();
    WaitingJobsRecord(const WaitingJobsRecord&) = delete;
    WaitingJobsRecord& operator=(const WaitingJobsRecord&) = delete;

    void set(std::size_t count);

  private:
    void writeLoop(std::stop_token stop);

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<std::size_t> next_;
    JobRecord record_;
    // Last: started when the rest exists, stopped and joined before it goes.
    std::jthread writer_;
};

}  // namespace tavrolin
