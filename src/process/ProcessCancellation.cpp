#include "process/ProcessCancellation.h"

#include <utility>

#include "process/ProbeConcurrencyLimit.h"

namespace tavrolin {

ProcessResult withProcessCancellation(ProcessRunning& runner,
                                      const std::filesystem::path& executable,
                                      const std::vector<std::string>& arguments,
                                      std::stop_token stop) {
    return runner.run(executable, arguments, {}, std::move(stop));
}

ProcessResult withProbeSlot(ProcessRunning& runner, const std::filesystem::path& ffprobe,
                            const std::vector<std::string>& arguments, std::stop_token stop) {
    auto slot = ProbeConcurrencyLimit::shared().acquire(stop);
    return withProcessCancellation(runner, ffprobe, arguments, std::move(stop));
}

}  // namespace tavrolin
