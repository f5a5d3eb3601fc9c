#pragma once

#include <QObject>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "joinsplit/SplitSourceConfiguration.h"
#include "model/ProcessingRequest.h"
#include "widgets/OutputFolderChecker.h"
#include "widgets/WorkerPool.h"

namespace tavrolin {

class JobQueueViewModel;
class PreviewPreparing;

// The model of the Split workspace: one cut configuration per file (a range or a split point),
// the selected file, the output folder, validation and the submission of split jobs. Lives on
// the GUI thread; every member function must be called there. Its one kind of work is reading
// each added file's keyframes with `keyframeReader`, then its streams with `streamReader`, on
// its own pool, one task per file with its own stop source; removing the file, submitting or
// destroying the model stops the task and drops its result. The output folder is checked on an
// OutputFolderChecker's pool. `previewService` is handed to the editor's preview, and submission
// only enqueues jobs.
class SplitViewModel : public QObject {
    Q_OBJECT

  public:
    // Shows the folder panel opened at the given folder; none when cancelled.
    using FolderChooser = std::function<std::optional<std::filesystem::path>(
        const std::optional<std::filesystem::path>& startFolder)>;

    // Without a keyframe reader, times are cut as typed; without a stream reader, the container
    // is not checked (for tests of the rest).
    SplitViewModel(JobQueueViewModel& queue, std::shared_ptr<PreviewPreparing> previewService,
                   SplitKeyframeReader keyframeReader = {}, SplitStreamReader streamReader = {},
                   QObject* parent = nullptr);
    ~SplitViewModel() override;

    // Published state.
    const std::vector<SplitSourceConfiguration>& sources() const { return sources_; }
    const std::optional<std::filesystem::path>& selectedFile() const { return selectedFile_; }
    const std::optional<std::filesystem::path>& outputDirectory() const { return outputDirectory_; }
    bool hasUserSelectedOutputDirectory() const { return hasUserSelectedOutputDirectory_; }
    const std::shared_ptr<PreviewPreparing>& previewService() const { return previewService_; }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }

    // Keeps absolute paths with an extension that are not listed yet; true when one was added.
    bool addFiles(const std::vector<std::filesystem::path>& urls);
    void chooseOutputDirectory();
    void removeSource(const std::filesystem::path& url);
    void selectFile(const std::optional<std::filesystem::path>& url);
    std::optional<SplitSourceConfiguration> selectedConfiguration() const;

    // Edits of the selected configuration; nothing happens without one.
    void setOperationMode(SplitOperationMode mode);
    void setStartText(const std::string& text);
    void setEndText(const std::string& text);
    void setSplitPointText(const std::string& text);
    void setContainer(std::optional<OutputContainer> container);
    // Times picked on the preview; each also switches to the mode the time belongs to.
    void setStartFromPreview(double seconds);
    void setEndFromPreview(double seconds);
    void setSplitPointFromPreview(double seconds);

    // Computed on demand from the current state.
    std::optional<std::string> validationMessage() const;
    // Why the output folder takes no new file, as last checked (off the GUI thread) when the
    // folder or the outputs' names changed and again on submit; "Checking the folder…" while a
    // check takes long. Which outputs exist comes with the same answer.
    const std::optional<std::string>& outputFolderProblem() const {
        return outputFolderCheck_.problem();
    }
    // Submitting waits for the answer.
    bool isCheckingOutputFolder() const { return outputFolderCheck_.isChecking(); }
    void setOutputFolderProbe(OutputFolderChecker::Probe probe) {
        outputFolderCheck_.setProbe(std::move(probe));
    }
    int outputCount() const;
    std::vector<ProcessingRequest> makeRequests(const SplitSourceConfiguration& configuration,
                                                const std::filesystem::path& folder) const;
    // Checks the output folder again, then enqueues every configuration's jobs, starts the
    // queue and empties the workspace; does nothing while the workspace is invalid.
    void submit();

  signals:
    void changed();

  private:
    SplitSourceConfiguration* findSource(const std::filesystem::path& url);
    SplitSourceConfiguration* selectedSource();
    void editSelected(const std::function<void(SplitSourceConfiguration&)>& edit);
    void readKeyframes(SplitSourceConfiguration& source);
    void stopReadingKeyframes(const std::filesystem::path& url);
    void enqueueChecked();
    OutputFolderChecker::Question outputQuestion() const;
    void followOutputs(bool again);

    JobQueueViewModel& queue_;
    std::shared_ptr<PreviewPreparing> previewService_;
    FolderChooser folderChooser_;

    std::vector<SplitSourceConfiguration> sources_;
    std::optional<std::filesystem::path> selectedFile_;
    std::optional<std::filesystem::path> outputDirectory_;
    bool hasUserSelectedOutputDirectory_ = false;
    OutputFolderChecker outputFolderCheck_;

    SplitKeyframeReader keyframeReader_;
    SplitStreamReader streamReader_;
    std::map<std::filesystem::path, std::stop_source> keyframeTasks_;
    // Declared last: let go first, after the destructor stopped every reading.
    WorkerPool workers_;
};

}  // namespace tavrolin
