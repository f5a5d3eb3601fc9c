#pragma once

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "process/FoundationProcessRunner.h"
#include "process/ProcessRunning.h"

namespace tavtest {

// The real runner, counting the children it starts, the ffprobe runs among them, and those that
// read a file's first packets by count (`-read_intervals %+#N`), as a written part's check does.
class CountingRunner : public tavrolin::ProcessRunning {
  public:
    tavrolin::ProcessResult run(const std::filesystem::path& executable,
                                const std::vector<std::string>& arguments,
                                tavrolin::ProcessOutputHandler handler,
                                std::stop_token stop) override {
        ++runs;
        if (executable.filename() == "ffprobe") {
            ++probes;
            if (std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
                    return argument.starts_with("%+#");
                })) {
                ++countedReads;
            }
        }
        return runner_.run(executable, arguments, std::move(handler), std::move(stop));
    }
    void cancel() override { runner_.cancel(); }

    std::atomic<int> runs{0};
    std::atomic<int> probes{0};
    std::atomic<int> countedReads{0};

  private:
    tavrolin::FoundationProcessRunner runner_;
};

}  // namespace tavtest
