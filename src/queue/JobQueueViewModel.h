#pragma once

#include <QObject>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/FileRevealing.h"
#include "engine/MediaProcessing.h"
#include "model/OutputClaim.h"
#include "model/ProcessingJob.h"
#include "model/ProcessingRequest.h"
#include "model/Uuid.h"

namespace tavrolin {

class WaitingJobsRecord;

// The application's one job queue: runs media-writing jobs strictly one at a time through the
// processor, on a worker thread it owns, and publishes every job's status and progress on the
// GUI thread. Every member function must be called on the GUI thread.
class JobQueueViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(int activeJobCount READ activeJobCount NOTIFY changed)
    Q_PROPERTY(bool hasRunningJob READ hasRunningJob NOTIFY changed)
    Q_PROPERTY(bool hasQueuedJobs READ hasQueuedJobs NOTIFY changed)

  public:
    // `revealer` may be null; revealOutput then does nothing.
    explicit JobQueueViewModel(std::shared_ptr<MediaProcessing> processor,
                               std::shared_ptr<FileRevealing> revealer = {},
                               QObject* parent = nullptr);
    // Requests stop on the running job, drops its late result and joins the worker, which the
    // stop ends (the processor's child is killed when it ignores the stop).
    ~JobQueueViewModel() override;

    // Display order and order of execution.
    const std::vector<ProcessingJob>& jobs() const { return jobs_; }

    // Queued plus running jobs (the sidebar badge).
    int activeJobCount() const;
    bool hasRunningJob() const;
    bool hasQueuedJobs() const;
    bool hasFinishedJobs() const;
    std::optional<ProcessingJob> runningJob() const;
    std::vector<ProcessingJob> queuedJobs() const;
    // Whether a queued or running job writes `output` (paths compared made absolute and
    // normal): a page refuses a second job to the same output as it refuses an existing file.
    bool claimsOutput(const std::filesystem::path& output) const;
    // Which job claims `output`: a waiting one, the running one, or none.
    OutputClaim outputClaim(const std::filesystem::path& output) const;
    // Every output a queued or running job writes, absolute and normal.
    std::set<std::filesystem::path> claimedOutputs() const;
    // Whether a worker exists (running a job or about to take the next one).
    bool isWorkerActive() const { return workerActive_; }

    // Enabled rules of the queue screen's "Start Queue", "Cancel Current", "Clear Finished".
    bool canStart() const { return hasQueuedJobs() && !hasRunningJob(); }
    bool canCancel() const { return hasRunningJob(); }
    bool canClear() const { return hasFinishedJobs(); }

    // Appends one queued job per request; starts nothing.
    void enqueue(const std::vector<ProcessingRequest>& requests);
    // Inserts the jobs before the first queued job (at the end when none is queued), then
    // starts the worker if none exists.
    void enqueueNext(const std::vector<ProcessingRequest>& requests);
    // "Start Queue".
    void startWorkerIfNeeded();
    // "Cancel Current": stops the running job, if any; queued jobs are untouched.
    void cancelRunningJob();
    // "Clear Finished": removes completed, cancelled and failed jobs.
    void clearFinishedJobs();
    // Shows the job's output file in the file manager.
    void revealOutput(const ProcessingJob& job);

    // For quitting: cancels the running job and waits up to `timeout` for the processor to
    // return (so it can remove its working files), then joins the worker. Queued jobs stay
    // queued and no further job starts. Returns whether no processor call is still running;
    // when one is, the destructor joins it.
    bool shutdown(std::chrono::milliseconds timeout);

    // At start: removes, on a thread of its own, what jobs of an earlier run of the app left
    // (see removeJobLeftovers), then adds its lines to notices(). From then on the number of
    // waiting jobs is kept in a record there, so a start after a kill can say how many went.
    void removeLeftoversOfEarlierRuns(std::filesystem::path recordsFolder);
    // Lines for the queue screen that belong to no job.
    const std::vector<std::string>& notices() const { return notices_; }

  signals:
    void changed();
    // A job was added, started or ended: what outputClaim answers may have changed. Pages whose
    // reasons name a claimed output check them again (progress alone does not emit this).
    void claimsChanged();

  private:
    struct Run;
    struct Guard;

    ProcessingJob makeJob(const ProcessingRequest& request) const;
    void processQueue();
    // The worker thread's body: one processor call, its outcome posted to the queue.
    static void runJob(std::shared_ptr<MediaProcessing> processor, std::shared_ptr<Guard> guard,
                       std::shared_ptr<Run> run, ProcessingRequest request);
    void finishRun(const Uuid& id, std::exception_ptr error, bool wasCancellation);
    void updateProgress(const Uuid& id, double fraction);
    void setStatus(const Uuid& id, ProcessingJob::Status status);

    std::vector<ProcessingJob> jobs_;
    std::shared_ptr<MediaProcessing> processor_;
    std::shared_ptr<FileRevealing> revealer_;
    bool workerActive_ = false;
    bool shutDown_ = false;
    std::set<Uuid> cancelledJobIDs_;
    std::shared_ptr<Run> currentRun_;
    std::shared_ptr<Guard> guard_;
    // The thread of the current or last job; joined before the next starts.
    std::thread worker_;
    std::vector<std::string> notices_;
    // Joined by the destructor; its work is bounded by the records it reads.
    std::thread leftoverSweep_;
    std::unique_ptr<WaitingJobsRecord> waitingJobs_;
};

}  // namespace tavrolin
