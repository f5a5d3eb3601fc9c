#pragma once

#include <QObject>
#include <QThreadPool>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/StreamCopyCompatibility.h"
#include "model/MediaStream.h"
#include "model/OutputContainer.h"
#include "model/ProcessingRequest.h"
#include "model/RemuxPlan.h"
#include "model/RemuxSource.h"
#include "planning/RemuxIntentParsing.h"
#include "planning/RemuxIntentResolver.h"
#include "planning/RemuxReview.h"
#include "planning/StreamSemanticMatcher.h"
#include "probe/MediaProbing.h"
#include "process/FFmpegVersion.h"
#include "widgets/OutputFolderChecker.h"
#include "widgets/StreamInspectionTasks.h"

namespace tavrolin {

class JobQueueViewModel;

// The model of the Remux workspace: source files with their probed streams and per-file
// selection, output folder, container and playback target, the compatibility review and the
// submission of remux jobs, and the natural-language draft. Lives on the GUI thread; every
// member function must be called there. Inspections, output folder checks and the draft
// request run on worker threads and post their outcome back; one that was stopped (retry,
// removal, a newer request, invalidation, destruction) is dropped.
class RemuxViewModel : public QObject {
    Q_OBJECT

  public:
    enum class SubmissionMode { queue, now };

    using CompatibilityIssue = RemuxReview::CompatibilityIssue;

    // Shows the folder panel opened at the given folder; none when cancelled.
    using FolderChooser = std::function<std::optional<std::filesystem::path>(
        const std::optional<std::filesystem::path>& startFolder)>;

    RemuxViewModel(JobQueueViewModel& queue, std::shared_ptr<MediaProbing> probeService,
                   QObject* parent = nullptr);
    // Stops every inspection, drops those not started and joins the running ones, whose
    // ffprobe the stop has already ended; their late outcomes are dropped.
    ~RemuxViewModel() override;

    // Published state.
    const std::vector<RemuxSource>& sources() const { return sources_; }
    const std::string& outputDirectoryText() const { return outputDirectoryText_; }
    std::optional<OutputContainer> container() const { return container_; }
    std::optional<PlaybackTarget> playbackTarget() const { return playbackTarget_; }
    bool isShowingCompatibilityConfirmation() const { return isShowingCompatibilityConfirmation_; }
    bool appliesIndividualStreamChangesToAllSources() const {
        return appliesIndividualStreamChangesToAllSources_;
    }
    const std::optional<std::string>& propagatedChangeSummary() const {
        return propagatedChangeSummary_;
    }
    bool hasUserSelectedOutputDirectory() const { return hasUserSelectedOutputDirectory_; }
    std::optional<SubmissionMode> pendingSubmission() const { return pendingSubmission_; }
    // Sources whose inspection is still running.
    std::size_t runningInspectionCount() const { return inspections_.runningCount(); }
    // The sources that may show something new since the last call (only they changed, on
    // their own), or none when anything may have: every change not told apart counts so.
    // For a view that renders in proportion to what changed.
    std::optional<std::set<std::filesystem::path>> takeChangedSources();

    // Writes from the "Output folder path" field: the folder counts as chosen by the user.
    void setOutputDirectoryText(const std::string& text);
    // None keeps each source's own container.
    void setContainer(std::optional<OutputContainer> container);
    // A target set while the container is "Same as Input" switches the container to MP4.
    void setPlaybackTarget(std::optional<PlaybackTarget> target);
    void setAppliesIndividualStreamChangesToAllSources(bool applies);
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    // The ffmpeg that jobs will run; each inspection also reads its release (cached), so the
    // review leaves out what that release is known to refuse. Without it the rules stand alone.
    void setInstalledFFmpeg(std::shared_ptr<InstalledFFmpeg> installed) {
        inspections_.setInstalledFFmpeg(std::move(installed));
    }

    // The intent parser in use; its availability is fixed per parser, so a settings change
    // brings a new one. Without one, drafts are unavailable.
    void setIntentParser(std::shared_ptr<RemuxIntentParsing> parser);
    const RemuxIntentParsing& intentParser() const { return *intentParser_; }

    // Natural-language draft.
    const std::string& naturalLanguageInstruction() const { return naturalLanguageInstruction_; }
    const std::optional<RemuxNaturalLanguageDraft>& naturalLanguageDraft() const {
        return naturalLanguageDraft_;
    }
    const std::optional<std::string>& naturalLanguageError() const { return naturalLanguageError_; }
    const std::optional<std::string>& appliedNaturalLanguageSummary() const {
        return appliedNaturalLanguageSummary_;
    }
    bool isCreatingNaturalLanguageDraft() const { return isCreatingNaturalLanguageDraft_; }
    void setNaturalLanguageInstruction(const std::string& instruction);
    bool canCreateNaturalLanguageDraft() const;
    void createNaturalLanguageDraft();
    void applyNaturalLanguageDraft();
    // The panel's "Discard": the instruction and the applied summary stay.
    void discardNaturalLanguageDraft();
    // The panel's "Cancel" while a draft is being created: stops the request, keeps the text.
    void cancelNaturalLanguageDraft();
    // Stops the request and forgets draft, error and summary: the sources changed.
    void invalidateNaturalLanguageDraft();

    // Sources and inspection.
    // Keeps absolute paths with an extension that are not listed yet; true when one was added.
    bool addFiles(const std::vector<std::filesystem::path>& urls);
    void removeSource(const std::filesystem::path& url);
    void retryInspection(const std::filesystem::path& url);
    std::optional<std::filesystem::path> outputDirectoryURL() const;
    void chooseOutputDirectory();
    std::optional<OutputContainer> effectiveContainer(const RemuxSource& source) const;

    // Stream selection.
    void toggleStream(std::int64_t index, const std::filesystem::path& url);
    void setStreams(MediaStreamKind kind, bool included, const std::filesystem::path& url);

    // Review, computed on demand from the current state.
    std::optional<std::string> validationMessage() const;
    std::vector<CompatibilityIssue> compatibilityIssues() const;
    std::optional<std::string> compatibilitySummary() const;
    std::optional<std::string> playbackTargetStatus() const;
    bool isPlaybackTargetStatusBlocking() const;
    std::optional<std::string> subtitleConversionNote() const;
    std::string unsupportedStreamsAlertMessage() const;
    std::map<std::int64_t, std::string> unsupportedStreamMessages(const RemuxSource& source) const;
    std::map<std::int64_t, std::string> convertedSubtitleCodecs(const RemuxSource& source) const;
    std::vector<MediaStream> outputStreams(const RemuxSource& source) const;
    std::string outputContainerDescription(const RemuxSource& source) const;

    // Submission: the output folder is checked again first, and submitting waits for it.
    void submit(SubmissionMode mode);
    bool isCheckingOutputFolder() const { return outputFolderCheck_.isChecking(); }
    void setOutputFolderProbe(OutputFolderChecker::Probe probe) {
        outputFolderCheck_.setProbe(std::move(probe));
    }
    void confirmDroppingUnsupportedStreams();
    // The alert's "Cancel" (or its dismissal).
    void cancelCompatibilityConfirmation();
    ProcessingRequest makeRemuxRequest(const RemuxSource& source,
                                       const std::filesystem::path& outputFolder) const;

  signals:
    void changed();

  private:
    struct DraftOutcome {
        std::optional<RemuxIntentPlan> plan;
        std::optional<std::string> errorMessage;
        bool wasCancelled = false;
    };
    // What a draft request was made for; later edits of the controls do not reach it.
    struct DraftSnapshot {
        std::string instruction;
        std::vector<RemuxSource> sources;
        std::optional<OutputContainer> container;
        std::optional<PlaybackTarget> playbackTarget;
    };
    void startInspection(const std::filesystem::path& url);
    void finishInspections(std::vector<StreamInspectionTasks::Outcome> outcomes);
    void finishNaturalLanguageDraft(std::uint64_t taskID, const std::stop_token& stop,
                                    DraftOutcome outcome, const DraftSnapshot& snapshot);
    RemuxSource* findSource(const std::filesystem::path& url);
    // Emits `changed` for a change that reaches these sources and nothing else.
    void emitSourcesChanged(const std::vector<std::filesystem::path>& urls);
    void propagateStreamChange(const MediaStream& reference, bool include, std::size_t position);
    RemuxReview review() const;
    OutputFolderChecker::Question outputQuestion(const std::filesystem::path& folder) const;
    void followOutputs();
    void submitChecked(SubmissionMode mode);
    void enqueueRequests(const std::filesystem::path& outputFolder, SubmissionMode mode);

    JobQueueViewModel& queue_;
    std::shared_ptr<MediaProbing> probeService_;
    StreamSemanticMatcher semanticMatcher_;
    FolderChooser folderChooser_;
    std::optional<FFmpegRelease> installedRelease_;

    std::vector<RemuxSource> sources_;
    std::string outputDirectoryText_;
    // Asked again when the folder or the outputs' names change and right before queueing.
    OutputFolderChecker outputFolderCheck_;
    std::optional<OutputContainer> container_;
    std::optional<PlaybackTarget> playbackTarget_;
    bool isShowingCompatibilityConfirmation_ = false;
    bool appliesIndividualStreamChangesToAllSources_ = false;
    std::optional<std::string> propagatedChangeSummary_;
    bool hasUserSelectedOutputDirectory_ = false;
    std::optional<SubmissionMode> pendingSubmission_;
    std::set<std::filesystem::path> changedSources_;
    bool everythingChanged_ = true;
    bool emittingSourcesChanged_ = false;

    std::shared_ptr<RemuxIntentParsing> intentParser_;
    RemuxIntentResolver intentResolver_;
    std::string naturalLanguageInstruction_;
    std::optional<RemuxNaturalLanguageDraft> naturalLanguageDraft_;
    std::optional<std::string> naturalLanguageError_;
    std::optional<std::string> appliedNaturalLanguageSummary_;
    bool isCreatingNaturalLanguageDraft_ = false;
    // The running request; only the task with this id may store its outcome. Its pool is
    // destroyed after the request was told to stop (which aborts it at once).
    std::stop_source intentTask_;
    std::uint64_t intentTaskID_ = 0;
    QThreadPool draftPool_;

    // Declared last: destroyed first, stopping and joining its inspections.
    StreamInspectionTasks inspections_;
};

}  // namespace tavrolin
