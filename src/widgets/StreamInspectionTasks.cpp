#include "widgets/StreamInspectionTasks.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <mutex>

#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "probe/MatroskaChapterReading.h"
#include "probe/MediaProbeError.h"

namespace tavrolin {

namespace fs = std::filesystem;

// Where workers leave outcomes. `tasks` is cleared under the lock when the owner goes away, so a
// worker never posts to a destroyed object; Qt drops events already posted to the owner.
// Outcomes that arrive together are handled in one turn of the event loop.
struct StreamInspectionTasks::Inbox {
    struct Arrival {
        std::uint64_t taskID = 0;
        std::stop_token stop;
        bool wasCancelled = false;
        Outcome outcome;
    };
    std::mutex mutex;
    StreamInspectionTasks* tasks = nullptr;
    std::vector<Arrival> pending;
};

StreamInspectionTasks::StreamInspectionTasks(QObject& owner, std::shared_ptr<MediaProbing> probe,
                                             Delivery deliver)
    : owner_(owner),
      probe_(std::move(probe)),
      deliver_(std::move(deliver)),
      inbox_(std::make_shared<Inbox>()) {
    inbox_->tasks = this;
}

StreamInspectionTasks::~StreamInspectionTasks() {
    {
        std::lock_guard lock(inbox_->mutex);
        inbox_->tasks = nullptr;
    }
    for (auto& [url, task] : tasks_) {
        task.stop.request_stop();
    }
}

void StreamInspectionTasks::start(const fs::path& url) {
    stop(url);
    Task task;
    task.id = nextTaskID_++;
    const auto id = task.id;
    const auto token = task.stop.get_token();
    tasks_[url] = std::move(task);

    pool_.start(
        [probe = probe_, installed = installed_, inbox = inbox_, owner = &owner_, url, id, token] {
            Inbox::Arrival arrival{id, token, false, Outcome{}};
            arrival.outcome.url = url;
            if (token.stop_requested()) {
                arrival.wasCancelled = true;
            } else {
                try {
                    arrival.outcome.streams = probe->inspectStreams(url, token);
                    arrival.outcome.chapterEditions = readMatroskaChapterEditions(url);
                } catch (const CancellationError&) {
                    arrival.wasCancelled = true;
                } catch (const MediaProbeError& error) {
                    arrival.outcome.errorMessage = error.what();
                    arrival.outcome.retryMayHelp = error.retryMayHelp();
                } catch (...) {
                    arrival.outcome.errorMessage = userMessage(std::current_exception());
                }
                if (installed && !arrival.wasCancelled) {
                    if (const auto facts = installed->facts(token)) {
                        arrival.outcome.release = facts->release();
                    }
                    arrival.outcome.hasRelease = !token.stop_requested();
                }
            }
            std::lock_guard lock(inbox->mutex);
            if (inbox->tasks != nullptr) {
                inbox->pending.push_back(std::move(arrival));
                if (inbox->pending.size() == 1) {
                    QMetaObject::invokeMethod(
                        owner,
                        [inbox] {
                            if (inbox->tasks != nullptr) {
                                inbox->tasks->drain();
                            }
                        },
                        Qt::QueuedConnection);
                }
            }
        });
}

void StreamInspectionTasks::drain() {
    std::vector<Inbox::Arrival> arrivals;
    {
        std::lock_guard lock(inbox_->mutex);
        arrivals.swap(inbox_->pending);
    }
    std::vector<Outcome> outcomes;
    for (auto& arrival : arrivals) {
        // Only the entry of this very task goes; a newer task for the file keeps its own.
        const fs::path& url = arrival.outcome.url;
        if (auto entry = tasks_.find(url);
            entry != tasks_.end() && entry->second.id == arrival.taskID) {
            tasks_.erase(entry);
        }
        // The stop is checked first: a stopped task's outcome is dropped, whatever it was.
        if (!arrival.stop.stop_requested() && !arrival.wasCancelled) {
            outcomes.push_back(std::move(arrival.outcome));
        }
    }
    if (!arrivals.empty()) {
        deliver_(std::move(outcomes));
    }
}

void StreamInspectionTasks::stop(const fs::path& url) {
    if (auto entry = tasks_.find(url); entry != tasks_.end()) {
        entry->second.stop.request_stop();
        tasks_.erase(entry);
    }
}

void StreamInspectionTasks::stopAll() {
    for (auto& [url, task] : tasks_) {
        task.stop.request_stop();
    }
    tasks_.clear();
}

}  // namespace tavrolin
