#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "probe/FFprobeCommandBuilder.h"
#include "probe/FFprobeParser.h"
#include "probe/MediaProbing.h"
#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// Answers each question with one ffprobe run. Thread-safe: it holds nothing but its fixed
// fields, so several inspections may run at once through the one runner, each bounded by the
// application's ffprobe limit and stopped by its own token. A stop that comes while an
// inspection still waits for a free ffprobe slot throws CancellationError; nothing ran.
class FFprobeService : public MediaProbing {
  public:
    // `ffprobeOverride`, when set, is run as it is; otherwise the tools are located anew from
    // `locations` for every inspection, so a changed setting applies to the next one.
    FFprobeService(std::shared_ptr<ProcessRunning> runner, ToolLocations locations,
                   std::optional<std::filesystem::path> ffprobeOverride = std::nullopt);

    std::vector<MediaStream> inspectStreams(const std::filesystem::path& file,
                                            std::stop_token stop = {}) override;
    // inspectStreams with `moreEntries` (-show_entries syntax) read in the same run, whose whole
    // JSON report comes back beside the streams for the caller to read them from.
    struct StreamsReport {
        std::vector<MediaStream> streams;
        std::string json;
    };
    StreamsReport inspectStreamsWith(const std::filesystem::path& file,
                                     const std::string& moreEntries, std::stop_token stop = {});
    std::vector<ChapterMarker> inspectChapters(const std::filesystem::path& file,
                                               std::stop_token stop = {}) override;
    std::optional<double> inspectDuration(const std::filesystem::path& file,
                                          std::stop_token stop = {}) override;

  private:
    // Runs ffprobe and returns its standard output, or throws MediaProbeError::processFailed
    // with its standard-error tail or `fallback`.
    std::string runProbe(const std::filesystem::path& file,
                         const std::vector<std::string>& arguments, const char* fallback,
                         std::stop_token stop);

    const std::shared_ptr<ProcessRunning> runner_;
    const ToolLocations locations_;
    const std::optional<std::filesystem::path> ffprobeOverride_;
    const FFprobeCommandBuilder commandBuilder_{};
    const FFprobeParser parser_{};
};

}  // namespace tavrolin
