#include "transcription/TranscriptionWorkspaceState.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "engine/ChapterMetadataRenderer.h"
#include "engine/MillisecondTime.h"
#include "model/MediaProcessingError.h"
#include "model/Paths.h"
#include "model/TextMetrics.h"
#include "transcription/TranscriptionWorkspaceSupport.h"

namespace tavrolin {

using namespace workspace;

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
    const auto target = wholeMilliseconds(time);
    return target && std::any_of(chapters_.begin(), chapters_.end(), [&](const auto& chapter) {
               return wholeMilliseconds(chapter.startTime) == target;
           });
}

std::optional<std::string> TranscriptionWorkspaceState::chapterValidationMessage(
    const std::vector<ChapterMarker>& chapters) {
    for (const auto& chapter : chapters) {
        if (!std::isfinite(chapter.startTime) || chapter.startTime < 0 ||
            trimWhitespace(chapter.title).empty() || !wholeMilliseconds(chapter.startTime)) {
            return "Give every chapter marker a valid time and title before exporting.";
        }
    }
    std::set<std::int64_t> seen;
    for (const auto& chapter : chapters) {
        if (!seen.insert(*wholeMilliseconds(chapter.startTime)).second) {
            return "Chapter markers must have unique times before exporting.";
        }
    }
    return std::nullopt;
}

std::string TranscriptionWorkspaceState::formatTimestamp(double seconds) {
    return clockStamp(std::max<std::int64_t>(wholeMilliseconds(seconds).value_or(0), 0), '.');
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
    // The chapter writer's own checks against the known duration (a marker nudged past the end).
    if (!source.chapters.empty() && source.mediaDuration) {
        try {
            ChapterMetadataRenderer().render(source.chapters, *source.mediaDuration);
        } catch (const MediaProcessingError& invalid) {
            return std::string(invalid.what());
        }
    }
    // The renderer's own checks, so a bad cue is refused here rather than in a failed job.
    if (auto invalid = cueRenderIssue(source)) {
        return invalid;
    }
    for (const auto& stream : source.sourceStreams) {
        if (compatibility_.copyDecision(stream, container).isIncompatible()) {
            return compatibility_.issueMessage(stream, container, std::nullopt)
                .value_or("A source stream is not compatible with " +
                          uppercased(rawValue(container)) + ".");
        }
    }
    if (auto turned = StreamCopyCompatibility::rotationMessage(source.sourceStreams, container,
                                                               source.url.filename().string())) {
        return turned;
    }
    return StreamCopyCompatibility::trimmedStartMessage(source.sourceStreams, container,
                                                        source.url.filename().string());
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

bool TranscriptionWorkspaceState::knownToExist(const std::filesystem::path& file) const {
    return outputExists && outputExists(file);
}

std::optional<FileIdentity> TranscriptionWorkspaceState::knownIdentity(
    const std::filesystem::path& file) const {
    return outputIdentity ? outputIdentity(file) : std::nullopt;
}

std::optional<std::string> TranscriptionWorkspaceState::replacementRefusal(
    const BatchTranscriptionSource& source) const {
    const auto identity = knownIdentity(source.url);
    if (!identity) {
        return std::nullopt;
    }
    const std::string name = "“" + fileName(source.url) + "”";
    if (pendingReplacements.contains(*identity)) {
        return "A replacement of " + name + " is already queued.";
    }
    if (completedReplacements.contains(*identity)) {
        return name + " was replaced in this session; open it again to export it once more.";
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
            replaceOriginalsDuringBatchExport ? knownIdentity(output) : std::nullopt;
        if (!seenPaths.insert(standardizedPath(output)).second ||
            (identity && !seenFiles.insert(*identity).second)) {
            return "Two selected files would produce the same output name.";
        }
        if (replaceOriginalsDuringBatchExport) {
            continue;
        }
        if (auto refusal = claimRefusal(output)) {
            return refusal;
        }
        if (knownToExist(output)) {
            return "An output named “" + fileName(output) +
                   "” already exists beside its source. Move the existing file away, or choose "
                   "Replace original files.";
        }
    }
    return std::nullopt;
}

std::vector<std::filesystem::path> TranscriptionWorkspaceState::batchMediaOutputs() const {
    std::vector<std::filesystem::path> outputs;
    for (const auto& source : sources) {
        if (selectedExportSourceIDs.contains(source.id)) {
            if (const auto container = batchContainer(source)) {
                outputs.push_back(batchExportOutputURL(source, *container));
            }
        }
    }
    return outputs;
}

std::vector<std::filesystem::path> TranscriptionWorkspaceState::mediaExportFiles(
    const std::filesystem::path& destination) const {
    std::vector<std::filesystem::path> files{destination};
    if (const auto* selected = selectedSource()) {
        files.push_back(selected->url);
    }
    return files;
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
    request.cues = adjuster_.endingBy(source.cues, source.mediaDuration);
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
    const auto destinationIdentity = knownIdentity(destination);
    if (standardizedPath(destination) == standardizedPath(selected->url) ||
        (destinationIdentity && destinationIdentity == knownIdentity(selected->url))) {
        errorMessage = "Choose a new output file. Tavrolin does not replace the source.";
        return std::nullopt;
    }
    const std::string extension(rawValue(container_));
    if (lowercased(destination.extension().string()) != "." + extension) {
        errorMessage = "The output filename must use ." + extension + ".";
        return std::nullopt;
    }
    // The save panel does not ask about an existing file, and the queue would refuse it.
    if (auto refusal = claimRefusal(destination)) {
        errorMessage = refusal;
        refusedClaim_.emplace(destination, *refusal);
        return std::nullopt;
    }
    if (knownToExist(destination)) {
        errorMessage = MediaProcessingError::outputExists(fileName(destination)).what();
        return std::nullopt;
    }
    return makeRequest(*selected, container_, destination, false);
}

std::optional<std::vector<TranscriptionMediaRequest>>
TranscriptionWorkspaceState::batchMediaRequests() {
    if (auto blocker = batchMediaExportBlocker()) {
        errorMessage = blocker;
        for (const auto& output : batchMediaOutputs()) {
            if (claimRefusal(output) == blocker) {
                refusedClaim_.emplace(output, *blocker);
            }
        }
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

std::optional<std::string> TranscriptionWorkspaceState::claimRefusal(
    const std::filesystem::path& output) const {
    const auto claim = outputClaimed ? outputClaimed(output) : OutputClaim::none;
    if (claim == OutputClaim::none) {
        return std::nullopt;
    }
    return MediaProcessingError::outputClaimed(fileName(output), claim).what();
}

void TranscriptionWorkspaceState::followClaims() {
    if (!refusedClaim_ || errorMessage != refusedClaim_->second) {
        refusedClaim_.reset();  // another message took its place
        return;
    }
    errorMessage = claimRefusal(refusedClaim_->first);
    if (errorMessage) {
        refusedClaim_->second = *errorMessage;
    } else {
        refusedClaim_.reset();
    }
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

}  // namespace tavrolin
