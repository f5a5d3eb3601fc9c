#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rename/BatchRenamer.h"
#include "rename/RenameRule.h"
#include "widgets/WorkerPool.h"

namespace tavrolin {

// The state of the Sequence Rename workspace: the files in episode order, the naming fields, the
// plan or the error they give, and whether a rename runs. Lives on the GUI thread; every member
// function must be called there.
//
// Planning, renaming and restoring run one at a time on the model's own worker thread (so they
// never overlap) and post their outcome back. Plan refreshes are numbered: only the latest
// stores its result. The destructor drops waiting work and leaves the running step to end
// on its own (a hung folder may hold it for good); quitting gives it a moment, and a rename cut
// short between its phases leaves its journal for the next start.
class RenameViewModel : public QObject {
    Q_OBJECT

  public:
    explicit RenameViewModel(std::shared_ptr<BatchRenamer> renamer, QObject* parent = nullptr);
    ~RenameViewModel() override;

    // Published state.
    const std::vector<std::filesystem::path>& files() const { return files_; }
    const std::string& showName() const { return showName_; }
    std::int64_t season() const { return season_; }
    std::int64_t startingEpisode() const { return startingEpisode_; }
    std::int64_t padding() const { return padding_; }
    const std::vector<RenamePlanItem>& plan() const { return plan_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    // Beside a plan: that its episode numbers got more digits than the padding chosen.
    const std::optional<std::string>& planNotice() const { return planNotice_; }
    bool isRenaming() const { return isRenaming_; }
    // The folder whose unfinished rename can be undone with restoreInterruptedRename.
    const std::optional<std::filesystem::path>& interruptedRenameFolder() const {
        return interruptedRenameFolder_;
    }
    // Other folders with an unfinished rename: found at start by lookForInterruptedRenames, or
    // added as folders. Each can be restored with restoreNames.
    const std::vector<std::filesystem::path>& interruptedRenames() const {
        return interruptedRenames_;
    }
    // What the last restore (how many names came back, then anything else) or opening a folder
    // wants the user to know.
    const std::optional<std::string>& notice() const { return notice_; }

    // A plan that changes at least one name, with no error shown and no rename running.
    bool canRename() const;
    RenameRule currentRule() const;
    // Whether planning, renaming or restoring is still under way.
    bool hasPendingWork() const { return pendingWork_ > 0; }

    // The naming fields; the view asks for a new plan after each change.
    void setShowName(const std::string& name);
    void setSeason(std::int64_t season);
    void setStartingEpisode(std::int64_t episode);
    void setPadding(std::int64_t padding);

    // Keeps absolute paths with an extension that are not listed yet, sorted as a file browser
    // lists them, after the files already listed; plans again when any was added. Paths without
    // an extension are looked at as folders: one with an unfinished rename is offered for
    // restore, and the visible files of each are added in the same way once listed (the notice
    // says when a folder holds none or cannot be read). Each folder is opened first
    // (BatchRenamer::openFolder), on the worker. True when files were added or folders will be
    // looked into.
    bool addFiles(const std::vector<std::filesystem::path>& urls);
    void refreshPlan();
    void remove(const std::filesystem::path& url);
    // Exchanges the file with its neighbour `offset` (-1 or +1) away, when there is one.
    void move(const std::filesystem::path& url, int offset);
    // Renames along the plan on screen. When a fresh plan differs from it, shows the fresh plan
    // instead of renaming.
    void renameAll();
    // Gives the files of the folder's unfinished rename their old names back, then plans again.
    void restoreInterruptedRename();
    void restoreNames(const std::filesystem::path& folder);
    // Asks the renamer, on the worker, which renames of an earlier run did not finish, opening
    // each recorded folder.
    void lookForInterruptedRenames();

  signals:
    void changed();

  private:
    struct Outcome {
        std::vector<RenamePlanItem> plan;
        std::optional<std::string> errorMessage;
        std::optional<std::filesystem::path> interruptedFolder;
        bool renamed = false;
        // After a rename: the new names, in plan order.
        std::vector<std::filesystem::path> files;
        std::vector<std::filesystem::path> interruptedFolders;
        std::string notice;
        std::size_t restoredNames = 0;
        std::optional<std::string> planNotice;
    };
    // A fresh plan of the files by the rule, with what it says of its numbers; on the worker.
    static Outcome planned(BatchRenamer& renamer, const std::vector<std::filesystem::path>& files,
                           const RenameRule& rule);
    // Runs `work` on the worker and hands its outcome (or its error, as a message) to `done`
    // on the GUI thread.
    void runInBackground(std::function<Outcome()> work, std::function<void(Outcome)> done);
    void showFailure(const Outcome& outcome);
    void setFiles(std::vector<std::filesystem::path> files);
    // The files not listed yet, in their order, each once.
    std::vector<std::filesystem::path> unlisted(std::vector<std::filesystem::path> files) const;
    // Lists the files after those listed and plans again; false when there are none.
    bool appendFiles(std::vector<std::filesystem::path> files);
    void discardInBackground(Outcome outcome);
    // Offers the restores that opening folders found, and shows what it kept.
    void finishOpening(const Outcome& outcome);

    std::shared_ptr<BatchRenamer> renamer_;
    std::vector<std::filesystem::path> files_;
    std::string showName_;
    std::int64_t season_ = 1;
    std::int64_t startingEpisode_ = 1;
    std::int64_t padding_ = 2;
    std::vector<RenamePlanItem> plan_;
    std::optional<std::string> errorMessage_;
    std::optional<std::string> planNotice_;
    bool isRenaming_ = false;
    std::optional<std::filesystem::path> interruptedRenameFolder_;
    std::vector<std::filesystem::path> interruptedRenames_;
    std::optional<std::string> notice_;

    std::uint64_t refreshGeneration_ = 0;
    // Counts changes of `files_`, so a finished rename can tell whether the list moved on.
    std::uint64_t filesVersion_ = 0;
    int pendingWork_ = 0;
    // One thread: planning and renaming never overlap, and run in the order they were asked for.
    WorkerPool worker_{1};
};

}  // namespace tavrolin
