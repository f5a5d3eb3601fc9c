#include "queue/JobQueueViewModel.h"

#include <QMetaObject>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <variant>

#include "engine/JobLeftovers.h"
#include "engine/WaitingJobsRecord.h"
#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "model/Paths.h"

namespace tavrolin {

// One processor call: the worker thread marks it finished; shutdown() waits for that.
struct JobQueueViewModel::Run {
    Uuid id;
    std::stop_source stop;
    std::mutex mutex;
    std::condition_variable finishedCondition;
    bool finished = false;
};

// Lets worker threads post to the view model only while it exists. The destructor clears
// `owner` under the lock; events already posted are dropped by Qt with the object.
struct JobQueueViewModel::Guard {
    std::mutex mutex;
    JobQueueViewModel* owner = nullptr;

    template <typename Function>
    void post(Function function) {
        std::lock_guard lock(mutex);
        if (owner == nullptr) {
            return;
        }
        QMetaObject::invokeMethod(
            owner, [target = owner, function = std::move(function)]() { function(*target); },
            Qt::QueuedConnection);
    }
};

JobQueueViewModel::JobQueueViewModel(std::shared_ptr<MediaProcessing> processor,
                                     std::shared_ptr<FileRevealing> revealer, QObject* parent)
    : QObject(parent),
      processor_(std::move(processor)),
      revealer_(std::move(revealer)),
      guard_(std::make_shared<Guard>()) {
    guard_->owner = this;
}

JobQueueViewModel::~JobQueueViewModel() {
    {
        std::lock_guard lock(guard_->mutex);
        guard_->owner = nullptr;
    }
    if (currentRun_) {
        currentRun_->stop.request_stop();
    }
    // The stop ends the processor's child (killed when it ignores the stop), so this returns;
    // nothing the worker uses is destroyed under it.
    if (worker_.joinable()) {
        worker_.join();
    }
    if (leftoverSweep_.joinable()) {
        leftoverSweep_.join();
    }
}

void JobQueueViewModel::removeLeftoversOfEarlierRuns(std::filesystem::path recordsFolder) {
    if (leftoverSweep_.joinable()) {
        return;  // once per start
    }
    waitingJobs_ = std::make_unique<WaitingJobsRecord>(recordsFolder);
    // Progress ticks change nothing here: only a new number is handed on.
    auto recordWaitingJobs = [this, last = std::optional<std::size_t>()]() mutable {
        const auto waiting =
            static_cast<std::size_t>(std::count_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
                return job.status.kind == ProcessingJob::Status::Kind::queued;
            }));
        if (waiting != last) {
            last = waiting;
            waitingJobs_->set(waiting);
        }
    };
    connect(this, &JobQueueViewModel::changed, this, recordWaitingJobs);
    recordWaitingJobs();
    leftoverSweep_ = std::thread([guard = guard_, folder = std::move(recordsFolder)] {
        auto removed = removeJobLeftovers(folder);
        if (removed.empty()) {
            return;
        }
        guard->post([removed = std::move(removed)](JobQueueViewModel& queue) {
            queue.notices_.insert(queue.notices_.end(), removed.begin(), removed.end());
            emit queue.changed();
        });
    });
}

int JobQueueViewModel::activeJobCount() const {
    return static_cast<int>(std::count_if(
        jobs_.begin(), jobs_.end(), [](const auto& job) { return !job.status.isFinished(); }));
}

bool JobQueueViewModel::hasRunningJob() const {
    return std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job.status.kind == ProcessingJob::Status::Kind::running;
    });
}

bool JobQueueViewModel::hasQueuedJobs() const {
    return std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job.status.kind == ProcessingJob::Status::Kind::queued;
    });
}

bool JobQueueViewModel::hasFinishedJobs() const {
    return std::any_of(jobs_.begin(), jobs_.end(),
                       [](const auto& job) { return job.status.isFinished(); });
}

std::optional<ProcessingJob> JobQueueViewModel::runningJob() const {
    auto it = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job.status.kind == ProcessingJob::Status::Kind::running;
    });
    if (it == jobs_.end()) {
        return std::nullopt;
    }
    return *it;
}

std::vector<ProcessingJob> JobQueueViewModel::queuedJobs() const {
    std::vector<ProcessingJob> queued;
    std::copy_if(jobs_.begin(), jobs_.end(), std::back_inserter(queued), [](const auto& job) {
        return job.status.kind == ProcessingJob::Status::Kind::queued;
    });
    return queued;
}

bool JobQueueViewModel::claimsOutput(const std::filesystem::path& output) const {
    return outputClaim(output) != OutputClaim::none;
}

OutputClaim JobQueueViewModel::outputClaim(const std::filesystem::path& output) const {
    const auto wanted = standardizedPath(output);
    OutputClaim claim = OutputClaim::none;
    for (const auto& job : jobs_) {
        if (job.status.isFinished() || standardizedPath(job.request.output()) != wanted) {
            continue;
        }
        if (job.status.kind == ProcessingJob::Status::Kind::running) {
            return OutputClaim::running;
        }
        claim = OutputClaim::waiting;
    }
    return claim;
}

std::set<std::filesystem::path> JobQueueViewModel::claimedOutputs() const {
    std::set<std::filesystem::path> claimed;
    for (const auto& job : jobs_) {
        if (!job.status.isFinished()) {
            claimed.insert(standardizedPath(job.request.output()));
        }
    }
    return claimed;
}

ProcessingJob JobQueueViewModel::makeJob(const ProcessingRequest& request) const {
    return ProcessingJob{Uuid::random(), request, ProcessingJob::Status::queued(), std::nullopt};
}

void JobQueueViewModel::enqueue(const std::vector<ProcessingRequest>& requests) {
    if (requests.empty()) {
        return;
    }
    for (const auto& request : requests) {
        jobs_.push_back(makeJob(request));
    }
    emit changed();
    emit claimsChanged();
}

void JobQueueViewModel::enqueueNext(const std::vector<ProcessingRequest>& requests) {
    if (!requests.empty()) {
        auto firstQueued = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
            return job.status.kind == ProcessingJob::Status::Kind::queued;
        });
        std::vector<ProcessingJob> created;
        created.reserve(requests.size());
        for (const auto& request : requests) {
            created.push_back(makeJob(request));
        }
        jobs_.insert(firstQueued, std::make_move_iterator(created.begin()),
                     std::make_move_iterator(created.end()));
        emit changed();
        emit claimsChanged();
    }
    startWorkerIfNeeded();
}

void JobQueueViewModel::startWorkerIfNeeded() {
    if (workerActive_ || shutDown_) {
        return;
    }
    workerActive_ = true;
    // The worker begins on a later turn of the event loop, like a newly started task.
    QMetaObject::invokeMethod(
        this, [this]() { processQueue(); }, Qt::QueuedConnection);
}

void JobQueueViewModel::processQueue() {
    auto next = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job.status.kind == ProcessingJob::Status::Kind::queued;
    });
    if (shutDown_ || next == jobs_.end()) {
        workerActive_ = false;
        return;
    }
    const Uuid id = next->id;
    const ProcessingRequest request = next->request;
    next->status = ProcessingJob::Status::running();
    emit changed();
    emit claimsChanged();

    auto run = std::make_shared<Run>();
    run->id = id;
    currentRun_ = run;
    // The previous job's thread posted its outcome as its last act; it is ending or gone.
    if (worker_.joinable()) {
        worker_.join();
    }
    worker_ = std::thread([processor = processor_, guard = guard_, run, request]() mutable {
        runJob(std::move(processor), std::move(guard), std::move(run), std::move(request));
    });
}

void JobQueueViewModel::runJob(std::shared_ptr<MediaProcessing> processor,
                               std::shared_ptr<Guard> guard, std::shared_ptr<Run> run,
                               ProcessingRequest request) {
    const Uuid jobID = run->id;
    ProgressCallback progress = [guard, jobID](double fraction) {
        guard->post(
            [jobID, fraction](JobQueueViewModel& queue) { queue.updateProgress(jobID, fraction); });
    };
    std::exception_ptr error;
    bool wasCancellation = false;
    try {
        processor->process(request, progress, run->stop.get_token());
    } catch (const CancellationError&) {
        error = std::current_exception();
        wasCancellation = true;
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(run->mutex);
        run->finished = true;
    }
    run->finishedCondition.notify_all();
    guard->post([jobID, error, wasCancellation](JobQueueViewModel& queue) {
        queue.finishRun(jobID, error, wasCancellation);
    });
}

void JobQueueViewModel::finishRun(const Uuid& id, std::exception_ptr error, bool wasCancellation) {
    if (currentRun_ && currentRun_->id == id) {
        currentRun_.reset();
    }
    const bool cancelRequested = cancelledJobIDs_.erase(id) > 0;
    if (!error) {
        // The file was written: a cancellation that came too late does not undo that.
        setStatus(id, ProcessingJob::Status::completed());
    } else if (wasCancellation && cancelRequested) {
        setStatus(id, ProcessingJob::Status::cancelled());
    } else {
        setStatus(id, ProcessingJob::Status::failed(userMessage(error)));
    }
    processQueue();
}

void JobQueueViewModel::updateProgress(const Uuid& id, double fraction) {
    auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& job) { return job.id == id; });
    if (it == jobs_.end() || it->status.kind != ProcessingJob::Status::Kind::running) {
        return;
    }
    it->fractionCompleted = std::clamp(fraction, 0.0, 1.0);
    emit changed();
}

void JobQueueViewModel::setStatus(const Uuid& id, ProcessingJob::Status status) {
    auto it =
        std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& job) { return job.id == id; });
    if (it == jobs_.end()) {
        return;
    }
    if (status.kind == ProcessingJob::Status::Kind::completed) {
        it->fractionCompleted = 1.0;
    }
    it->status = std::move(status);
    emit changed();
    emit claimsChanged();
}

void JobQueueViewModel::cancelRunningJob() {
    auto running = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& job) {
        return job.status.kind == ProcessingJob::Status::Kind::running;
    });
    if (running == jobs_.end()) {
        return;
    }
    cancelledJobIDs_.insert(running->id);
    if (currentRun_ && currentRun_->id == running->id) {
        currentRun_->stop.request_stop();
    }
    processor_->cancel();
}

void JobQueueViewModel::clearFinishedJobs() {
    const auto removed =
        std::erase_if(jobs_, [](const auto& job) { return job.status.isFinished(); });
    if (removed > 0) {
        emit changed();
    }
}

void JobQueueViewModel::revealOutput(const ProcessingJob& job) {
    if (!revealer_) {
        return;
    }
    revealer_->reveal(job.request.output());
}

bool JobQueueViewModel::shutdown(std::chrono::milliseconds timeout) {
    shutDown_ = true;
    const auto run = currentRun_;
    if (!run) {
        return true;
    }
    cancelledJobIDs_.insert(run->id);
    run->stop.request_stop();
    processor_->cancel();
    {
        std::unique_lock lock(run->mutex);
        if (!run->finishedCondition.wait_for(lock, timeout, [&]() { return run->finished; })) {
            return false;  // the destructor joins it
        }
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    return true;
}

}  // namespace tavrolin
