#include "transcription/TranscriptionWorkspaceState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "model/TextMetrics.h"
#include "transcription/TranscriptionWorkspaceSupport.h"

namespace tavrolin {

using namespace workspace;

// ---- Batch run -----------------------------------------------------------------------------

bool TranscriptionWorkspaceState::startTranscription(const std::vector<Uuid>& ids) {
    transcriptionQueue = ids;
    transcriptSearch.clear();
    resetConversationSummaries();
    message.reset();
    errorMessage.reset();
    isTranscribing = true;
    isCancellingTranscription = false;
    batchCompletedCount = 0;
    batchTotalCount = static_cast<int>(ids.size());
    runSucceeded_ = 0;
    runFailed_ = 0;
    progress = TranscriptionProgress::preparingLanguageModel();
    for (auto& source : sources) {
        if (std::find(ids.begin(), ids.end(), source.id) != ids.end()) {
            source.status = {BatchTranscriptionSourceStatus::Kind::queued, {}};
            source.progress.reset();
        }
    }
    return true;
}

bool TranscriptionWorkspaceState::addSelectedSourceToTranscriptionQueue(const Uuid& id) {
    auto* source = mutableSource(id);
    if (!isTranscribing || !source ||
        std::find(transcriptionQueue.begin(), transcriptionQueue.end(), id) !=
            transcriptionQueue.end()) {
        return false;
    }
    transcriptionQueue.push_back(id);
    ++batchTotalCount;
    source->status = {BatchTranscriptionSourceStatus::Kind::queued, {}};
    source->progress.reset();
    message = "Added " + fileName(source->url) + " to the transcription queue.";
    errorMessage.reset();
    return true;
}

std::vector<Uuid> TranscriptionWorkspaceState::readySourceIDs() const {
    std::vector<Uuid> ids;
    for (const auto& source : sources) {
        if (isTranscribable(source)) {
            ids.push_back(source.id);
        }
    }
    return ids;
}

std::optional<TranscriptionRunStep> TranscriptionWorkspaceState::beginRunPosition(
    std::size_t position) {
    const Uuid id = transcriptionQueue.at(position);
    auto* source = mutableSource(id);
    if (!source || !source->selectedAudioStreamIndex || source->selectedLocaleIdentifier.empty()) {
        if (source) {
            source->status = BatchTranscriptionSourceStatus::failed(
                "Choose an audio track and spoken language before transcribing.");
            source->progress.reset();
        }
        ++runFailed_;
        ++batchCompletedCount;
        return std::nullopt;
    }
    currentTranscriptionSourceID = id;
    progress = TranscriptionProgress::preparingLanguageModel();
    source->status = {BatchTranscriptionSourceStatus::Kind::transcribing, {}};
    source->progress = progress;
    return TranscriptionRunStep{id, source->url, *source->selectedAudioStreamIndex,
                                source->selectedLocaleIdentifier, source->mediaDuration};
}

void TranscriptionWorkspaceState::completeRunPosition(
    const Uuid& id, const std::vector<TranscriptFragment>& fragments) {
    const auto cues = segmenter_.segment(fragments);
    if (cues.empty()) {
        failRunPosition(id, TranscriptionError::noSpeech().what());
        return;
    }
    const auto shifted = adjuster_.shift(cues, defaultTimingOffset);
    if (auto* source = mutableSource(id)) {
        source->cues = shifted.cues;
        noteCuesChanged(id);
        source->subtitleTimingOffset = shifted.appliedOffset;
        source->status = {BatchTranscriptionSourceStatus::Kind::completed, {}};
        source->progress.reset();
    }
    selectedExportSourceIDs.insert(id);
    if (selectedSourceID == id) {
        reloadSelectedSourceState();
    }
    ++runSucceeded_;
    ++batchCompletedCount;
}

void TranscriptionWorkspaceState::failRunPosition(const Uuid& id, const std::string& failure) {
    if (auto* source = mutableSource(id)) {
        source->status = BatchTranscriptionSourceStatus::failed(failure);
        source->progress.reset();
    }
    if (selectedSourceID == id) {
        errorMessage = failure;
    }
    ++runFailed_;
    ++batchCompletedCount;
}

void TranscriptionWorkspaceState::cancelRunPosition(const Uuid& id) {
    if (auto* source = mutableSource(id)) {
        source->status.kind = source->cues.empty()
                                  ? BatchTranscriptionSourceStatus::Kind::ready
                                  : BatchTranscriptionSourceStatus::Kind::completed;
        source->status.message.clear();
        source->progress.reset();
    }
    noteRunCancelled();
}

void TranscriptionWorkspaceState::noteRunCancelled() {
    message = batchTotalCount > 1 ? "Cancelled batch transcription. Pending files were not started."
                                  : "Transcription cancelled.";
}

void TranscriptionWorkspaceState::finishTranscriptionBatch(bool wasCancelled) {
    for (const auto& id : transcriptionQueue) {
        auto* source = mutableSource(id);
        if (source && source->status.kind == BatchTranscriptionSourceStatus::Kind::queued) {
            source->status.kind = BatchTranscriptionSourceStatus::Kind::ready;
            source->progress.reset();
        }
    }
    isTranscribing = false;
    isCancellingTranscription = false;
    currentTranscriptionSourceID.reset();
    progress.reset();
    transcriptionQueue.clear();
    if (wasCancelled) {
        return;
    }
    const std::string transcribed = "Transcribed " + plural(runSucceeded_, "file");
    message = runFailed_ == 0 ? transcribed + ". Review the results before exporting."
                              : transcribed + "; " + std::to_string(runFailed_) +
                                    " failed. Select a file to review its status.";
}

bool TranscriptionWorkspaceState::cancelTranscription() {
    if (!isTranscribing || isCancellingTranscription) {
        return false;
    }
    isCancellingTranscription = true;
    message = "Cancelling transcription…";
    for (auto& source : sources) {
        if (source.status.kind == BatchTranscriptionSourceStatus::Kind::queued) {
            source.status.kind = BatchTranscriptionSourceStatus::Kind::ready;
            source.progress.reset();
        }
    }
    return true;
}

void TranscriptionWorkspaceState::applyTranscriptionProgress(const Uuid& id,
                                                             const TranscriptionProgress& value) {
    if (!isTranscribing || currentTranscriptionSourceID != id) {
        return;
    }
    progress = value;
    if (auto* source = mutableSource(id)) {
        source->progress = value;
    }
}

void TranscriptionWorkspaceState::clearSelectedTranscript() {
    if (selectedSourceID) {
        selectedExportSourceIDs.erase(*selectedSourceID);
    }
    setCues({});
    subtitleTimingOffset = 0;
    if (auto* selected = mutableSelectedSource()) {
        selected->subtitleTimingOffset = 0;
        selected->status = {BatchTranscriptionSourceStatus::Kind::ready, {}};
    }
    transcriptSearch.clear();
    resetConversationSummaries();
    message.reset();
    errorMessage.reset();
}

void TranscriptionWorkspaceState::resetConversationSummaries() {
    if (onResetConversationSummaries) {
        onResetConversationSummaries();
    }
    conversationSummaries.clear();
    conversationSummaryFingerprints.clear();
    conversationSummaryNotice.reset();
    isSummarizingConversations = false;
}

// ---- Subtitle export and timing ------------------------------------------------------------

std::optional<std::string> TranscriptionWorkspaceState::subtitleExportSuggestedName() const {
    const auto* selected = selectedSource();
    if (!selected || cues_.empty()) {
        return std::nullopt;
    }
    const std::string code =
        localeMatcher_.normalizedLanguageCode(localeIdentifier_).value_or("und");
    return selected->url.stem().string() + "." + code + ".srt";
}

std::vector<SubtitleCue> TranscriptionWorkspaceState::subtitleExportCues() const {
    const auto* selected = selectedSource();
    return adjuster_.endingBy(cues_, selected ? selected->mediaDuration : std::nullopt);
}

std::string TranscriptionWorkspaceState::offsetText(double offset) {
    const double relative = offset - defaultTimingOffset;
    if (std::fabs(relative) < offsetTolerance) {
        return "0.0 s";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f s", relative);
    return text;
}

std::string TranscriptionWorkspaceState::subtitleTimingOffsetText() const {
    return offsetText(subtitleTimingOffset);
}

void TranscriptionWorkspaceState::applySubtitleTimingOffset(double shift) {
    if (cues_.empty()) {
        return;
    }
    auto shifted = adjuster_.shift(cues_, shift);
    if (shifted.appliedOffset == 0) {
        return;
    }
    setCues(std::move(shifted.cues));
    subtitleTimingOffset += shifted.appliedOffset;
    if (auto* selected = mutableSelectedSource()) {
        selected->subtitleTimingOffset = subtitleTimingOffset;
    }
    message = std::fabs(subtitleTimingOffset - defaultTimingOffset) < offsetTolerance
                  ? "Reset subtitle timing to Tavrolin's default."
                  : "Subtitle timing adjustment is " + subtitleTimingOffsetText() +
                        ". Review playback before exporting.";
    errorMessage.reset();
}

void TranscriptionWorkspaceState::applySubtitleTimingOffsetToCompletedSources() {
    const double target = subtitleTimingOffset;
    int moved = 0;
    int clamped = 0;
    for (auto& source : sources) {
        if (source.cues.empty()) {
            continue;
        }
        const double delta = target - source.subtitleTimingOffset;
        ++moved;
        if (delta == 0) {
            continue;
        }
        auto shifted = adjuster_.shift(source.cues, delta);
        source.cues = std::move(shifted.cues);
        noteCuesChanged(source.id);
        if (std::fabs(shifted.appliedOffset - delta) > offsetTolerance) {
            source.subtitleTimingOffset += shifted.appliedOffset;
            ++clamped;
        } else {
            source.subtitleTimingOffset = target;
        }
    }
    reloadSelectedSourceState();
    message = "Applied " + offsetText(target) + " to " + plural(moved, "completed file") + ".";
    if (clamped >= 1) {
        *message +=
            " " + std::to_string(clamped) + " could not be moved before the start of the video.";
    }
    errorMessage.reset();
}

// ---- Conversation summaries ----------------------------------------------------------------

std::vector<TranscriptConversation> TranscriptionWorkspaceState::beginConversationSummaries(
    bool force, const ConversationSummaryAvailability& summaryAvailability) {
    const auto grouped = conversations();
    if (grouped.empty()) {
        resetConversationSummaries();
        return {};
    }
    if (!summaryAvailability.isAvailable) {
        conversationSummaryNotice = summaryAvailability.message;
        return {};
    }
    std::vector<TranscriptConversation> pending;
    for (const auto& conversation : grouped) {
        const auto fingerprint = conversationSummaryFingerprints.find(conversation.id);
        const bool isCurrent = fingerprint != conversationSummaryFingerprints.end() &&
                               fingerprint->second == conversation.contentFingerprint() &&
                               conversationSummaries.contains(conversation.id);
        if (force || !isCurrent) {
            pending.push_back(conversation);
        }
    }
    if (pending.empty()) {
        conversationSummaryNotice = "Conversation summaries are up to date.";
        return {};
    }
    isSummarizingConversations = true;
    summaryFailure_.reset();
    conversationSummaryNotice = "Summarizing " +
                                plural(static_cast<int>(pending.size()), "conversation") +
                                " on this computer…";
    return pending;
}

std::string TranscriptionWorkspaceState::conversationSummaryText(
    const TranscriptConversation& conversation) const {
    const auto found = conversationSummaries.find(conversation.id);
    return found != conversationSummaries.end() ? found->second : conversation.previewText();
}

bool TranscriptionWorkspaceState::applyConversationSummary(
    const TranscriptConversation& conversation, const std::string& summary) {
    for (const auto& current : conversations()) {
        if (current.id == conversation.id) {
            if (current.contentFingerprint() != conversation.contentFingerprint()) {
                return false;
            }
            conversationSummaries[conversation.id] = summary;
            conversationSummaryFingerprints[conversation.id] = conversation.contentFingerprint();
            return true;
        }
    }
    return false;
}

void TranscriptionWorkspaceState::failConversationSummary(
    const TranscriptConversation& conversation, const std::string& reason) {
    conversationSummaries.erase(conversation.id);
    conversationSummaryFingerprints.erase(conversation.id);
    if (!summaryFailure_) {
        summaryFailure_ = reason;
    }
}

void TranscriptionWorkspaceState::finishConversationSummaries(int summarized, int fallbacks,
                                                              bool wasCancelled) {
    isSummarizingConversations = false;
    const auto failure = std::exchange(summaryFailure_, std::nullopt);
    if (wasCancelled) {
        return;
    }
    const std::string done = "Summarized " + plural(summarized, "conversation");
    if (fallbacks == 0) {
        conversationSummaryNotice = done + " with the on-device language model.";
        return;
    }
    conversationSummaryNotice =
        done + "; " + std::to_string(fallbacks) +
        (fallbacks == 1 ? " shows its dialogue preview." : " show their dialogue previews.");
    if (failure) {
        *conversationSummaryNotice +=
            " " + *failure +
            " Make sure the local language model server is running, then choose Refresh "
            "Summaries.";
    }
}

}  // namespace tavrolin
