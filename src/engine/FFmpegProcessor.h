#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/MediaProcessing.h"
#include "engine/split/SplitLayoutCache.h"
#include "process/FFmpegToolchain.h"
#include "process/FFmpegVersion.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

class JobFiles;
struct SplitInputs;

// Carries out one media-writing request with one ffmpeg run: resolves the tools, refuses to
// overwrite, works out the expected duration for progress, writes the temporary inputs a job
// needs into a private folder, lets ffmpeg write a hidden working output beside the output, and
// on success moves it into place (never over an existing file) or, for a transcript export that
// replaces its source, verifies it and swaps it in. An output counts as written only when
// ffmpeg reports no write error, whatever its exit status (see `ffmpegWriteFailure`); one that
// ran out of room fails with MediaProcessingError::notEnoughSpace. A source that is gone fails
// with sourceMissing. Every temporary item is removed on every way out. A requested stop ends
// the job with CancellationError and writes nothing.
//
// Calls of `process` never overlap. `cancel` may be called from any thread at any time: it ends
// the running job's children (also one that has yet to start), never another processor's runs on
// a shared runner, and the job ends with CancellationError, as on a requested stop token.
struct ProcessorJob;
struct ProcessorRun;

class FFmpegProcessor : public MediaProcessing {
  public:
    // Each job records its working names in `recordsFolder` (see JobRecord); empty records none.
    FFmpegProcessor(std::shared_ptr<ProcessRunning> runner, ToolLocations locations,
                    std::filesystem::path recordsFolder = {});

    void process(const ProcessingRequest& request, ProgressCallback progress,
                 std::stop_token stop) override;
    void cancel() override;

  private:
    class CurrentJob;
    using Job = ProcessorJob;
    using Ran = ProcessorRun;

    // The steps of `process`. `resolve` finds the tools, makes every path absolute and refuses
    // what needs no tool to refuse (a missing source, an existing output); `runFFmpeg` measures
    // what the job needs, writes its temporary inputs and runs ffmpeg; `checkRun` fails a run
    // that was stopped, read a changing source or did not write its output whole;
    // `verifyReplacement` checks a prepared replacement and its source once more; `publish`
    // moves a finished output into place.
    Job resolve(const ProcessingRequest& request) const;
    Ran runFFmpeg(const Job& job, JobFiles& run, ProgressCallback& progress,
                  std::stop_source& childStop, std::stop_token stop);
    // For a replacement: starts the source's census.
    void startReplacementReads(const Job& job, std::stop_token childStop, Ran& ran);
    void checkRun(const Job& job, const JobFiles& run, const Ran& ran, std::stop_token stop) const;
    void verifyReplacement(const Job& job, const JobFiles& run, const Ran& ran,
                           std::stop_token childStop, std::stop_token stop);
    void publish(const Job& job, const JobFiles& run, std::stop_token stop) const;

    // The probed length of the input of a remux, split, chapter job or transcript export (a
    // join sums its inputs as it checks them).
    std::optional<double> expectedDuration(const ProcessingRequest& request,
                                           const std::filesystem::path& ffprobe,
                                           std::stop_token stop);
    // Probes a join's inputs and refuses them with the Join workspace's own message when they
    // cannot be joined (a file may have been replaced since it was inspected); records their
    // summed duration, or none, and the first one's video codec in `ran`.
    void checkJoinInputs(const JoinRequest& join, const std::filesystem::path& ffprobe,
                         std::stop_token stop, Ran& ran);
    std::vector<std::string> prepareArguments(const ProcessingRequest& request, JobFiles& run,
                                              const Ran& ran,
                                              const std::optional<SplitInputs>& split);
    // prepareArguments, with several inputs read as the running release reads them fastest.
    std::vector<std::string> prepareCommand(const ProcessingRequest& request, JobFiles& run,
                                            const Ran& ran, const std::optional<SplitInputs>& split,
                                            std::stop_token stop);

    const std::shared_ptr<ProcessRunning> runner_;
    const ToolLocations locations_;
    const std::filesystem::path recordsFolder_;
    InstalledFFmpeg installed_;
    SplitLayoutCache splitLayouts_;  // under processMutex_
    std::mutex processMutex_;        // one job at a time
    std::mutex cancelMutex_;
    std::stop_source* currentChildStop_ = nullptr;  // the running job's, under cancelMutex_
};

}  // namespace tavrolin
