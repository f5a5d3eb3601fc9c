#pragma once

#include <filesystem>
#include <functional>
#include <future>
#include <stop_token>
#include <string>
#include <vector>

#include "process/ProcessRunning.h"

namespace tavrolin {

// An ffprobe run started before the file it reads is ready, so that its start overlaps other
// work: loading ffprobe's libraries and binding their symbols takes about 0.1 s, most of a short
// read. It writes its report (`-o`) into a FIFO made at `fifo`, which ffprobe opens before its
// input and where it waits until `finish` opens the other end. A run held this way takes no
// slot of the bound on concurrent ffprobe runs: it waits rather than works, and it must not
// hold a slot that the job's other reads wait for meanwhile.
//
// Owned by one thread (the job's); `finish` is called at most once. A stop of `stop`, or the
// end of the object before `finish`, ends the run; the destructor waits for it and removes the
// FIFO.
class HeldProbe {
  public:
    HeldProbe(ProcessRunning& runner, std::filesystem::path ffprobe,
              std::vector<std::string> arguments, std::filesystem::path fifo, std::stop_token stop);
    ~HeldProbe();
    HeldProbe(const HeldProbe&) = delete;
    HeldProbe& operator=(const HeldProbe&) = delete;

    // Lets the run open its input now and returns its result, the report as its standard
    // output. When the FIFO could not be made, runs the probe now, within the bound.
    ProcessResult finish();

  private:
    ProcessRunning& runner_;
    const std::filesystem::path ffprobe_;
    const std::vector<std::string> arguments_;
    const std::filesystem::path fifo_;
    std::stop_token stop_;
    std::stop_source ownStop_;
    std::stop_callback<std::function<void()>> forwardStop_;
    int ended_ = -1;  // an eventfd the run signals once the child has exited
    std::future<ProcessResult> run_;
};

}  // namespace tavrolin
