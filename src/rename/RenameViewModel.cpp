#include "rename/RenameViewModel.h"

#include <QMetaObject>

#include <algorithm>
#include <unordered_set>

#include "model/ErrorMessage.h"
#include "rename/FileBrowserOrder.h"
#include "rename/RenameError.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

void appendNotice(std::string& notice, const std::string& more) {
    if (!more.empty()) {
        notice += notice.empty() ? more : " " + more;
    }
}

// Adds a dropped folder's visible files to `files`, as if each had been added; says so
// when it holds none (unless the restore offer speaks for its hidden ones) or cannot be read. A
// path that is no folder is passed over, as before.
void takeFilesOf(const fs::path& folder, bool interruptedRename, std::vector<fs::path>& files,
                 std::string& notice) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return;
    }
    std::size_t taken = 0;
    fs::directory_iterator entries(folder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const fs::path& path = entries->path();
        std::error_code typeError;
        if (!path.filename().native().starts_with('.') && path.extension().native().size() > 1 &&
            entries->is_regular_file(typeError)) {
            files.push_back(path);
            ++taken;
        }
    }
    if (error) {
        appendNotice(notice, RenameError::unreadableFolderNotice(folder.string(), error.message()));
    } else if (taken == 0 && !interruptedRename) {
        appendNotice(notice, RenameError::emptyFolderNotice(folder.string()));
    }
}

}  // namespace

RenameViewModel::RenameViewModel(std::shared_ptr<BatchRenamer> renamer, QObject* parent)
    : QObject(parent), renamer_(std::move(renamer)) {}

// A rename or a listing still running is not waited for: a hung folder may hold it for good.
// Its outcome finds no model; a rename cut short leaves its journal for the next start.
RenameViewModel::~RenameViewModel() = default;

namespace {

// A plan that leaves every name as it is disables Rename Files: the notice says why.
std::optional<std::string> withNothingToRename(const std::vector<RenamePlanItem>& plan,
                                               const std::optional<std::string>& notice) {
    const bool changesNothing =
        !plan.empty() && std::all_of(plan.begin(), plan.end(), [](const RenamePlanItem& item) {
            return item.source == item.destination;
        });
    if (!changesNothing) {
        return notice;
    }
    const std::string reason =
        "Every file already has the name shown, so there is nothing to rename. Change the show "
        "name, season or first episode to rename them.";
    return notice ? *notice + " " + reason : reason;
}

}  // namespace

bool RenameViewModel::canRename() const {
    // A plan that leaves every name as it is has nothing to do.
    return !errorMessage_ && !isRenaming_ &&
           std::any_of(plan_.begin(), plan_.end(),
                       [](const RenamePlanItem& item) { return item.source != item.destination; });
}

RenameRule RenameViewModel::currentRule() const {
    return RenameRule{showName_, season_, startingEpisode_, padding_};
}

void RenameViewModel::setShowName(const std::string& name) {
    if (name != showName_) {
        showName_ = name;
        emit changed();
    }
}

void RenameViewModel::setSeason(std::int64_t season) {
    if (season != season_) {
        season_ = season;
        emit changed();
    }
}

void RenameViewModel::setStartingEpisode(std::int64_t episode) {
    if (episode != startingEpisode_) {
        startingEpisode_ = episode;
        emit changed();
    }
}

void RenameViewModel::setPadding(std::int64_t padding) {
    if (padding != padding_) {
        padding_ = padding;
        emit changed();
    }
}

bool RenameViewModel::addFiles(const std::vector<fs::path>& urls) {
    std::vector<fs::path> files;
    std::vector<fs::path> folders;
    for (const auto& url : urls) {
        // "name." has no extension either.
        if (!url.is_absolute()) {
            continue;
        }
        (url.extension().native().size() <= 1 ? folders : files).push_back(url);
    }
    std::vector<fs::path> kept = unlisted(std::move(files));
    std::vector<fs::path> fileFolders;
    for (const auto& file : kept) {
        if (std::find(fileFolders.begin(), fileFolders.end(), file.parent_path()) ==
            fileFolders.end()) {
            fileFolders.push_back(file.parent_path());
        }
    }
    if (!folders.empty() || !fileFolders.empty()) {
        // Queued before the plan, so the plan sees the folder cleared. A folder whose files all
        // have hidden names shows nothing to add, but can be restored.
        runInBackground(
            [renamer = renamer_, folders, fileFolders] {
                Outcome outcome;
                for (const auto& folder : folders) {
                    auto opened = renamer->openFolder(folder);
                    if (opened.interruptedRename) {
                        outcome.interruptedFolders.push_back(opened.folder);
                    }
                    appendNotice(outcome.notice, opened.notice);
                    takeFilesOf(folder, opened.interruptedRename, outcome.files, outcome.notice);
                }
                for (const auto& folder : fileFolders) {
                    appendNotice(outcome.notice, renamer->openFolder(folder).notice);
                }
                sortInFileBrowserOrder(outcome.files);
                return outcome;
            },
            [this](Outcome outcome) {
                appendFiles(unlisted(std::move(outcome.files)));
                finishOpening(outcome);
            });
    }
    sortInFileBrowserOrder(kept);
    return appendFiles(std::move(kept)) || !folders.empty();
}

std::vector<fs::path> RenameViewModel::unlisted(std::vector<fs::path> files) const {
    std::unordered_set<std::string> listed;
    listed.reserve(files_.size() + files.size());
    for (const auto& file : files_) {
        listed.insert(file.native());
    }
    std::erase_if(files,
                  [&](const fs::path& file) { return !listed.insert(file.native()).second; });
    return files;
}

bool RenameViewModel::appendFiles(std::vector<fs::path> files) {
    if (files.empty()) {
        return false;
    }
    notice_.reset();
    files_.insert(files_.end(), files.begin(), files.end());
    ++filesVersion_;
    emit changed();
    refreshPlan();
    return true;
}

void RenameViewModel::refreshPlan() {
    const std::uint64_t generation = ++refreshGeneration_;
    if (files_.empty()) {
        plan_.clear();
        planNotice_.reset();
        errorMessage_.reset();
        interruptedRenameFolder_.reset();
        emit changed();
        return;
    }
    runInBackground([renamer = renamer_, files = files_,
                     rule = currentRule()] { return planned(*renamer, files, rule); },
                    [this, generation](Outcome outcome) {
                        if (generation != refreshGeneration_) {
                            return;
                        }
                        if (outcome.errorMessage) {
                            plan_.clear();
                            showFailure(outcome);
                        } else {
                            plan_ = std::move(outcome.plan);
                            planNotice_ = withNothingToRename(plan_, outcome.planNotice);
                            errorMessage_.reset();
                            interruptedRenameFolder_.reset();
                        }
                        emit changed();
                    });
}

void RenameViewModel::remove(const fs::path& url) {
    std::erase(files_, url);
    notice_.reset();
    ++filesVersion_;
    emit changed();
    refreshPlan();
}

void RenameViewModel::move(const fs::path& url, int offset) {
    const auto found = std::find(files_.begin(), files_.end(), url);
    if (found == files_.end()) {
        return;
    }
    const auto index = static_cast<std::ptrdiff_t>(found - files_.begin());
    const std::ptrdiff_t target = index + offset;
    if (target < 0 || target >= static_cast<std::ptrdiff_t>(files_.size())) {
        return;
    }
    std::swap(files_[static_cast<std::size_t>(index)], files_[static_cast<std::size_t>(target)]);
    ++filesVersion_;
    emit changed();
    refreshPlan();
}

void RenameViewModel::renameAll() {
    if (!canRename()) {
        return;
    }
    isRenaming_ = true;
    notice_.reset();
    emit changed();
    // Refreshes started before are stale; one started during the rename supersedes its plan.
    const std::uint64_t generation = ++refreshGeneration_;
    const std::uint64_t filesVersion = filesVersion_;
    runInBackground(
        [renamer = renamer_, files = files_, rule = currentRule(), shown = plan_] {
            Outcome outcome = planned(*renamer, files, rule);
            // The user confirmed the plan on screen; a different one is shown, not applied.
            if (outcome.plan != shown) {
                return outcome;
            }
            renamer->apply(outcome.plan);
            outcome.renamed = true;
            outcome.notice = RenameError::renamedFilesNotice(static_cast<std::size_t>(
                std::count_if(outcome.plan.begin(), outcome.plan.end(),
                              [](const auto& item) { return item.source != item.destination; })));
            // The lists that replace the old ones are made here, off the GUI thread.
            for (auto& item : outcome.plan) {
                outcome.files.push_back(item.destination);
                item.source = item.destination;
            }
            return outcome;
        },
        [this, generation, filesVersion](Outcome outcome) {
            isRenaming_ = false;
            const bool superseded = generation != refreshGeneration_;
            if (outcome.errorMessage) {
                showFailure(outcome);
            } else if (!outcome.renamed) {
                if (!superseded) {
                    plan_ = std::move(outcome.plan);
                    planNotice_ = withNothingToRename(plan_, outcome.planNotice);
                    errorMessage_.reset();
                }
            } else {
                if (filesVersion != filesVersion_) {
                    // The list changed while the rename ran: files added meanwhile stay listed
                    // after the renamed ones.
                    std::unordered_set<std::string> renamed;
                    for (const auto& item : outcome.plan) {
                        renamed.insert(item.destination.native());
                    }
                    for (const auto& file : files_) {
                        if (!renamed.contains(file.native()) &&
                            std::find(outcome.files.begin(), outcome.files.end(), file) ==
                                outcome.files.end()) {
                            outcome.files.push_back(file);
                        }
                    }
                }
                setFiles(std::move(outcome.files));
                std::swap(plan_, outcome.plan);
                notice_ = std::move(outcome.notice);
                errorMessage_.reset();
                interruptedRenameFolder_.reset();
                // Refreshes that waited behind the rename planned the old names.
                ++refreshGeneration_;
                if (superseded) {
                    refreshPlan();
                }
            }
            emit changed();
            discardInBackground(std::move(outcome));
        });
}

void RenameViewModel::restoreInterruptedRename() {
    if (interruptedRenameFolder_) {
        restoreNames(*interruptedRenameFolder_);
    }
}

void RenameViewModel::restoreNames(const fs::path& folder) {
    if (isRenaming_) {
        return;
    }
    isRenaming_ = true;
    ++refreshGeneration_;
    emit changed();
    runInBackground(
        [renamer = renamer_, folder] {
            Outcome outcome;
            outcome.notice = renamer->restoreInterruptedRename(folder, &outcome.restoredNames);
            return outcome;
        },
        [this, folder](Outcome outcome) {
            isRenaming_ = false;
            // A failure is shown in the preview, with its own restore button when it can help.
            std::erase(interruptedRenames_, folder);
            if (outcome.errorMessage) {
                plan_.clear();
                showFailure(outcome);
                emit changed();
                return;
            }
            interruptedRenameFolder_.reset();
            errorMessage_.reset();
            std::string notice =
                RenameError::restoredNamesNotice(folder.string(), outcome.restoredNames);
            appendNotice(notice, outcome.notice);
            notice_ = std::move(notice);
            emit changed();
            refreshPlan();
        });
}

void RenameViewModel::lookForInterruptedRenames() {
    runInBackground(
        [renamer = renamer_] {
            Outcome outcome;
            for (auto& opened : renamer->openRecordedFolders()) {
                if (opened.interruptedRename) {
                    outcome.interruptedFolders.push_back(std::move(opened.folder));
                }
                appendNotice(outcome.notice, opened.notice);
            }
            return outcome;
        },
        [this](Outcome outcome) { finishOpening(outcome); });
}

void RenameViewModel::finishOpening(const Outcome& outcome) {
    bool added = false;
    for (const auto& folder : outcome.interruptedFolders) {
        if (std::find(interruptedRenames_.begin(), interruptedRenames_.end(), folder) ==
            interruptedRenames_.end()) {
            interruptedRenames_.push_back(folder);
            added = true;
        }
    }
    if (!outcome.notice.empty()) {
        notice_ = outcome.notice;
        added = true;
    }
    if (added) {
        emit changed();
    }
}

void RenameViewModel::setFiles(std::vector<fs::path> files) {
    files_ = std::move(files);
    ++filesVersion_;
}

void RenameViewModel::discardInBackground(Outcome outcome) {
    // Thousands of paths take milliseconds to free; the worker does it after its current step.
    worker_.start(
        [outcome = std::make_shared<Outcome>(std::move(outcome))]() mutable { outcome.reset(); });
}

RenameViewModel::Outcome RenameViewModel::planned(BatchRenamer& renamer,
                                                  const std::vector<fs::path>& files,
                                                  const RenameRule& rule) {
    Outcome outcome;
    outcome.plan = renamer.plan(files, rule);
    outcome.planNotice = widenedEpisodesNotice(rule, files.size());
    return outcome;
}

void RenameViewModel::showFailure(const Outcome& outcome) {
    errorMessage_ = outcome.errorMessage;
    planNotice_.reset();
    interruptedRenameFolder_ = outcome.interruptedFolder;
}

void RenameViewModel::runInBackground(std::function<Outcome()> work,
                                      std::function<void(Outcome)> done) {
    ++pendingWork_;
    runGuardedTask(
        this, worker_,
        [work = std::move(work)] {
            Outcome outcome;
            try {
                outcome = work();
            } catch (const RenameError& error) {
                outcome.errorMessage = error.what();
                if (error.errorCase() == RenameError::Case::interruptedRename ||
                    error.errorCase() == RenameError::Case::namesNotRestored) {
                    outcome.interruptedFolder = fs::path(error.payload());
                }
            } catch (...) {
                outcome.errorMessage = userMessage(std::current_exception());
            }
            return outcome;
        },
        [done = std::move(done)](RenameViewModel& self, Outcome outcome) {
            --self.pendingWork_;
            done(std::move(outcome));
        });
}

}  // namespace tavrolin
