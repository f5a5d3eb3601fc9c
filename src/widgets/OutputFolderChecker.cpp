#include "widgets/OutputFolderChecker.h"

#include <QGuiApplication>
#include <QMetaObject>

#include <algorithm>

#include "engine/FileOperations.h"
#include "model/OutputFolderCheck.h"
#include "model/Paths.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

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

OutputFolderChecker::~OutputFolderChecker() = default;

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
    const bool started =
        work_->start([this, probe = probe_, question = std::move(question), generation] {
            Findings findings;
            try {
                findings = findingsFor(probe, question);
            } catch (const std::exception& error) {
                findings.problem = error.what();
            }
            return [this, generation, findings = std::move(findings)] {
                deliver(generation, findings);
            };
        });
    if (!started) {
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
