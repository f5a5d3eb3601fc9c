#include "widgets/OutputFolderChecker.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <algorithm>
#include <mutex>

#include "engine/FileOperations.h"
#include "model/OutputFolderCheck.h"
#include "model/Paths.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// Threads of checks whose checker was destroyed while they were blocked. Lives as long as the
// process and never waits: a thread is joined once it has ended (looked at whenever another is
// left here, and at exit); one still blocked in a hung mount at exit ends with the process, so
// Quit never waits for a folder.
class AbandonedChecks {
  public:
    static AbandonedChecks& instance() {
        static AbandonedChecks checks;
        return checks;
    }
    void keep(const std::vector<pthread_t>& threads) {
        const std::lock_guard lock(mutex_);
        threads_.insert(threads_.end(), threads.begin(), threads.end());
        reap();
    }
    ~AbandonedChecks() {
        const std::lock_guard lock(mutex_);
        reap();
    }

  private:
    void reap() {
        std::erase_if(threads_,
                      [](pthread_t thread) { return pthread_tryjoin_np(thread, nullptr) == 0; });
    }

    std::mutex mutex_;
    std::vector<pthread_t> threads_;
};

OutputFolderChecker::Findings findingsFor(const OutputFolderChecker::Probe& probe,
                                          const OutputFolderChecker::Question& question) {
    OutputFolderChecker::Findings findings;
    for (const auto& folder : question.folders) {
        if ((findings.problem = probe(folder))) {
            break;
        }
    }
    for (const auto& file : question.files) {
        if (nameExists(file)) {
            findings.existing.insert(file);
        }
        if (const auto identity = fileIdentity(file)) {
            findings.identities.emplace(file, *identity);
        }
    }
    if (const auto& search = question.freeName) {
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

}  // namespace

struct OutputFolderChecker::Shared {
    std::mutex mutex;
    // None once the checker is gone; posting happens under the lock, so it stands meanwhile.
    OutputFolderChecker* checker = nullptr;
};

struct OutputFolderChecker::Task {
    std::shared_ptr<Shared> shared;
    Probe probe;
    Question question;
    std::uint64_t generation = 0;
};

void* OutputFolderChecker::runTask(void* raw) {
    const std::unique_ptr<Task> task(static_cast<Task*>(raw));
    Findings findings;
    try {
        findings = findingsFor(task->probe, task->question);
    } catch (const std::exception& error) {
        findings.problem = error.what();
    }
    const std::lock_guard lock(task->shared->mutex);
    if (auto* checker = task->shared->checker) {
        // Queued to the checker: dropped with it should it go before the event is served.
        QMetaObject::invokeMethod(
            checker,
            [checker, generation = task->generation, findings = std::move(findings)] {
                checker->deliver(generation, findings);
            },
            Qt::QueuedConnection);
    }
    return nullptr;
}

OutputFolderChecker::OutputFolderChecker(QObject* parent)
    : QObject(parent),
      probe_([](const fs::path& folder) { return outputFolderProblem(folder); }),
      shared_(std::make_shared<Shared>()) {
    shared_->checker = this;
    showChecking_.setSingleShot(true);
    showChecking_.setInterval(showCheckingAfter);
    connect(&showChecking_, &QTimer::timeout, this, [this] {
        if (checking_) {
            problem_ = std::string(checkingFolderText);
            emit changed();
        }
    });
    // Files may have come or gone while the user was in another window (an existing output
    // moved away): the answer is asked for again on coming back. Not while a check runs, so a
    // hung folder is asked once.
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::applicationStateChanged, this,
                [this](Qt::ApplicationState state) {
                    if (state == Qt::ApplicationActive && question_ && !checking_) {
                        ask(*question_, true);
                    }
                });
    }
}

OutputFolderChecker::~OutputFolderChecker() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->checker = nullptr;
    }
    reapThreads();
    if (!threads_.empty()) {
        AbandonedChecks::instance().keep(threads_);
    }
}

void OutputFolderChecker::reapThreads() {
    std::erase_if(threads_,
                  [](pthread_t thread) { return pthread_tryjoin_np(thread, nullptr) == 0; });
}

void OutputFolderChecker::ask(Question question, bool again, Reply then) {
    if (!again && question_ == question) {
        return;
    }
    const std::uint64_t generation = ++generation_;
    if (!question_ || question_->folders != question.folders) {
        problem_.reset();
    }
    question_ = question;
    then_ = std::move(then);
    checking_ = true;
    showChecking_.start();
    reapThreads();
    auto task = std::make_unique<Task>(Task{shared_, probe_, std::move(question), generation});
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, &OutputFolderChecker::runTask, task.get()) != 0) {
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
        return;
    }
    task.release();  // the thread owns it now
    threads_.push_back(thread);
}

void OutputFolderChecker::deliver(std::uint64_t generation, const Findings& findings) {
    if (generation != generation_) {
        return;
    }
    checking_ = false;
    showChecking_.stop();
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
    question_.reset();
    checking_ = false;
    problem_.reset();
    existing_.clear();
    identities_.clear();
    then_ = {};
    showChecking_.stop();
}

}  // namespace tavrolin
