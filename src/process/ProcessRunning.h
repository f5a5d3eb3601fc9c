#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {

struct ProcessResult {
    std::int32_t terminationStatus = 0;  // the exit status, or 128 + the signal
    std::string standardOutput;          // UTF-8, ill-formed sequences repaired with U+FFFD
    std::string standardError;           // the same, a bounded tail of what the child wrote
    int terminationSignal = 0;           // the signal that ended the child; 0 when it exited
};

// Called on a reader thread once per chunk of standard output, one call at a time.
using ProcessOutputHandler = std::function<void(std::string_view chunk)>;

// Runs one child process to completion. A non-zero exit is not an error here.
class ProcessRunning {
  public:
    virtual ~ProcessRunning() = default;

    // Blocks until the child has exited and both pipes reached end of file. Stopping `stop`
    // terminates this run's own child (at once if it is already stopped); the run then returns
    // normally with the terminated child's status. Throws std::system_error when the
    // executable cannot be started.
    virtual ProcessResult run(const std::filesystem::path& executable,
                              const std::vector<std::string>& arguments,
                              ProcessOutputHandler outputHandler = {},
                              std::stop_token stop = {}) = 0;

    // Terminates the child of the latest run still in progress, if any. Any thread.
    virtual void cancel() = 0;
};

}  // namespace tavrolin
