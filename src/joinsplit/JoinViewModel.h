#pragma once

#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/JoinLayoutCheck.h"
#include "model/OutputContainer.h"
#include "probe/MediaProbing.h"
#include "widgets/OutputFolderChecker.h"
#include "widgets/StreamInspectionTasks.h"

namespace tavrolin {

class JobQueueViewModel;

// The model of the Join workspace: the join order of two or more files, each inspected with
// ffprobe in the background, the output container, the check that every file has the first
// file's stream layout, and the one join job. Lives on the GUI thread; every member function
// must be called there. Removing a file or queueing stops its inspection and drops its outcome;
// destruction stops every inspection and abandons a running output check, without waiting.
class JoinViewModel : public QObject {
    Q_OBJECT

  public:
    // Shows the save panel (suggested name, container, start folder); none when cancelled.
    using OutputFileChooser = std::function<std::optional<std::filesystem::path>(
        const std::string& suggestedName, OutputContainer container,
        const std::optional<std::filesystem::path>& startFolder)>;

    JoinViewModel(JobQueueViewModel& queue, std::shared_ptr<MediaProbing> probeService,
                  QObject* parent = nullptr);
    ~JoinViewModel() override;

    // Published state.
    const std::vector<std::filesystem::path>& files() const { return files_; }
    const JoinInspectionStates& inspectionStates() const { return inspectionStates_; }
    OutputContainer container() const { return container_; }
    void setContainer(OutputContainer container);
    std::size_t runningInspectionCount() const { return inspections_.runningCount(); }
    void setOutputFileChooser(OutputFileChooser chooser) {
        outputFileChooser_ = std::move(chooser);
    }
    // The ffmpeg that jobs run, asked for its release after each inspection, so the check
    // refuses what that release cannot write.
    void setInstalledFFmpeg(std::shared_ptr<InstalledFFmpeg> installed) {
        inspections_.setInstalledFFmpeg(std::move(installed));
    }

    // Keeps absolute paths with an extension that are not listed yet; true when one was added.
    bool addFiles(const std::vector<std::filesystem::path>& urls);
    void remove(const std::filesystem::path& url);
    // Swaps the file with its neighbour `offset` places away; nothing past either end.
    void move(const std::filesystem::path& url, int offset);

    // Computed on demand from the current state.
    std::optional<std::string> compatibilityMessage() const;
    // Why the last chosen output cannot be written (it exists or a queued or running job writes
    // it, or its folder takes no new file; the disk is asked off the GUI thread, "Checking the
    // folder…" while that takes long); cleared when the list or the container changes or
    // another output is chosen, and a job's claim also when that job ends.
    std::optional<std::string> outputProblem() const;
    // Queueing waits for the answer.
    bool isCheckingOutputFolder() const { return outputFolderCheck_.isChecking(); }
    void setOutputFolderProbe(OutputFolderChecker::Probe probe) {
        outputFolderCheck_.setProbe(std::move(probe));
    }
    std::string statusText() const;
    bool hasBlockingIssue() const;

    // Looks for a name no file and no queued job takes, asks for the output file with it,
    // checks off the GUI thread that the output can be written, then appends one join job,
    // starts the queue and empties the list (the container stays). Does nothing while anything
    // blocks or a check runs, or when the panel is cancelled; an output that cannot be written
    // sets `outputProblem()` instead.
    void chooseOutputAndQueue();

  signals:
    void changed();

  private:
    void finishInspections(std::vector<StreamInspectionTasks::Outcome> outcomes);
    bool contains(const std::filesystem::path& url) const;
    void listChanged();
    void chooseOutput(const std::string& suggestedName, const std::filesystem::path& startFolder);
    void refuseOutput(std::string problem);
    void enqueueJoin(const std::filesystem::path& output);

    JobQueueViewModel& queue_;
    JoinLayoutCheck layoutCheck_;
    OutputFileChooser outputFileChooser_;

    std::vector<std::filesystem::path> files_;
    JoinInspectionStates inspectionStates_;
    OutputContainer container_ = OutputContainer::mp4;
    std::optional<std::string> outputProblem_;
    std::optional<std::filesystem::path> claimedChoice_;
    OutputFolderChecker outputFolderCheck_;

    // Last, so that it is destroyed first: no outcome arrives while the state goes away.
    StreamInspectionTasks inspections_;
};

}  // namespace tavrolin
