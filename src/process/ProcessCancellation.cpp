#include "process/ProcessCancellation.h"

#include <utility>

namespace tavrolin {

ProcessResult withProcessCancellation(ProcessRunning& runner,
                                      const std::filesystem::path& executable,
                                      const std::vector<std::string>& arguments,
                                      std::stop_token stop) {
    return runner.run(executable, arguments, {}, std::move(stop));
}

}  // namespace tavrolin
