#pragma once

#include <QObject>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "model/ChapterEditions.h"
#include "model/MediaStream.h"
#include "probe/MediaProbing.h"
#include "process/FFmpegVersion.h"
#include "widgets/WorkerPool.h"

namespace tavrolin {

// The stream inspections of one workspace: at most one per file, each on this object's own
// worker pool, its outcome handed to the owner on the GUI thread. Every member function must be
// called on the GUI thread. Stopping a file's inspection (a new one for the file, removal,
// destruction) terminates its ffprobe and drops its outcome, success or error; a finishing task
// removes only its own entry, so a newer inspection of the same file stays counted. Destruction
// stops every inspection, drops those not started and joins the running ones, whose ffprobe the
// stop has already ended.
class StreamInspectionTasks {
  public:
    struct Outcome {
        std::filesystem::path url;
        std::vector<MediaStream> streams;
        // Read beside the streams: what ffprobe's chapter list does not tell.
        ChapterEditions chapterEditions;
        // The probe error's message; none on success.
        std::optional<std::string> errorMessage;
        bool retryMayHelp = true;
        // With an installed ffmpeg set: its release was read (none when it gave none).
        bool hasRelease = false;
        std::optional<FFmpegRelease> release;
    };
    // Called on the GUI thread with the outcomes that arrived together (possibly none, when
    // only stopped tasks ended); the running count has already changed.
    using Delivery = std::function<void(std::vector<Outcome>)>;

    StreamInspectionTasks(QObject& owner, std::shared_ptr<MediaProbing> probe, Delivery deliver);
    ~StreamInspectionTasks();
    StreamInspectionTasks(const StreamInspectionTasks&) = delete;
    StreamInspectionTasks& operator=(const StreamInspectionTasks&) = delete;

    // Starts an inspection of `url`, stopping an earlier one of the same file.
    void start(const std::filesystem::path& url);
    void stop(const std::filesystem::path& url);
    void stopAll();
    // After each successful probe, also read the release of the ffmpeg that jobs will run
    // (cached by the object), so the review can leave out what that release refuses.
    void setInstalledFFmpeg(std::shared_ptr<InstalledFFmpeg> installed) {
        installed_ = std::move(installed);
    }

    // Inspections started and not yet ended or stopped.
    std::size_t runningCount() const { return tasks_.size(); }

  private:
    struct Inbox;
    struct Task {
        std::uint64_t id = 0;
        std::stop_source stop;
    };

    void drain();

    QObject& owner_;
    std::shared_ptr<MediaProbing> probe_;
    Delivery deliver_;
    std::map<std::filesystem::path, Task> tasks_;
    std::uint64_t nextTaskID_ = 1;
    std::shared_ptr<Inbox> inbox_;
    std::shared_ptr<InstalledFFmpeg> installed_;
    // One thread per core, beside the application's ffprobe limit. Declared last: let go
    // first, after every task was told to stop.
    WorkerPool pool_{QThread::idealThreadCount(), std::chrono::seconds(5)};
};

}  // namespace tavrolin
