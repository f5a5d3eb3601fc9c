#pragma once

#include <QObject>

#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/SubtitleFileExporter.h"
#include "probe/MediaProbing.h"
#include "transcription/ConversationSummarizing.h"
#include "transcription/MediaTranscribing.h"
#include "transcription/TranscriptionWorkspaceState.h"
#include "widgets/BlockingFileWork.h"
#include "widgets/OutputFolderChecker.h"
#include "widgets/WorkerPool.h"

namespace tavrolin {

class JobQueueViewModel;

// The state object of the Transcribe workspace: owns a TranscriptionWorkspaceState and runs
// its tasks (capability check, one inspection task, the batch run, the subtitle export, the
// summary run) on its own worker pool, handing every outcome back on the GUI thread. GUI thread
// only. Each task has its own stop source; a stopped task's outcome is dropped, except that a
// stopped inspection returns its source to pending and a stopped run ends as cancelled.
// The search across all transcripts follows every change on its own: a newer query or cue revision
// stops the older search and drops its outcome. Destruction requests stop on every task and cancels
// the transcription service, which ends their child processes; it does not wait for the
// workers (one may be held by a hung folder), whose late outcomes find no model.
class TranscriptionViewModel : public QObject {
    Q_OBJECT

  public:
    struct Services {
        std::shared_ptr<MediaProbing> probe;
        std::shared_ptr<MediaTranscribing> transcription;
        std::shared_ptr<ConversationSummarizing> summarizer;
        std::shared_ptr<SubtitleFileExporter> exporter;
        std::shared_ptr<PreferencesStore> preferences;
    };
    // The save panels; tests answer them without a dialog.
    struct Panels {
        std::function<std::optional<std::filesystem::path>(
            const std::string&, OutputContainer, const std::optional<std::filesystem::path>&)>
            chooseOutputFile;
        std::function<std::optional<std::filesystem::path>(
            const std::string&, SubtitleFileFormat, const std::optional<std::filesystem::path>&)>
            chooseSubtitleExportFile;
    };
    static Panels dialogPanels();

    // Ends with refreshAvailability.
    TranscriptionViewModel(Services services, JobQueueViewModel& queue,
                           Panels panels = dialogPanels(), QObject* parent = nullptr);
    ~TranscriptionViewModel() override;

    const TranscriptionWorkspaceState& state() const { return state_; }

    void refreshAvailability();

    void setSelectedAudioStreamIndex(std::optional<std::int64_t> index);
    void setSelectedLocaleIdentifier(const std::string& identifier);
    void setCues(std::vector<SubtitleCue> cues);
    void setChapters(std::vector<ChapterMarker> chapters);
    void setMediaOutputContainer(OutputContainer container);
    void setTranscriptSearch(const std::string& text);
    void setBatchTranscriptSearch(const std::string& text);
    // The cue list scrolls to a requested cue once, then clears the request.
    void setRequestedCueID(std::optional<std::int64_t> id);
    void setReplaceOriginalsDuringBatchExport(bool replace);

    bool addSources(const std::vector<std::filesystem::path>& urls);
    void selectSource(const Uuid& id);
    void openSearchResult(const BatchTranscriptSearchResult& result);
    void removeSource(const Uuid& id);
    void applySelectedLanguageToAllSources();
    void setExportSelection(bool isSelected, const Uuid& id);
    void selectAllExportableSources();

    void startTranscription(const std::vector<Uuid>& ids);
    void addSelectedSourceToTranscriptionQueue(const Uuid& id);
    void transcribeAllReadySources();
    void cancelTranscription();
    void clearSelectedTranscript();

    void exportSubtitles();
    void applySubtitleTimingOffset(double shift);
    void applySubtitleTimingOffsetToCompletedSources();

    void addChapterAtCue(const SubtitleCue& cue);
    void removeChapter(const Uuid& id);

    void exportSelectedMedia();
    void exportCheckedMediaInBatch();

    void summarizeConversations(bool force);

    ConversationSummaryAvailability summaryAvailability() const {
        return services_.summarizer->availability();
    }
    bool isInspecting() const { return probeRunning_; }
    bool isExportingSubtitles() const { return exportRunning_; }
    // Whether the export outputs' folders and names are being asked about off the GUI thread:
    // whenever the marked sources' outputs change, and again when an export is asked for. An
    // export waits for its answer, and shows "Checking the folder…" as the message while that
    // takes long; the export readiness reads the last answer.
    bool isCheckingOutputFolder() const { return outputFolderCheck_.isChecking(); }
    void setOutputFolderProbe(OutputFolderChecker::Probe probe) {
        outputFolderCheck_.setProbe(std::move(probe));
    }
    // The hits of the search across all transcripts, worked out on the pool whenever the query or
    // any source's cues change. They stay those of the last finished search while a newer one is
    // pending, and are empty when no search is asked for. The list is shared and never changed:
    // new hits come as a new list. Never null.
    const std::shared_ptr<const std::vector<BatchTranscriptSearchResult>>& batchSearchResults()
        const {
        return batchSearchResults_;
    }
    bool isBatchSearchPending() const { return batchSearchPending_; }
    // Frees a list of hits on the pool, where a long one takes no time from the GUI thread.
    void retireBatchSearchResults(
        std::shared_ptr<const std::vector<BatchTranscriptSearchResult>> results);

  signals:
    void changed();

  private:
    template <typename Result>
    struct Outcome {
        std::optional<Result> value;
        std::exception_ptr error;
    };
    template <typename Result, typename Work>
    static Outcome<Result> capture(Work&& work);

    void exportSubtitlesTo(const std::filesystem::path& destination);
    // Asks `question` again and runs `then` with the answer once its folders take new files;
    // shows the first problem found as the error instead. Other exports wait meanwhile.
    void afterOutputCheck(OutputFolderChecker::Question question,
                          std::function<void(const OutputFolderChecker::Findings&)> then);
    OutputFolderChecker::Question batchOutputQuestion() const;
    // Shows the save panel with the free name found, then queues the export it confirms.
    void exportSelectedMediaTo(const Uuid& id, const std::string& suggestedName,
                               const std::filesystem::path& folder);
    void followExportOutputs();
    void startProbeTaskIfNeeded();
    void inspectNext(std::stop_source task);
    void endProbeTask();
    void runFrom(std::stop_source run, std::size_t position);
    void endRun(bool wasCancelled);
    void summarizeNext(std::stop_source run, std::vector<TranscriptConversation> pending,
                       std::size_t position, int summarized, int fallbacks);
    void syncReplacements();
    void noteReplaced(const std::filesystem::path& input);
    void refreshBatchSearch();
    static std::shared_ptr<const std::vector<BatchTranscriptSearchResult>> noSearchResults();

    Services services_;
    JobQueueViewModel& queue_;
    Panels panels_;
    TranscriptionWorkspaceState state_;

    std::stop_source capabilityTask_;
    std::stop_source probeTask_;
    std::stop_source transcriptionTask_;
    std::stop_source exportTask_;
    std::stop_source conversationSummaryTask_;
    std::stop_source batchSearchTask_;
    bool probeRunning_ = false;
    bool exportRunning_ = false;
    std::set<Uuid> finishedReplacementJobs_;
    // The file each queued replacement's input led to when it was queued, so following the
    // queue never looks at the disk.
    std::map<std::filesystem::path, FileIdentity> queuedReplacementInputs_;
    // An export waits for its own output check; following the outputs pauses meanwhile.
    bool awaitingOutputCheck_ = false;
    // The trimmed query and cue revision of the latest search started.
    std::optional<std::pair<std::string, std::uint64_t>> batchSearchKey_;
    TranscriptSearchSnapshot batchSearchSnapshot_;
    std::shared_ptr<const std::vector<BatchTranscriptSearchResult>> batchSearchResults_ =
        noSearchResults();
    bool batchSearchPending_ = false;
    OutputFolderChecker outputFolderCheck_;
    std::unique_ptr<BlockingFileWork> identityReads_ = std::make_unique<BlockingFileWork>(this);
    // Capability, inspection, one transcription, an export, a summary and a search may overlap.
    WorkerPool pool_{6};
};

}  // namespace tavrolin
