#include "transcription/TranscriptionWorkspaceState.h"

#include <algorithm>
#include <iterator>
#include <tuple>

#include "engine/SubtitleDocumentRenderer.h"
#include "model/Paths.h"
#include "model/TextMetrics.h"
#include "transcription/TranscriptionWorkspaceSupport.h"

namespace tavrolin {

using namespace workspace;

namespace {

// What decides whether an audio track choice still means the same stream.
bool sameAudioLayout(const std::vector<MediaStream>& a, const std::vector<MediaStream>& b) {
    const auto key = [](const MediaStream& s) {
        return std::tie(s.index, s.codecName, s.channelCount, s.sampleRate, s.language);
    };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [&](const auto& x, const auto& y) { return key(x) == key(y); });
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
        noteCuesChanged(selected->id);
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

void TranscriptionWorkspaceState::noteCuesChanged(const Uuid& id) {
    sourceCueRevisions_[id] = ++cueRevision;
}

std::uint64_t TranscriptionWorkspaceState::sourceCueRevision(const Uuid& id) const {
    const auto changed = sourceCueRevisions_.find(id);
    return changed == sourceCueRevisions_.end() ? 0 : changed->second;
}

std::optional<std::string> TranscriptionWorkspaceState::cueRenderIssue(
    const BatchTranscriptionSource& source) const {
    const auto check = [&]() -> std::optional<std::string> {
        try {
            SubtitleDocumentRenderer().render(source.cues, SubtitleFileFormat::srt);
        } catch (const TranscriptionError& invalid) {
            return std::string(invalid.what());
        }
        return std::nullopt;
    };
    // Only the state's own sources have a cue revision; a copy is checked afresh.
    const bool isOwn =
        !sources.empty() && &source >= sources.data() && &source < sources.data() + sources.size();
    if (!isOwn) {
        return check();
    }
    const std::uint64_t revision = sourceCueRevision(source.id);
    const auto known = cueRenderIssues_.find(source.id);
    if (known != cueRenderIssues_.end() && known->second.first == revision) {
        return known->second.second;
    }
    auto issue = check();
    cueRenderIssues_[source.id] = {revision, issue};
    return issue;
}

TranscriptSearchSnapshot TranscriptionWorkspaceState::transcriptSearchSnapshot(
    const TranscriptSearchSnapshot& previous) const {
    std::map<Uuid, const TranscriptSearchSnapshot::Source*> earlier;
    for (const auto& source : previous.sources) {
        earlier.emplace(source.id, &source);
    }
    TranscriptSearchSnapshot snapshot;
    snapshot.cueRevision = cueRevision;
    snapshot.sources.reserve(sources.size());
    for (const auto& source : sources) {
        const std::uint64_t revision = sourceCueRevision(source.id);
        const auto found = earlier.find(source.id);
        if (found != earlier.end() && found->second->cueRevision == revision) {
            snapshot.sources.push_back(*found->second);
        } else {
            snapshot.sources.push_back(
                {source.id, source.url, revision,
                 std::make_shared<const std::vector<SubtitleCue>>(source.cues), nullptr});
        }
    }
    return snapshot;
}

void TranscriptSearchSnapshot::adoptFoldedTexts(const TranscriptSearchSnapshot& searched) {
    std::map<std::pair<Uuid, std::uint64_t>, const Source*> made;
    for (const auto& source : searched.sources) {
        if (source.foldedTexts) {
            made.emplace(std::pair(source.id, source.cueRevision), &source);
        }
    }
    for (auto& source : sources) {
        const auto found = made.find(std::pair(source.id, source.cueRevision));
        if (!source.foldedTexts && found != made.end()) {
            source.foldedTexts = found->second->foldedTexts;
        }
    }
}

std::vector<BatchTranscriptSearchResult> searchTranscripts(TranscriptSearchSnapshot& snapshot,
                                                           std::string_view query,
                                                           const std::stop_token& stop) {
    std::vector<BatchTranscriptSearchResult> results;
    const std::string_view trimmed = trimWhitespace(query);
    if (trimmed.empty()) {
        return results;
    }
    const std::string folded = TranscriptCueSearch::foldedForSearch(trimmed);
    for (auto& source : snapshot.sources) {
        if (stop.stop_requested()) {
            break;
        }
        const auto& cues = *source.cues;
        if (!source.foldedTexts) {
            std::vector<std::string> texts;
            texts.reserve(cues.size());
            for (const auto& cue : cues) {
                texts.push_back(TranscriptCueSearch::foldedForSearch(cue.text));
            }
            source.foldedTexts = std::make_shared<const std::vector<std::string>>(std::move(texts));
        }
        const auto& texts = *source.foldedTexts;
        for (std::size_t i = 0; i < cues.size(); ++i) {
            if (texts[i].find(folded) != std::string::npos) {
                results.push_back({source.id, source.url, cues[i]});
            }
        }
    }
    return results;
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
    // By name only: asking the file system here would hold the window on a slow mount. A second
    // name for a listed file goes once its inspection reads which file it is.
    for (const auto& existing : sources) {
        knownPaths.insert(standardizedPath(existing.url));
    }
    std::vector<std::filesystem::path> added;
    for (const auto& url : urls) {
        if (url.empty() || url.extension().string().size() < 2) {
            continue;
        }
        if (!knownPaths.insert(standardizedPath(url)).second) {
            continue;
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
    ++cueRevision;
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
        // Opened again, a replaced file may be exported once more.
        if (found->identity) {
            completedReplacements.erase(*found->identity);
        }
        sources.erase(found);
        sourceCueRevisions_.erase(id);
        cueRenderIssues_.erase(id);
        earlierChoices_.erase(id);
        ++cueRevision;
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
    if (inspection.identity && std::any_of(sources.begin(), sources.end(), [&](const auto& other) {
            return other.id != id && other.identity == inspection.identity;
        })) {
        removeSource(id);  // another name for a file listed already
        return;
    }
    source->identity = inspection.identity;
    source->sourceStreams = inspection.streams;
    source->audioStreams = audio;
    source->mediaDuration = inspection.duration;
    source->selectedAudioStreamIndex =
        chosen ? std::optional<std::int64_t>(chosen->index) : std::nullopt;
    source->selectedLocaleIdentifier = language;
    const auto earlier = earlierChoices_.find(id);
    if (earlier != earlierChoices_.end()) {
        if (!audio.empty() && sameAudioLayout(earlier->second.audio, audio)) {
            source->selectedAudioStreamIndex = earlier->second.audioIndex;
            source->selectedLocaleIdentifier = earlier->second.localeIdentifier;
        }
        earlierChoices_.erase(earlier);
    }
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

void TranscriptionWorkspaceState::failInspection(const Uuid& id, const std::string& reported) {
    auto* source = mutableSource(id);
    if (!source) {
        return;
    }
    // The error's sentence comes first; tool lines after it say nothing more to a user.
    const std::string failure(
        trimWhitespace(std::string_view(reported).substr(0, reported.find('\n'))));
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

void TranscriptionWorkspaceState::markForInspection(const std::filesystem::path& file,
                                                    const std::optional<FileIdentity>& before) {
    for (auto& source : sources) {
        const bool same = standardizedPath(source.url) == standardizedPath(file) ||
                          (before && source.identity == before);
        if (same && !isInspecting(source) &&
            source.status.kind != BatchTranscriptionSourceStatus::Kind::queued &&
            source.status.kind != BatchTranscriptionSourceStatus::Kind::transcribing) {
            earlierChoices_[source.id] = {source.audioStreams, source.selectedAudioStreamIndex,
                                          source.selectedLocaleIdentifier};
            source.sourceStreams.clear();
            source.audioStreams.clear();
            source.status = BatchTranscriptionSourceStatus{};
        }
    }
}

}  // namespace tavrolin
