#include "widgets/OutputFolderChecker.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "engine/FileOperations.h"
#include "model/OutputFolderCheck.h"
#include "model/Paths.h"

namespace tavrolin {

namespace fs = std::filesystem;

struct OutputFolderChecker::Progress {
    using Clock = std::chrono::steady_clock;

    std::atomic<Clock::rep> lastAnswer{Clock::now().time_since_epoch().count()};
    std::mutex mutex;
    fs::path folder;

    void reach(const fs::path& next) {
        lastAnswer = Clock::now().time_since_epoch().count();
        const std::lock_guard lock(mutex);
        folder = next;
    }
    bool silentFor(std::chrono::seconds span) const {
        return Clock::now() - Clock::time_point(Clock::duration(lastAnswer.load())) >= span;
    }
    fs::path reached() {
        const std::lock_guard lock(mutex);
        return folder;
    }
};

namespace {

OutputFolderChecker::Findings findingsFor(const OutputFolderChecker::Probe& probe,
                                          const OutputFolderChecker::Question& question,
                                          OutputFolderChecker::Progress& progress) {
    OutputFolderChecker::Findings findings;
    for (const auto& folder : question.folders) {
        progress.reach(folder);
        if ((findings.problem = probe(folder))) {
            break;
        }
    }
    for (const auto& file : question.files) {
        progress.reach(file.parent_path());
        if (nameExists(file)) {
            findings.existing.insert(file);
        }
        if (const auto identity = fileIdentity(file)) {
            findings.identities.emplace(file, *identity);
        }
    }
    if (const auto& search = question.freeName) {
        progress.reach(search->folder);
        findings.freeName =
            search->folder /
            firstFreeName(search->stem, search->extension, [&](const std::string& name) {
                const fs::path candidate = search->folder / name;
                return search->claimed.contains(standardizedPath(candidate)) ||
                       nameExists(candidate);
            });
    }
    return findings;
}

// Every folder the question asks about.
std::set<fs::path> foldersOf(const OutputFolderChecker::Question& question) {
    std::set<fs::path> folders(question.folders.begin(), question.folders.end());
    for (const auto& file : question.files) {
        folders.insert(file.parent_path());
    }
    if (question.freeName) {
        folders.insert(question.freeName->folder);
    }
    return folders;
}

}  // namespace

OutputFolderChecker::OutputFolderChecker(QObject* parent)
    : QObject(parent),
      probe_([](const fs::path& folder) { return outputFolderProblem(folder); }),
      work_(std::make_unique<BlockingFileWork>(this)) {
    showChecking_.setSingleShot(true);
    showChecking_.setInterval(showCheckingAfter);
    connect(&showChecking_, &QTimer::timeout, this, [this] {
        if (checking_) {
            problem_ = std::string(checkingFolderText);
            emit changed();
        }
    });
    watch_.setInterval(std::chrono::milliseconds(250));
    connect(&watch_, &QTimer::timeout, this, &OutputFolderChecker::watch);
    // Files may have come or gone while the user was in another window (an existing output
    // moved away): the answer is asked for again on coming back. Not while a check runs, so a
    // hung folder is asked once.
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state == Qt::ApplicationActive && question_ && !running_) {
                        ask(*question_, true);
                    }
                });
    }
}

OutputFolderChecker::~OutputFolderChecker() = default;

void OutputFolderChecker::ask(Question question, bool again, Reply then) {
    if (!again && question_ == question) {
        return;
    }
    const std::uint64_t generation = ++generation_;
    if (!question_ || question_->folders != question.folders) {
        problem_.reset();
    }
    question_ = std::move(question);
    then_ = std::move(then);
    checking_ = true;
    running_ = true;
    showChecking_.start();
    watch_.start();
    // A folder still silent on an earlier check is not asked again beside it: this question
    // waits for that check's thread, and is timed by that folder's silence.
    const auto folders = foldersOf(*question_);
    const auto busy = std::find_if(flights_.begin(), flights_.end(), [&](const auto& flight) {
        return std::any_of(folders.begin(), folders.end(), [&](const fs::path& folder) {
            return flight.second.folders.contains(folder);
        });
    });
    if (busy != flights_.end()) {
        waitingOn_ = busy->first;
        progress_ = busy->second.progress;
        return;
    }
    launch(generation, folders);
}

void OutputFolderChecker::launch(std::uint64_t generation, std::set<fs::path> folders) {
    waitingOn_.reset();
    progress_ = std::make_shared<Progress>();
    const Question& question = *question_;
    if (!question.folders.empty()) {
        progress_->reach(question.folders.front());
    } else if (!question.files.empty()) {
        progress_->reach(question.files.front().parent_path());
    } else if (question.freeName) {
        progress_->reach(question.freeName->folder);
    }
    const std::uint64_t flight = ++flightCount_;
    const bool started =
        work_->start([this, probe = probe_, question, generation, flight, progress = progress_] {
            Findings findings;
            try {
                findings = findingsFor(probe, question, *progress);
            } catch (const std::exception& error) {
                findings.problem = error.what();
            }
            return [this, generation, flight, findings = std::move(findings)] {
                land(flight);
                deliver(generation, findings);
            };
        });
    if (started) {
        flights_.emplace(flight, Flight{std::move(folders), progress_});
    } else {
        // No thread to be had: the folder's question stays open, and the action says why.
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                deliver(generation, Findings{"Tavrolin could not check the output folder now. "
                                             "Try again.",
                                             {},
                                             {},
                                             {}});
            },
            Qt::QueuedConnection);
    }
}

// A check's thread answered (its answer, now old, is dropped): a question that waited for it is
// asked now.
void OutputFolderChecker::land(std::uint64_t flight) {
    flights_.erase(flight);
    if (waitingOn_ == flight) {
        launch(generation_, foldersOf(*question_));
    }
}

void OutputFolderChecker::deliver(std::uint64_t generation, const Findings& findings) {
    if (generation != generation_) {
        return;
    }
    checking_ = false;
    running_ = false;
    showChecking_.stop();
    watch_.stop();
    problem_ = findings.problem;
    existing_ = findings.existing;
    identities_ = findings.identities;
    // Taken before it runs: the reply may ask again.
    const Reply then = std::exchange(then_, {});
    if (then) {
        then(findings);
    }
    emit changed();
}

// A folder silent for long is a hung mount: the check is answered with that, and its reply
// runs with it, so no action waits for good. Its thread, still out, may answer later.
void OutputFolderChecker::watch() {
    if (!checking_) {
        watch_.stop();
        return;
    }
    if (!progress_->silentFor(notAnsweringAfter)) {
        return;
    }
    watch_.stop();
    checking_ = false;
    showChecking_.stop();
    problem_ = folderNotAnsweringText(progress_->reached());
    const Reply then = std::exchange(then_, {});
    if (then) {
        then(Findings{problem_, {}, {}, {}});
    }
    emit changed();
}

void OutputFolderChecker::check(std::vector<fs::path> folders, bool again, Answer then) {
    Reply reply;
    if (then) {
        reply = [then = std::move(then)](const Findings& findings) { then(findings.problem); };
    }
    ask(Question{std::move(folders), {}, std::nullopt}, again, std::move(reply));
}

void OutputFolderChecker::follow(const std::optional<fs::path>& folder) {
    if (!folder) {
        reset();
    } else if (!question_ || question_->folders != std::vector<fs::path>{*folder}) {
        check({*folder});
    }
}

void OutputFolderChecker::reset() {
    if (!question_ && !checking_) {
        return;
    }
    ++generation_;
    waitingOn_.reset();
    question_.reset();
    checking_ = false;
    running_ = false;
    problem_.reset();
    existing_.clear();
    identities_.clear();
    then_ = {};
    showChecking_.stop();
    watch_.stop();
}

}  // namespace tavrolin
