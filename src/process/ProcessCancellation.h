#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <vector>

#include "process/ProcessRunning.h"

namespace tavrolin {

// Runs `executable` without an output handler; stopping `stop` terminates this run's child.
// The run's result comes back as it is (a non-zero exit is no error); a launch error is
// rethrown unchanged. Callers check their own stop token afterwards and drop the outcome.
ProcessResult withProcessCancellation(ProcessRunning& runner,
                                      const std::filesystem::path& executable,
                                      const std::vector<std::string>& arguments,
                                      std::stop_token stop);

// The same for an ffprobe run: first waits for a slot of the application's ffprobe limit,
// throwing CancellationError when `stop` is requested while it waits.
ProcessResult withProbeSlot(ProcessRunning& runner, const std::filesystem::path& ffprobe,
                            const std::vector<std::string>& arguments, std::stop_token stop);

}  // namespace tavrolin
