#include "engine/FFmpegPreviewService.h"

#include <optional>
#include <system_error>
#include <utility>

#include "engine/CacheFolder.h"
#include "engine/FFmpegProgressTracker.h"
#include "engine/PreviewPreparationError.h"
#include "model/CancellationError.h"
#include "model/Uuid.h"
#include "probe/MediaProbeError.h"
#include "probe/ProbeText.h"
#include "process/ProcessCancellation.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

void removeIgnoringErrors(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

// Removes the stop source from the service's list on every way out.
class InProgressRegistration {
  public:
    InProgressRegistration(std::mutex& mutex, std::set<std::stop_source*>& set,
                           std::stop_source* source)
        : mutex_(mutex), set_(set), source_(source) {
        std::lock_guard lock(mutex_);
        set_.insert(source_);
    }
    ~InProgressRegistration() {
        std::lock_guard lock(mutex_);
        set_.erase(source_);
    }
    InProgressRegistration(const InProgressRegistration&) = delete;
    InProgressRegistration& operator=(const InProgressRegistration&) = delete;

  private:
    std::mutex& mutex_;
    std::set<std::stop_source*>& set_;
    std::stop_source* source_;
};

}  // namespace

FFmpegPreviewService::FFmpegPreviewService(std::shared_ptr<ProcessRunning> runner,
                                           ToolLocations locations, fs::path previewFolder)
    : runner_(std::move(runner)),
      locations_(std::move(locations)),
      previewFolder_(previewFolder.empty() ? defaultPreviewFolder() : std::move(previewFolder)) {}

FFmpegPreviewService::~FFmpegPreviewService() {
    // Every copy made, including one whose cache entry a later preparation of the same source
    // replaced: a player may still have had it open, so it was kept until now.
    std::lock_guard lock(mutex_);
    for (const auto& preview : made_) {
        removeIgnoringErrors(preview);
    }
}

fs::path FFmpegPreviewService::defaultPreviewFolder() {
    return tavrolinCacheFolder() / "Tavrolin-Previews";
}

void FFmpegPreviewService::createPreviewFolder() const {
    // The preview folder and the one above it ("tavrolin") belong to this service: they must be
    // the user's own even when they exist.
    createPrivateFolders(previewFolder_.parent_path());
    createPrivateFolders(previewFolder_);
}

void FFmpegPreviewService::cancel() {
    std::lock_guard lock(mutex_);
    for (auto* source : inProgress_) {
        source->request_stop();
    }
}

fs::path FFmpegPreviewService::preparePreview(const fs::path& source,
                                              std::function<void(double)> progress,
                                              std::stop_token stop) {
    const fs::path key = fs::absolute(source).lexically_normal();
    if (!progress) {
        progress = [](double) {};
    }
    std::optional<fs::path> cached;
    {
        std::lock_guard lock(mutex_);
        if (auto it = cache_.find(key); it != cache_.end()) {
            cached = it->second;
        }
    }
    if (std::error_code error; cached && fs::exists(fs::symlink_status(*cached, error))) {
        progress(1.0);
        return *cached;
    }

    // This preparation's own stop: the caller's token or the service's cancel().
    std::stop_source ownStop;
    std::stop_callback forward(stop, [&ownStop] { ownStop.request_stop(); });
    InProgressRegistration registration(mutex_, inProgress_, &ownStop);
    const fs::path preview = prepareUncached(key, progress, ownStop.get_token());
    std::lock_guard lock(mutex_);
    cache_[key] = preview;
    made_.push_back(preview);
    return preview;
}

fs::path FFmpegPreviewService::prepareUncached(const fs::path& source,
                                               const std::function<void(double)>& progress,
                                               std::stop_token stop) {
    requireRegularFile(source);
    const auto toolchain = FFmpegToolchain::resolve(locations_);

    const ProcessResult probe =
        withProbeSlot(*runner_, toolchain.ffprobe, commandBuilder_.probeArguments(source), stop);
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    if (probe.terminationStatus != 0) {
        throw PreviewPreparationError::inspectionFailed();
    }
    const PreviewProbeResult probed = parser_.parse(probe.standardOutput);

    createPreviewFolder();
    const fs::path output = previewFolder_ / (Uuid::random().toString() + ".mp4");

    for (int attempt = 1; attempt <= FFmpegPreviewCommandBuilder::attemptCount; ++attempt) {
        FFmpegProgressTracker tracker(probed.duration, progress);
        ProcessResult result;
        try {
            result = runner_->run(
                toolchain.ffmpeg,
                commandBuilder_.attemptArguments(attempt, source, output, probed.codecName),
                [&tracker](std::string_view chunk) { tracker.consume(chunk); }, stop);
        } catch (...) {
            removeIgnoringErrors(output);
            throw;
        }
        if (stop.stop_requested()) {
            removeIgnoringErrors(output);
            throw CancellationError();
        }
        if (result.terminationStatus == 0) {
            progress(1.0);
            return output;
        }
        removeIgnoringErrors(output);
        if (attempt == FFmpegPreviewCommandBuilder::attemptCount) {
            throw PreviewPreparationError::generationFailed(toolFailureText(result, "FFmpeg", ""));
        }
        progress(0.0);
    }
    throw PreviewPreparationError::generationFailed({});  // not reached
}

}  // namespace tavrolin
