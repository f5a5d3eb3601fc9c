#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>
#include <vector>

#include "engine/FFmpegPreviewCommandBuilder.h"
#include "engine/PreviewPreparing.h"
#include "engine/PreviewProbeParser.h"
#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// Makes MP4 copies that the player can open: probes the source once, then tries three ffmpeg
// command lines (everything copied; audio encoded to AAC; video alone). Remembers the copy of
// each source while it lives and removes its copies when destroyed. Thread-safe; calls may
// overlap. Workers that call it keep it alive (hold it by shared_ptr) until they return.
class FFmpegPreviewService : public PreviewPreparing {
  public:
    // `previewFolder` defaults to defaultPreviewFolder(); it and the folder above it must be
    // the user's own (they are made with mode 0700 when missing).
    FFmpegPreviewService(std::shared_ptr<ProcessRunning> runner, ToolLocations locations,
                         std::filesystem::path previewFolder = {});
    ~FFmpegPreviewService() override;
    FFmpegPreviewService(const FFmpegPreviewService&) = delete;
    FFmpegPreviewService& operator=(const FFmpegPreviewService&) = delete;

    // $XDG_CACHE_HOME/tavrolin/Tavrolin-Previews (~/.cache when the variable is unset or not
    // absolute; the home folder from the password database when $HOME is unset).
    static std::filesystem::path defaultPreviewFolder();

    // Returns the copy's path. Throws PreviewPreparationError, MediaProcessingError
    // (toolNotFound), the runner's launch error, a filesystem_error for the folder, or
    // CancellationError once `stop` (or cancel()) was requested: then nothing is left behind
    // and no further attempt runs.
    std::filesystem::path preparePreview(const std::filesystem::path& source,
                                         std::function<void(double)> progress,
                                         std::stop_token stop = {}) override;

    // Stops every preparation of this service that is in progress. Any thread.
    void cancel() override;

    const std::filesystem::path& previewFolder() const { return previewFolder_; }

  private:
    std::filesystem::path prepareUncached(const std::filesystem::path& source,
                                          const std::function<void(double)>& progress,
                                          std::stop_token stop);
    void createPreviewFolder() const;

    std::shared_ptr<ProcessRunning> runner_;
    const ToolLocations locations_;
    FFmpegPreviewCommandBuilder commandBuilder_;
    PreviewProbeParser parser_;
    const std::filesystem::path previewFolder_;

    std::mutex mutex_;
    std::map<std::filesystem::path, std::filesystem::path> cache_;  // source -> latest copy
    std::vector<std::filesystem::path> made_;  // every copy made, removed on destruction
    std::set<std::stop_source*> inProgress_;
};

}  // namespace tavrolin
