#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/StreamCopyCompatibility.h"
#include "engine/SubtitleCueSegmenter.h"
#include "engine/SubtitleTimingAdjuster.h"
#include "model/FileIdentity.h"
#include "model/OutputClaim.h"
#include "model/PreferencesStore.h"
#include "model/ProcessingRequest.h"
#include "model/Transcription.h"
#include "transcription/MediaTranscribing.h"
#include "transcription/TranscriptConversationGrouper.h"
#include "transcription/TranscriptCueSearch.h"
#include "transcription/TranscriptionLocaleMatcher.h"

namespace tavrolin {

struct TranscriptionWorkspaceAvailability {
    enum class Kind { unavailable, checking, available };
    Kind kind = Kind::checking;
    std::string message;  // for unavailable

    friend bool operator==(const TranscriptionWorkspaceAvailability&,
                           const TranscriptionWorkspaceAvailability&) = default;
};

// What one inspection found out about a file.
struct SourceInspection {
    std::vector<MediaStream> streams;
    std::vector<ChapterMarker> chapters;
    std::optional<double> duration;
    std::optional<FileIdentity> identity;
};

// One position of a batch run that is to be transcribed.
struct TranscriptionRunStep {
    Uuid sourceID;
    std::filesystem::path url;
    std::int64_t audioStreamIndex = 0;
    std::string localeIdentifier;
    std::optional<double> mediaDuration;
};

// The transcripts of every source at one cue revision, for the search across all transcripts on a
// worker thread. The lists are shared and never changed: a later snapshot shares the lists of the
// sources whose cues have not changed since, and a search stores the folded cue texts it made so
// the next query does not fold them again.
struct TranscriptSearchSnapshot {
    struct Source {
        Uuid id;
        std::filesystem::path url;
        std::uint64_t cueRevision = 0;
        std::shared_ptr<const std::vector<SubtitleCue>> cues;
        // The cue texts folded for the search, once a search made them.
        std::shared_ptr<const std::vector<std::string>> foldedTexts;
    };
    std::uint64_t cueRevision = 0;
    std::vector<Source> sources;

    // Takes the folded texts that `searched` (a later copy of this snapshot) made for sources
    // whose cues are unchanged.
    void adoptFoldedTexts(const TranscriptSearchSnapshot& searched);
};

// Every cue of the snapshot that matches `query` by the transcript search rule, in source and
// cue order; none when the query trims to empty. Folds the texts of sources that lack them into
// `snapshot`. A stop ends the search early with the hits found so far. Any thread.
std::vector<BatchTranscriptSearchResult> searchTranscripts(TranscriptSearchSnapshot& snapshot,
                                                           std::string_view query,
                                                           const std::stop_token& stop);

// The state of the Transcribe workspace and every rule that needs no task: sources, selection
// and the mirrors of the selected source, languages, inspection and run bookkeeping, timing,
// chapters, export readiness and requests, and summary bookkeeping. The view model owns one and
// runs the tasks around it. Not thread-safe: the GUI thread only. Holds no task; it calls
// `onResetConversationSummaries` so its owner can stop a running summary task.
class TranscriptionWorkspaceState {
  public:
    // The recogniser's measured lead: its word times here are exact (first words 0.01-0.09 s
    // early), so cues start where it says.
    static constexpr double defaultTimingOffset = 0.0;
    static constexpr double offsetTolerance = 0.0001;
    static constexpr std::size_t chapterTitleLimit = 72;
    static inline const std::string lastLocaleKey = "transcription.lastLocaleIdentifier";
    static inline const std::string normalizationVersionKey =
        "transcription.localeIdentifierNormalizationVersion";

    explicit TranscriptionWorkspaceState(std::shared_ptr<PreferencesStore> preferences);

    // Published fields.
    TranscriptionWorkspaceAvailability availability;
    std::vector<BatchTranscriptionSource> sources;
    std::optional<Uuid> selectedSourceID;
    std::optional<Uuid> currentTranscriptionSourceID;
    int batchCompletedCount = 0;
    int batchTotalCount = 0;
    std::optional<std::int64_t> requestedCueID;
    std::set<Uuid> selectedExportSourceIDs;
    bool replaceOriginalsDuringBatchExport = false;
    std::vector<TranscriptionLocale> locales;
    bool isTranscribing = false;
    bool isCancellingTranscription = false;
    std::optional<TranscriptionProgress> progress;
    double subtitleTimingOffset = 0;
    std::string transcriptSearch;
    std::string batchTranscriptSearch;
    // Raised whenever a source is added or removed or any source's cues change, so the search
    // across all transcripts knows to run again.
    std::uint64_t cueRevision = 0;
    std::map<std::int64_t, std::string> conversationSummaries;
    bool isSummarizingConversations = false;
    std::optional<std::string> conversationSummaryNotice;
    std::optional<std::string> message;
    std::optional<std::string> errorMessage;
    std::vector<Uuid> transcriptionQueue;
    std::map<std::int64_t, std::uint64_t> conversationSummaryFingerprints;
    std::function<void()> onResetConversationSummaries;

    // Mirrors of the selected source; every setter writes back as the workspace rules say.
    const std::optional<std::int64_t>& selectedAudioStreamIndex() const { return audioIndex_; }
    const std::string& selectedLocaleIdentifier() const { return localeIdentifier_; }
    const std::vector<SubtitleCue>& cues() const { return cues_; }
    const std::vector<ChapterMarker>& chapters() const { return chapters_; }
    OutputContainer mediaOutputContainer() const { return container_; }
    void setSelectedAudioStreamIndex(std::optional<std::int64_t> index);
    void setSelectedLocaleIdentifier(const std::string& identifier);
    void setCues(std::vector<SubtitleCue> cues);
    void setChapters(std::vector<ChapterMarker> chapters);
    void setMediaOutputContainer(OutputContainer container);
    void reloadSelectedSourceState();

    // Derived values.
    const BatchTranscriptionSource* selectedSource() const;
    const BatchTranscriptionSource* source(const Uuid& id) const;
    int transcribableSourceCount() const;
    bool canTranscribeAllSources() const;
    bool isSelectedSourceBeingTranscribed() const;
    bool isSelectedSourceQueuedOrTranscribing() const;
    std::optional<double> batchProgressFraction() const;
    std::optional<std::string> batchProgressText() const;
    bool canTranscribeSelectedSource() const;
    std::optional<std::string> progressTitle() const;
    std::vector<SubtitleCue> filteredCues() const;
    int transcriptSearchMatchCount() const;
    bool isSearchingTranscript() const;
    bool isSearchingAllTranscripts() const;
    std::uint64_t conversationFingerprint() const;
    int transcribedSourceCount() const;
    std::vector<TranscriptConversation> conversations() const;
    // The sources' transcripts now, sharing `previous`'s lists where the cues are unchanged.
    TranscriptSearchSnapshot transcriptSearchSnapshot(
        const TranscriptSearchSnapshot& previous) const;

    // Sources, selection and spoken language. `addSources` returns true when any was added.
    bool addSources(const std::vector<std::filesystem::path>& urls);
    std::optional<std::string> preferredLocaleIdentifier(
        const std::vector<TranscriptionLocale>& supported);
    void matchLocaleToSelectedAudioStream();
    void selectSource(const Uuid& id);
    void openSearchResult(const BatchTranscriptSearchResult& result);
    // False when refused during a run; the caller then leaves inspection alone.
    bool removeSource(const Uuid& id);
    void applySelectedLanguageToAllSources();
    bool canExportSource(const Uuid& id) const;
    void setExportSelection(bool isSelected, const Uuid& id);
    void selectAllExportableSources();
    void applyCapabilityResult(const TranscriptionCapability& capability);

    // Inspection: the next pending source (now inspecting), the outcomes, and a stopped one.
    std::optional<std::pair<Uuid, std::filesystem::path>> beginNextInspection();
    bool hasPendingInspection() const;
    void applyInspection(const Uuid& id, const SourceInspection& inspection);
    void failInspection(const Uuid& id, const std::string& failure);
    void returnToPendingInspection(const Uuid& id);
    // A replaced original must be inspected again before its next export: the sources under
    // its name, or leading to `before`, the file it was when its replacement was queued.
    void markForInspection(const std::filesystem::path& file,
                           const std::optional<FileIdentity>& before);

    // Batch run. `beginRunPosition` fails a position that lacks a stream or language and then
    // returns none; the caller moves on while `position` < transcriptionQueue.size().
    bool startTranscription(const std::vector<Uuid>& ids);
    bool addSelectedSourceToTranscriptionQueue(const Uuid& id);
    std::vector<Uuid> readySourceIDs() const;
    std::optional<TranscriptionRunStep> beginRunPosition(std::size_t position);
    void completeRunPosition(const Uuid& id, const std::vector<TranscriptFragment>& fragments);
    void failRunPosition(const Uuid& id, const std::string& failure);
    void cancelRunPosition(const Uuid& id);
    // A run stopped between positions: only the notice.
    void noteRunCancelled();
    void finishTranscriptionBatch(bool wasCancelled);
    // False when there is no run to cancel.
    bool cancelTranscription();
    void applyTranscriptionProgress(const Uuid& id, const TranscriptionProgress& value);
    void clearSelectedTranscript();
    void resetConversationSummaries();

    // Subtitle file export and timing.
    std::optional<std::string> subtitleExportSuggestedName() const;
    // The selected transcript as exported: no cue ends after the end of the media.
    std::vector<SubtitleCue> subtitleExportCues() const;
    void applySubtitleTimingOffset(double shift);
    std::string subtitleTimingOffsetText() const;
    void applySubtitleTimingOffsetToCompletedSources();
    static std::string offsetText(double offset);

    // Chapters.
    void addChapterAtCue(const SubtitleCue& cue);
    void removeChapter(const Uuid& id);
    bool hasChapter(double time) const;
    static std::optional<std::string> chapterValidationMessage(
        const std::vector<ChapterMarker>& chapters);
    static std::string formatTimestamp(double seconds);

    // Media export. `pendingReplacements` are the inputs whose replacement is queued or
    // running; `completedReplacements` those replaced in this session.
    std::set<FileIdentity> pendingReplacements;
    std::set<FileIdentity> completedReplacements;
    // Whether a queued or running job writes a file: such an output is refused as an existing
    // one (the queue's `outputClaim`); none claims nothing.
    std::function<OutputClaim(const std::filesystem::path&)> outputClaimed;
    // The queue's jobs changed: an errorMessage that refused a claimed output names the job as
    // it now is, and goes once no job claims that output.
    void followClaims();
    // What the owner last found on the disk, off the GUI thread, about the outputs it asked
    // about (`mediaExportFiles`, `batchMediaOutputs`): whether a name exists (a dangling link
    // too) and which file it leads to. None finds nothing; the state itself never looks.
    std::function<bool(const std::filesystem::path&)> outputExists;
    std::function<std::optional<FileIdentity>(const std::filesystem::path&)> outputIdentity;
    std::optional<std::string> mediaExportIssue(const BatchTranscriptionSource& source,
                                                OutputContainer container) const;
    std::optional<std::string> mediaExportBlocker() const;
    std::optional<std::string> batchMediaExportBlocker() const;
    std::filesystem::path batchExportOutputURL(const BatchTranscriptionSource& source,
                                               OutputContainer container) const;
    std::optional<std::string> mediaExportSuggestedName() const;
    // The names whose existence and identity decide a single export to `destination`: the
    // destination and the selected source.
    std::vector<std::filesystem::path> mediaExportFiles(
        const std::filesystem::path& destination) const;
    // The outputs of the marked sources whose container is known, in source order.
    std::vector<std::filesystem::path> batchMediaOutputs() const;
    // The request for the chosen destination, or none with errorMessage set.
    std::optional<TranscriptionMediaRequest> selectedMediaRequest(
        const std::filesystem::path& destination);
    // All marked sources' requests, or none with errorMessage set.
    std::optional<std::vector<TranscriptionMediaRequest>> batchMediaRequests();
    void noteMediaQueued(std::size_t count, const std::filesystem::path& singleDestination,
                         bool isBatch);

    // Conversation summaries: the conversations to summarise (none when nothing runs), each
    // outcome, and the end of a run.
    std::vector<TranscriptConversation> beginConversationSummaries(
        bool force, const ConversationSummaryAvailability& availability);
    std::string conversationSummaryText(const TranscriptConversation& conversation) const;
    // True when the summary was kept.
    bool applyConversationSummary(const TranscriptConversation& conversation,
                                  const std::string& summary);
    // A failed summary: the card shows the conversation's current dialogue instead of an
    // earlier summary, and the run's notice gives the first reason.
    void failConversationSummary(const TranscriptConversation& conversation,
                                 const std::string& reason);
    void finishConversationSummaries(int summarized, int fallbacks, bool wasCancelled);

  private:
    void noteCuesChanged(const Uuid& id);
    std::uint64_t sourceCueRevision(const Uuid& id) const;
    // The subtitle renderer's objection to a source's cues, if any. The check renders the whole
    // transcript, and the export controls ask on every redraw: for a source of `sources` the
    // verdict is kept until its cues change.
    std::optional<std::string> cueRenderIssue(const BatchTranscriptionSource& source) const;
    BatchTranscriptionSource* mutableSource(const Uuid& id);
    BatchTranscriptionSource* mutableSelectedSource();
    void storeLocaleInSelectedSource();
    std::optional<OutputContainer> batchContainer(const BatchTranscriptionSource& source) const;
    TranscriptionMediaRequest makeRequest(const BatchTranscriptionSource& source,
                                          OutputContainer container,
                                          const std::filesystem::path& output,
                                          bool replacesInput) const;
    std::optional<std::string> replacementRefusal(const BatchTranscriptionSource& source) const;
    bool knownToExist(const std::filesystem::path& file) const;
    std::optional<FileIdentity> knownIdentity(const std::filesystem::path& file) const;
    // The sentence that refuses `output` while a job claims it.
    std::optional<std::string> claimRefusal(const std::filesystem::path& output) const;

    std::shared_ptr<PreferencesStore> preferences_;
    std::optional<std::int64_t> audioIndex_;
    std::string localeIdentifier_;
    std::vector<SubtitleCue> cues_;
    std::vector<ChapterMarker> chapters_;
    OutputContainer container_ = OutputContainer::mkv;
    bool isLoadingSelectedSource_ = false;
    int runSucceeded_ = 0;
    int runFailed_ = 0;
    // The cue revision at each source's last cue change; a source absent here has never changed.
    std::map<Uuid, std::uint64_t> sourceCueRevisions_;
    mutable std::map<Uuid, std::pair<std::uint64_t, std::optional<std::string>>> cueRenderIssues_;
    // Audio streams and choices of sources read again after a change of their file, so an
    // unchanged layout keeps the user's audio track and language.
    struct EarlierChoice {
        std::vector<MediaStream> audio;
        std::optional<std::int64_t> audioIndex;
        std::string localeIdentifier;
    };
    std::map<Uuid, EarlierChoice> earlierChoices_;
    std::optional<std::string> summaryFailure_;
    // The claimed output that errorMessage refused, with the sentence it shows.
    std::optional<std::pair<std::filesystem::path, std::string>> refusedClaim_;

    SubtitleCueSegmenter segmenter_{84, 6.0, 1.2};
    SubtitleTimingAdjuster adjuster_;
    TranscriptCueSearch search_;
    TranscriptionLocaleMatcher localeMatcher_;
    TranscriptConversationGrouper grouper_;
    StreamCopyCompatibility compatibility_;
};

}  // namespace tavrolin
