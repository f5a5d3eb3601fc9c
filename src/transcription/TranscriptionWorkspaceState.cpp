#include "transcription/TranscriptionWorkspaceState.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>

#include "engine/SubtitleDocumentRenderer.h"
#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

std::string fileName(const std::filesystem::path& file) {
    return file.filename().string();
}

std::filesystem::path standardized(const std::filesystem::path& file) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(file, error);
    return (error ? file : absolute).lexically_normal();
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return lowercased(a) == lowercased(b);
}

bool isSupported(const std::vector<TranscriptionLocale>& locales, const std::string& identifier) {
    return std::any_of(locales.begin(), locales.end(), [&](const TranscriptionLocale& locale) {
        return equalsIgnoringCase(locale.identifier, identifier);
    });
}

std::optional<MediaStream> streamWithIndex(const BatchTranscriptionSource& source,
                                           std::optional<std::int64_t> index) {
    if (!index) {
        return std::nullopt;
    }
    for (const auto& stream : source.audioStreams) {
        if (stream.index == *index) {
            return stream;
        }
    }
    return std::nullopt;
}

bool isInspecting(const BatchTranscriptionSource& source) {
    using Kind = BatchTranscriptionSourceStatus::Kind;
    return source.status.kind == Kind::pendingInspection || source.status.kind == Kind::inspecting;
}

bool isTranscribable(const BatchTranscriptionSource& source) {
    return source.cues.empty() && source.selectedAudioStreamIndex &&
           !source.selectedLocaleIdentifier.empty() && !isInspecting(source);
}

// Whole milliseconds, halves away from zero; none when the count does not fit.
std::optional<std::int64_t> milliseconds(double seconds) {
    const double scaled = std::round(seconds * 1000.0);
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(scaled);
}

std::string plural(int count, const std::string& word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

void hashCombine(std::uint64_t& seed, std::uint64_t value) {
    seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
}

std::vector<ChapterMarker> sortedChapters(std::vector<ChapterMarker> chapters) {
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const auto& a, const auto& b) { return a.startTime < b.startTime; });
    return chapters;
}

}  // namespace

TranscriptionWorkspaceState::TranscriptionWorkspaceState(
    std::shared_ptr<PreferencesStore> preferences)
    : preferences_(std::move(preferences)) {}

// ---- Mirrors -------------------------------------------------------------------------------

BatchTranscriptionSource* TranscriptionWorkspaceState::mutableSource(const Uuid& id) {
    for (auto& source : sources) {
        if (source.id == id) {
            return &source;
        }
    }
    return nullptr;
}

BatchTranscriptionSource* TranscriptionWorkspaceState::mutableSelectedSource() {
    return selectedSourceID ? mutableSource(*selectedSourceID) : nullptr;
}

const BatchTranscriptionSource* TranscriptionWorkspaceState::source(const Uuid& id) const {
    for (const auto& candidate : sources) {
        if (candidate.id == id) {
            return &candidate;
        }
    }
    return nullptr;
}

const BatchTranscriptionSource* TranscriptionWorkspaceState::selectedSource() const {
    return selectedSourceID ? source(*selectedSourceID) : nullptr;
}

void TranscriptionWorkspaceState::setSelectedAudioStreamIndex(std::optional<std::int64_t> index) {
    audioIndex_ = index;
    if (isLoadingSelectedSource_) {
        return;
    }
    if (auto* selected = mutableSelectedSource()) {
        selected->selectedAudioStreamIndex = index;
    }
    matchLocaleToSelectedAudioStream();
}

void TranscriptionWorkspaceState::setSelectedLocaleIdentifier(const std::string& identifier) {
    localeIdentifier_ = identifier;
    storeLocaleInSelectedSource();
}

void TranscriptionWorkspaceState::storeLocaleInSelectedSource() {
    if (!isLoadingSelectedSource_) {
        if (auto* selected = mutableSelectedSource()) {
            selected->selectedLocaleIdentifier = localeIdentifier_;
        }
    }
    if (!localeIdentifier_.empty() && isSupported(locales, localeIdentifier_)) {
        preferences_->setString(lastLocaleKey, localeIdentifier_);
    }
}

void TranscriptionWorkspaceState::setCues(std::vector<SubtitleCue> cues) {
    cues_ = std::move(cues);
    if (auto* selected = isLoadingSelectedSource_ ? nullptr : mutableSelectedSource()) {
        selected->cues = cues_;
    }
}

void TranscriptionWorkspaceState::setChapters(std::vector<ChapterMarker> chapters) {
    chapters_ = std::move(chapters);
    if (auto* selected = isLoadingSelectedSource_ ? nullptr : mutableSelectedSource()) {
        selected->chapters = chapters_;
    }
}

void TranscriptionWorkspaceState::setMediaOutputContainer(OutputContainer container) {
    container_ = container;
    if (auto* selected = isLoadingSelectedSource_ ? nullptr : mutableSelectedSource()) {
        selected->mediaOutputContainer = container;
    }
}

void TranscriptionWorkspaceState::reloadSelectedSourceState() {
    isLoadingSelectedSource_ = true;
    if (const auto* selected = selectedSource()) {
        const BatchTranscriptionSource copy = *selected;
        setSelectedAudioStreamIndex(copy.selectedAudioStreamIndex);
        setSelectedLocaleIdentifier(copy.selectedLocaleIdentifier);
        setCues(copy.cues);
        subtitleTimingOffset = copy.subtitleTimingOffset;
        setChapters(copy.chapters);
        setMediaOutputContainer(copy.mediaOutputContainer);
        resetConversationSummaries();
        errorMessage = copy.status.kind == BatchTranscriptionSourceStatus::Kind::failed
                           ? std::optional(copy.status.message)
                           : std::nullopt;
    } else {
        setSelectedAudioStreamIndex(std::nullopt);
        setCues({});
        subtitleTimingOffset = 0.0;
        setChapters({});
        setMediaOutputContainer(OutputContainer::mkv);
        resetConversationSummaries();
        progress.reset();
        message.reset();
        errorMessage.reset();
    }
    isLoadingSelectedSource_ = false;
}

// ---- Derived values ------------------------------------------------------------------------

int TranscriptionWorkspaceState::transcribableSourceCount() const {
    return static_cast<int>(std::count_if(sources.begin(), sources.end(), isTranscribable));
}

bool TranscriptionWorkspaceState::canTranscribeAllSources() const {
    return availability.kind == TranscriptionWorkspaceAvailability::Kind::available &&
           transcribableSourceCount() > 0 && !isTranscribing;
}

bool TranscriptionWorkspaceState::isSelectedSourceBeingTranscribed() const {
    return selectedSourceID && selectedSourceID == currentTranscriptionSourceID;
}

bool TranscriptionWorkspaceState::isSelectedSourceQueuedOrTranscribing() const {
    using Kind = BatchTranscriptionSourceStatus::Kind;
    const auto* selected = selectedSource();
    return selected &&
           (selected->status.kind == Kind::queued || selected->status.kind == Kind::transcribing);
}

std::optional<double> TranscriptionWorkspaceState::batchProgressFraction() const {
    if (batchTotalCount < 1) {
        return std::nullopt;
    }
    return static_cast<double>(batchCompletedCount) / static_cast<double>(batchTotalCount);
}

std::optional<std::string> TranscriptionWorkspaceState::batchProgressText() const {
    if (batchTotalCount < 2) {
        return std::nullopt;
    }
    const int current =
        std::min(batchCompletedCount + (currentTranscriptionSourceID ? 1 : 0), batchTotalCount);
    return "File " + std::to_string(current) + " of " + std::to_string(batchTotalCount);
}

bool TranscriptionWorkspaceState::canTranscribeSelectedSource() const {
    const auto* selected = selectedSource();
    return availability.kind == TranscriptionWorkspaceAvailability::Kind::available && selected &&
           audioIndex_ && !localeIdentifier_.empty() && !isInspecting(*selected) &&
           !isSelectedSourceQueuedOrTranscribing() && !isCancellingTranscription;
}

std::optional<std::string> TranscriptionWorkspaceState::progressTitle() const {
    if (isSelectedSourceBeingTranscribed() && isCancellingTranscription) {
        return "Cancelling transcription…";
    }
    const auto* selected = selectedSource();
    if (!selected || !selected->progress) {
        return std::nullopt;
    }
    switch (selected->progress->stage) {
        case TranscriptionProgress::Stage::preparingAudio:
            return "Decoding the selected audio stream locally…";
        case TranscriptionProgress::Stage::transcribing:
            return "Transcribing speech on this computer…";
        case TranscriptionProgress::Stage::preparingLanguageModel:
            return "Preparing the on-device language model…";
    }
    return std::nullopt;
}

std::vector<SubtitleCue> TranscriptionWorkspaceState::filteredCues() const {
    return search_.filter(cues_, trimWhitespace(transcriptSearch));
}

int TranscriptionWorkspaceState::transcriptSearchMatchCount() const {
    return static_cast<int>(filteredCues().size());
}

bool TranscriptionWorkspaceState::isSearchingTranscript() const {
    return !trimWhitespace(transcriptSearch).empty();
}

bool TranscriptionWorkspaceState::isSearchingAllTranscripts() const {
    return sources.size() >= 2 && !trimWhitespace(batchTranscriptSearch).empty();
}

std::vector<TranscriptConversation> TranscriptionWorkspaceState::conversations() const {
    return grouper_.group(cues_);
}

std::uint64_t TranscriptionWorkspaceState::conversationFingerprint() const {
    std::uint64_t seed = 0;
    for (const auto& conversation : conversations()) {
        hashCombine(seed, static_cast<std::uint64_t>(conversation.id));
        hashCombine(seed, conversation.contentFingerprint());
    }
    return seed;
}

int TranscriptionWorkspaceState::transcribedSourceCount() const {
    return static_cast<int>(std::count_if(sources.begin(), sources.end(),
                                          [](const auto& source) { return !source.cues.empty(); }));
}

// ---- Sources, selection, language ----------------------------------------------------------

bool TranscriptionWorkspaceState::addSources(const std::vector<std::filesystem::path>& urls) {
    std::set<std::filesystem::path> knownPaths;
    std::set<FileIdentity> knownFiles;
    for (const auto& existing : sources) {
        knownPaths.insert(standardized(existing.url));
        if (const auto identity = fileIdentity(existing.url)) {
            knownFiles.insert(*identity);
        }
    }
    std::vector<std::filesystem::path> added;
    for (const auto& url : urls) {
        if (url.empty() || url.extension().string().size() < 2) {
            continue;
        }
        const auto path = standardized(url);
        const auto identity = fileIdentity(path);
        if (knownPaths.contains(path) || (identity && knownFiles.contains(*identity))) {
            continue;
        }
        knownPaths.insert(path);
        if (identity) {
            knownFiles.insert(*identity);
        }
        added.push_back(url);
    }
    if (added.empty()) {
        return false;
    }
    const std::string preferred = preferredLocaleIdentifier(locales).value_or(localeIdentifier_);
    for (const auto& url : added) {
        BatchTranscriptionSource source;
        source.id = Uuid::random();
        source.url = url;
        source.selectedLocaleIdentifier = preferred;
        source.mediaOutputContainer = containerForFile(url).value_or(OutputContainer::mkv);
        sources.push_back(std::move(source));
    }
    if (!selectedSourceID) {
        selectedSourceID = sources.front().id;
        reloadSelectedSourceState();
    }
    if (isTranscribing) {
        const int count = static_cast<int>(added.size());
        message = "Added " + plural(count, "file") + ". Inspecting " +
                  (count == 1 ? "it" : "them") + " while the current transcription continues.";
        errorMessage.reset();
    }
    return true;
}

std::optional<std::string> TranscriptionWorkspaceState::preferredLocaleIdentifier(
    const std::vector<TranscriptionLocale>& supported) {
    const auto normalized = &TranscriptionLocaleMatcher::normalizedIdentifier;
    const auto stored = preferences_->string(lastLocaleKey);
    const auto fallback = [&]() -> std::optional<std::string> {
        const auto locale = localeMatcher_.defaultLocale(supported);
        return locale ? std::optional(locale->identifier) : std::nullopt;
    };
    if (!stored) {
        // An empty list has nothing to settle yet; the marker waits for real locales.
        if (!supported.empty()) {
            preferences_->setString(normalizationVersionKey, "1");
        }
        return fallback();
    }
    const bool migrated = preferences_->string(normalizationVersionKey).value_or("0") == "1";
    if (!migrated && normalized(*stored) == "en-au") {
        for (const auto& locale : supported) {
            if (normalized(locale.identifier) == "en-us") {
                preferences_->setString(lastLocaleKey, locale.identifier);
                preferences_->setString(normalizationVersionKey, "1");
                return locale.identifier;
            }
        }
    }
    if (!supported.empty()) {
        preferences_->setString(normalizationVersionKey, "1");
    }
    for (const auto& locale : supported) {
        if (normalized(locale.identifier) == normalized(*stored)) {
            return locale.identifier;
        }
    }
    return fallback();
}

void TranscriptionWorkspaceState::matchLocaleToSelectedAudioStream() {
    const auto* selected = selectedSource();
    if (!selected) {
        return;
    }
    const auto stream = streamWithIndex(*selected, audioIndex_);
    const std::string preferred = preferences_->string(lastLocaleKey).value_or(localeIdentifier_);
    if (const auto candidate = localeMatcher_.bestLocaleIdentifier(stream, locales, preferred)) {
        setSelectedLocaleIdentifier(*candidate);
    }
}

void TranscriptionWorkspaceState::selectSource(const Uuid& id) {
    if (!source(id) || selectedSourceID == id) {
        return;
    }
    selectedSourceID = id;
    requestedCueID.reset();
    reloadSelectedSourceState();
}

void TranscriptionWorkspaceState::openSearchResult(const BatchTranscriptSearchResult& result) {
    selectSource(result.sourceID);
    batchTranscriptSearch.clear();
    transcriptSearch.clear();
    requestedCueID = result.cue.id;
}

bool TranscriptionWorkspaceState::removeSource(const Uuid& id) {
    if (isTranscribing) {
        return false;
    }
    const auto found =
        std::find_if(sources.begin(), sources.end(), [&](const auto& s) { return s.id == id; });
    if (found != sources.end()) {
        sources.erase(found);
    }
    selectedExportSourceIDs.erase(id);
    if (selectedSourceID == id) {
        selectedSourceID = sources.empty() ? std::nullopt : std::optional<Uuid>(sources.front().id);
        reloadSelectedSourceState();
    }
    transcriptSearch.clear();
    message.reset();
    errorMessage.reset();
    return true;
}

void TranscriptionWorkspaceState::applySelectedLanguageToAllSources() {
    if (isTranscribing || !isSupported(locales, localeIdentifier_)) {
        return;
    }
    for (auto& source : sources) {
        source.selectedLocaleIdentifier = localeIdentifier_;
    }
    message = "Applied " + localeIdentifier_ + " to " + std::to_string(sources.size()) + " files.";
    errorMessage.reset();
}

bool TranscriptionWorkspaceState::canExportSource(const Uuid& id) const {
    const auto* found = source(id);
    return found && !found->cues.empty();
}

void TranscriptionWorkspaceState::setExportSelection(bool isSelected, const Uuid& id) {
    if (isSelected && canExportSource(id)) {
        selectedExportSourceIDs.insert(id);
    } else {
        selectedExportSourceIDs.erase(id);
    }
}

void TranscriptionWorkspaceState::selectAllExportableSources() {
    selectedExportSourceIDs.clear();
    for (const auto& source : sources) {
        if (!source.cues.empty()) {
            selectedExportSourceIDs.insert(source.id);
        }
    }
}

void TranscriptionWorkspaceState::applyCapabilityResult(const TranscriptionCapability& capability) {
    if (!capability.isAvailable()) {
        locales.clear();
        // Only the workspace's choice empties; the sources keep their languages.
        const bool wasLoading = isLoadingSelectedSource_;
        isLoadingSelectedSource_ = true;
        setSelectedLocaleIdentifier("");
        isLoadingSelectedSource_ = wasLoading;
        availability = {TranscriptionWorkspaceAvailability::Kind::unavailable,
                        *capability.unavailableMessage};
        return;
    }
    locales = capability.locales;
    const std::string preferred = preferredLocaleIdentifier(locales).value_or("");
    for (auto& source : sources) {
        if (!source.selectedLocaleIdentifier.empty()) {
            continue;
        }
        const auto stream = streamWithIndex(source, source.selectedAudioStreamIndex);
        source.selectedLocaleIdentifier =
            localeMatcher_.bestLocaleIdentifier(stream, locales, preferred).value_or(preferred);
    }
    if (!selectedSourceID) {
        setSelectedLocaleIdentifier(preferred);
    } else {
        reloadSelectedSourceState();
    }
    availability = {TranscriptionWorkspaceAvailability::Kind::available, {}};
}

// ---- Inspection ----------------------------------------------------------------------------

bool TranscriptionWorkspaceState::hasPendingInspection() const {
    return std::any_of(sources.begin(), sources.end(), [](const auto& source) {
        return source.status.kind == BatchTranscriptionSourceStatus::Kind::pendingInspection;
    });
}

std::optional<std::pair<Uuid, std::filesystem::path>>
TranscriptionWorkspaceState::beginNextInspection() {
    for (auto& source : sources) {
        if (source.status.kind == BatchTranscriptionSourceStatus::Kind::pendingInspection) {
            source.status.kind = BatchTranscriptionSourceStatus::Kind::inspecting;
            source.status.message.clear();
            return std::pair{source.id, source.url};
        }
    }
    return std::nullopt;
}

void TranscriptionWorkspaceState::applyInspection(const Uuid& id,
                                                  const SourceInspection& inspection) {
    static const std::string noAudio = "No audio streams were found in this file.";
    std::vector<MediaStream> audio;
    std::copy_if(inspection.streams.begin(), inspection.streams.end(), std::back_inserter(audio),
                 [](const MediaStream& stream) { return stream.kind == MediaStreamKind::audio; });
    std::optional<MediaStream> chosen;
    const auto flagged = std::find_if(audio.begin(), audio.end(),
                                      [](const MediaStream& stream) { return stream.isDefault; });
    if (flagged != audio.end()) {
        chosen = *flagged;
    } else if (!audio.empty()) {
        chosen = audio.front();
    }
    const auto preferred = preferredLocaleIdentifier(locales);
    const std::string language = localeMatcher_.bestLocaleIdentifier(chosen, locales, preferred)
                                     .value_or(preferred.value_or(""));
    auto* source = mutableSource(id);
    if (!source) {
        return;
    }
    source->sourceStreams = inspection.streams;
    source->audioStreams = audio;
    source->mediaDuration = inspection.duration;
    source->selectedAudioStreamIndex =
        chosen ? std::optional<std::int64_t>(chosen->index) : std::nullopt;
    source->selectedLocaleIdentifier = language;
    source->chapters = inspection.chapters;
    source->status = audio.empty() ? BatchTranscriptionSourceStatus::failed(noAudio)
                                   : BatchTranscriptionSourceStatus{};
    if (!audio.empty()) {
        source->status.kind = BatchTranscriptionSourceStatus::Kind::ready;
    }
    if (selectedSourceID == id) {
        reloadSelectedSourceState();
        if (audio.empty()) {
            errorMessage = noAudio;
        }
    }
}

void TranscriptionWorkspaceState::failInspection(const Uuid& id, const std::string& failure) {
    auto* source = mutableSource(id);
    if (!source) {
        return;
    }
    source->status = BatchTranscriptionSourceStatus::failed(failure);
    if (selectedSourceID == id) {
        reloadSelectedSourceState();
        errorMessage = failure;
    }
}

void TranscriptionWorkspaceState::returnToPendingInspection(const Uuid& id) {
    if (auto* source = mutableSource(id)) {
        source->status = BatchTranscriptionSourceStatus{};
    }
}

void TranscriptionWorkspaceState::markForInspection(const std::filesystem::path& file) {
    const auto identity = fileIdentity(file);
    for (auto& source : sources) {
        const auto sourceIdentity = fileIdentity(source.url);
        const bool same = standardized(source.url) == standardized(file) ||
                          (identity && sourceIdentity && *identity == *sourceIdentity);
        if (same && !isInspecting(source) &&
            source.status.kind != BatchTranscriptionSourceStatus::Kind::queued &&
            source.status.kind != BatchTranscriptionSourceStatus::Kind::transcribing) {
            source.sourceStreams.clear();
            source.audioStreams.clear();
            source.status = BatchTranscriptionSourceStatus{};
        }
    }
}

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

// ---- Chapters ------------------------------------------------------------------------------

void TranscriptionWorkspaceState::addChapterAtCue(const SubtitleCue& cue) {
    if (hasChapter(cue.startTime)) {
        message = "A chapter marker already exists at this cue.";
        return;
    }
    std::string title = graphemePrefix(collapseWhitespace(cue.text), chapterTitleLimit);
    if (title.empty()) {
        title = "Chapter " + std::to_string(chapters_.size() + 1);
    }
    auto updated = chapters_;
    updated.push_back(ChapterMarker{Uuid::random(), cue.startTime, title});
    setChapters(updated);
    setChapters(sortedChapters(chapters_));
    message = "Added a chapter at " + formatTimestamp(cue.startTime) + ".";
    errorMessage.reset();
}

void TranscriptionWorkspaceState::removeChapter(const Uuid& id) {
    auto updated = chapters_;
    std::erase_if(updated, [&](const ChapterMarker& chapter) { return chapter.id == id; });
    setChapters(std::move(updated));
}

bool TranscriptionWorkspaceState::hasChapter(double time) const {
    const auto target = milliseconds(time);
    return target && std::any_of(chapters_.begin(), chapters_.end(), [&](const auto& chapter) {
               return milliseconds(chapter.startTime) == target;
           });
}

std::optional<std::string> TranscriptionWorkspaceState::chapterValidationMessage(
    const std::vector<ChapterMarker>& chapters) {
    for (const auto& chapter : chapters) {
        if (!std::isfinite(chapter.startTime) || chapter.startTime < 0 ||
            trimWhitespace(chapter.title).empty() || !milliseconds(chapter.startTime)) {
            return "Give every chapter marker a valid time and title before exporting.";
        }
    }
    std::set<std::int64_t> seen;
    for (const auto& chapter : chapters) {
        if (!seen.insert(*milliseconds(chapter.startTime)).second) {
            return "Chapter markers must have unique times before exporting.";
        }
    }
    return std::nullopt;
}

std::string TranscriptionWorkspaceState::formatTimestamp(double seconds) {
    const std::int64_t ms = std::max<std::int64_t>(milliseconds(seconds).value_or(0), 0);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>((ms / 60000) % 60),
                  static_cast<long long>((ms / 1000) % 60), static_cast<long long>(ms % 1000));
    return text;
}

// ---- Media export --------------------------------------------------------------------------

std::optional<std::string> TranscriptionWorkspaceState::mediaExportIssue(
    const BatchTranscriptionSource& source, OutputContainer container) const {
    if (source.cues.empty()) {
        return "Transcribe this source before exporting a media file.";
    }
    if (source.sourceStreams.empty()) {
        return isInspecting(source) ? "Tavrolin is still inspecting the source streams."
                                    : "No supported video, audio, or subtitle streams were found.";
    }
    if (auto invalid = chapterValidationMessage(source.chapters)) {
        return invalid;
    }
    // The renderer's own checks, so a bad cue is refused here rather than in a failed job.
    try {
        SubtitleDocumentRenderer().render(source.cues, SubtitleFileFormat::srt);
    } catch (const TranscriptionError& invalid) {
        return std::string(invalid.what());
    }
    for (const auto& stream : source.sourceStreams) {
        if (compatibility_.copyDecision(stream, container).isIncompatible()) {
            return compatibility_.issueMessage(stream, container, std::nullopt)
                .value_or("A source stream is not compatible with " +
                          uppercased(rawValue(container)) + ".");
        }
    }
    return std::nullopt;
}

std::optional<std::string> TranscriptionWorkspaceState::mediaExportBlocker() const {
    const auto* selected = selectedSource();
    if (!selected) {
        return "Transcribe a source before exporting a media file.";
    }
    return mediaExportIssue(*selected, container_);
}

std::filesystem::path TranscriptionWorkspaceState::batchExportOutputURL(
    const BatchTranscriptionSource& source, OutputContainer container) const {
    if (replaceOriginalsDuringBatchExport) {
        return source.url;
    }
    return source.url.parent_path() /
           (source.url.stem().string() + "-transcribed." + std::string(rawValue(container)));
}

std::optional<OutputContainer> TranscriptionWorkspaceState::batchContainer(
    const BatchTranscriptionSource& source) const {
    return replaceOriginalsDuringBatchExport ? containerForFile(source.url)
                                             : std::optional(source.mediaOutputContainer);
}

std::optional<std::string> TranscriptionWorkspaceState::replacementRefusal(
    const BatchTranscriptionSource& source) const {
    const auto identity = fileIdentity(source.url);
    if (!identity) {
        return std::nullopt;
    }
    const std::string name = "“" + fileName(source.url) + "”";
    if (pendingReplacements.contains(*identity)) {
        return "A replacement of " + name + " is already queued.";
    }
    if (completedReplacements.contains(*identity)) {
        return name + " was already replaced; inspect it again before exporting.";
    }
    return std::nullopt;
}

std::optional<std::string> TranscriptionWorkspaceState::batchMediaExportBlocker() const {
    if (selectedExportSourceIDs.empty()) {
        return "Select at least one completed transcript in the source list.";
    }
    std::vector<const BatchTranscriptionSource*> marked;
    for (const auto& source : sources) {
        if (selectedExportSourceIDs.contains(source.id)) {
            marked.push_back(&source);
        }
    }
    if (marked.size() != selectedExportSourceIDs.size()) {
        return "One of the selected sources is no longer available.";
    }
    std::set<std::filesystem::path> seenPaths;
    std::set<FileIdentity> seenFiles;
    for (const auto* source : marked) {
        const auto container = batchContainer(*source);
        if (!container) {
            return fileName(source->url) +
                   " cannot be replaced because its container is not supported for transcript "
                   "export.";
        }
        if (auto issue = mediaExportIssue(*source, *container)) {
            return fileName(source->url) + ": " + *issue;
        }
        if (replaceOriginalsDuringBatchExport) {
            if (auto refusal = replacementRefusal(*source)) {
                return refusal;
            }
        }
        const auto output = batchExportOutputURL(*source, *container);
        const auto identity =
            replaceOriginalsDuringBatchExport ? fileIdentity(output) : std::nullopt;
        if (!seenPaths.insert(standardized(output)).second ||
            (identity && !seenFiles.insert(*identity).second)) {
            return "Two selected files would produce the same output name.";
        }
        std::error_code error;
        if (!replaceOriginalsDuringBatchExport &&
            std::filesystem::symlink_status(output, error).type() !=
                std::filesystem::file_type::not_found) {
            return "An output named “" + fileName(output) +
                   "” already exists. No batch jobs were queued.";
        }
    }
    return std::nullopt;
}

std::optional<std::string> TranscriptionWorkspaceState::mediaExportSuggestedName() const {
    const auto* selected = selectedSource();
    if (!selected) {
        return std::nullopt;
    }
    return selected->url.stem().string() + "-transcribed." + std::string(rawValue(container_));
}

TranscriptionMediaRequest TranscriptionWorkspaceState::makeRequest(
    const BatchTranscriptionSource& source, OutputContainer container,
    const std::filesystem::path& output, bool replacesInput) const {
    TranscriptionMediaRequest request;
    request.input = source.url;
    request.output = output;
    request.selectedStreams = source.sourceStreams;
    std::stable_sort(request.selectedStreams.begin(), request.selectedStreams.end(),
                     [](const auto& a, const auto& b) { return a.index < b.index; });
    const std::string extension = lowercased(source.url.extension().string());
    request.mapsEverySourceStream = extension == "." + std::string(rawValue(container));
    request.subtitleCodecOverrides =
        compatibility_.subtitleCodecOverrides(request.selectedStreams, container, std::nullopt);
    request.cues = source.cues;
    request.chapters = sortedChapters(source.chapters);
    request.subtitleLanguage =
        localeMatcher_.bibliographicLanguageCode(source.selectedLocaleIdentifier);
    request.replacesInput = replacesInput;
    return request;
}

std::optional<TranscriptionMediaRequest> TranscriptionWorkspaceState::selectedMediaRequest(
    const std::filesystem::path& destination) {
    const auto* selected = selectedSource();
    if (!selected) {
        return std::nullopt;
    }
    if (auto blocker = mediaExportBlocker()) {
        errorMessage = blocker;
        return std::nullopt;
    }
    const auto destinationIdentity = fileIdentity(destination);
    if (standardized(destination) == standardized(selected->url) ||
        (destinationIdentity && destinationIdentity == fileIdentity(selected->url))) {
        errorMessage = "Choose a new output file. Tavrolin does not replace the source.";
        return std::nullopt;
    }
    const std::string extension(rawValue(container_));
    if (lowercased(destination.extension().string()) != "." + extension) {
        errorMessage = "The output filename must use ." + extension + ".";
        return std::nullopt;
    }
    return makeRequest(*selected, container_, destination, false);
}

std::optional<std::vector<TranscriptionMediaRequest>>
TranscriptionWorkspaceState::batchMediaRequests() {
    if (auto blocker = batchMediaExportBlocker()) {
        errorMessage = blocker;
        return std::nullopt;
    }
    std::vector<TranscriptionMediaRequest> requests;
    for (const auto& source : sources) {
        if (selectedExportSourceIDs.contains(source.id)) {
            const auto container = *batchContainer(source);
            requests.push_back(makeRequest(source, container,
                                           batchExportOutputURL(source, container),
                                           replaceOriginalsDuringBatchExport));
        }
    }
    return requests;
}

void TranscriptionWorkspaceState::noteMediaQueued(std::size_t count,
                                                  const std::filesystem::path& singleDestination,
                                                  bool isBatch) {
    if (!isBatch) {
        message = "Added 1 file to the queue: " + fileName(singleDestination) + ".";
    } else {
        message = "Added " + plural(static_cast<int>(count), "file") +
                  (replaceOriginalsDuringBatchExport
                       ? " to the queue. Each original remains untouched until its replacement "
                         "passes validation."
                       : " to the queue.");
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
    conversationSummaryNotice =
        "Summarizing " + std::to_string(pending.size()) + " conversations on this computer…";
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

void TranscriptionWorkspaceState::finishConversationSummaries(int summarized, int fallbacks,
                                                              bool wasCancelled) {
    isSummarizingConversations = false;
    if (wasCancelled) {
        return;
    }
    conversationSummaryNotice =
        fallbacks == 0 ? "Summarized " + std::to_string(summarized) +
                             " conversations with the on-device language model."
                       : "Summarized " + std::to_string(summarized) + " conversations; " +
                             std::to_string(fallbacks) + " use dialogue previews.";
}

}  // namespace tavrolin
