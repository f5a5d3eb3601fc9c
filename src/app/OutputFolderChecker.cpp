#include "app/OutputFolderChecker.h"

#include "app/GuardedTask.h"
#include "model/OutputFolderCheck.h"

namespace tavrolin {

namespace fs = std::filesystem;

OutputFolderChecker::OutputFolderChecker(QObject* parent)
    : QObject(parent), probe_([](const fs::path& folder) { return outputFolderProblem(folder); }) {
    // A few checks may hang on stalled mounts while one for another folder still answers.
    pool_.setMaxThreadCount(4);
    showChecking_.setSingleShot(true);
    showChecking_.setInterval(showCheckingAfter);
    connect(&showChecking_, &QTimer::timeout, this, [this] {
        if (checking_) {
            problem_ = std::string(checkingFolderText);
            emit changed();
        }
    });
}

OutputFolderChecker::~OutputFolderChecker() {
    pool_.clear();
}

void OutputFolderChecker::check(std::vector<fs::path> folders, bool again, Answer then) {
    if (!again && folders_ == folders) {
        return;
    }
    const std::uint64_t generation = ++generation_;
    folders_ = folders;
    checking_ = true;
    problem_.reset();
    showChecking_.start();
    pool_.clear();  // older questions not yet started are dropped anyway
    runGuardedTask(
        this, pool_,
        [probe = probe_, folders = std::move(folders)] {
            for (const auto& folder : folders) {
                if (auto problem = probe(folder)) {
                    return problem;
                }
            }
            return std::optional<std::string>();
        },
        [generation, then = std::move(then)](OutputFolderChecker& self,
                                             std::optional<std::string> problem) {
            if (generation != self.generation_) {
                return;
            }
            self.checking_ = false;
            self.showChecking_.stop();
            self.problem_ = std::move(problem);
            if (then) {
                then(std::optional(self.problem_));
            }
            emit self.changed();
        });
}

void OutputFolderChecker::follow(const std::optional<fs::path>& folder) {
    if (!folder) {
        reset();
    } else if (!folders_ || *folders_ != std::vector<fs::path>{*folder}) {
        check({*folder});
    }
}

void OutputFolderChecker::reset() {
    if (!folders_ && !checking_) {
        return;
    }
    ++generation_;
    folders_.reset();
    checking_ = false;
    problem_.reset();
    showChecking_.stop();
}

}  // namespace tavrolin
