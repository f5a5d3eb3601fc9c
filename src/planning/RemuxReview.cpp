#include "planning/RemuxReview.h"

#include <algorithm>
#include <set>

#include "engine/OutputNameCheck.h"
#include "model/TextMetrics.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

const std::string targetName = "iPhone 17 Pro";

std::string extensionOf(const fs::path& url) {
    std::string extension = url.extension().string();
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    return extension;
}

std::string fileName(const fs::path& url) {
    return url.filename().string();
}

std::string quoted(const std::string& text) {
    return "\u201C" + text + "\u201D";
}

bool isReady(const RemuxSource& source) {
    return std::holds_alternative<RemuxSource::Ready>(source.inspectionState);
}

const std::vector<MediaStream>* readyStreams(const RemuxSource& source) {
    if (const auto* ready = std::get_if<RemuxSource::Ready>(&source.inspectionState)) {
        return &ready->streams;
    }
    return nullptr;
}

}  // namespace

RemuxReview::RemuxReview(const std::vector<RemuxSource>& sources,
                         std::optional<fs::path> outputFolder,
                         std::optional<OutputContainer> container,
                         std::optional<PlaybackTarget> target,
                         std::optional<FFmpegRelease> installedFFmpeg)
    : sources_(sources),
      outputFolder_(std::move(outputFolder)),
      container_(container),
      target_(target),
      compatibility_(installedFFmpeg) {}

std::optional<OutputContainer> RemuxReview::effectiveContainer(const RemuxSource& source) const {
    if (container_) {
        return container_;
    }
    return containerForFile(source.url);
}

std::vector<MediaStream> RemuxReview::outputStreams(const RemuxSource& source) const {
    auto selected = source.selectedStreams();
    if (const auto container = effectiveContainer(source)) {
        return compatibility_.supportedStreams(selected, *container, target_);
    }
    return selected;
}

std::string RemuxReview::outputContainerDescription(const RemuxSource& source) const {
    if (container_) {
        return displayName(*container_);
    }
    const std::string extension = extensionOf(source.url);
    if (extension.empty()) {
        return "input container";
    }
    return uppercased(extension);
}

std::optional<RemuxReview::Validation> RemuxReview::validation() const {
    if (sources_.empty()) {
        return Validation{Rule::noSources, "Add at least one source file."};
    }
    if (!outputFolder_) {
        return Validation{Rule::noOutputFolder, "Choose an output folder."};
    }
    if (outputFolderProblem_) {
        return Validation{Rule::outputFolderUnwritable, *outputFolderProblem_};
    }
    for (const auto& source : sources_) {
        // A failed inspection never finishes by waiting: say what ends it.
        if (const auto* failed = std::get_if<RemuxSource::Failed>(&source.inspectionState)) {
            return Validation{
                Rule::inspectionFailed,
                quoted(fileName(source.url)) + " could not be inspected. " +
                    (failed->retryMayHelp ? "Try again or remove it." : "Remove it to continue.")};
        }
    }
    if (!std::all_of(sources_.begin(), sources_.end(), isReady)) {
        return Validation{Rule::inspectionPending, "Wait for stream inspection to finish."};
    }
    for (const auto& source : sources_) {
        if (source.selectedStreams().empty()) {
            return Validation{Rule::emptySelection,
                              "Select at least one stream in every source file."};
        }
    }
    if (auto playback = playbackValidation()) {
        return playback;
    }
    for (const auto& source : sources_) {
        if (outputStreams(source).empty()) {
            return Validation{Rule::nothingSupported, fileName(source.url) +
                                                          " has no selected streams supported by " +
                                                          outputContainerDescription(source) + "."};
        }
    }
    // A copy that plays on its side, or shows what the source hides, is no lossless remux: the
    // container is what can change.
    for (const auto& source : sources_) {
        const auto container = effectiveContainer(source);
        if (!container) {
            continue;
        }
        const auto streams = outputStreams(source);
        const auto name = fileName(source.url);
        if (auto message = StreamCopyCompatibility::rotationMessage(streams, *container, name)) {
            return Validation{Rule::rotationLost, *message};
        }
        if (auto message =
                StreamCopyCompatibility::trimmedStartMessage(streams, *container, name)) {
            return Validation{Rule::trimmedStartShown, *message};
        }
        if (auto message =
                StreamCopyCompatibility::untimedVideoMessage(streams, *container, name)) {
            return Validation{Rule::untimedVideo, *message};
        }
    }
    return outputValidation();
}

std::optional<RemuxReview::Validation> RemuxReview::playbackValidation() const {
    if (target_ && !container_) {
        for (const auto& source : sources_) {
            const std::string extension = extensionOf(source.url);
            if (!outputContainerFromRaw(lowercased(extension))) {
                return Validation{Rule::unverifiableContainer,
                                  "Choose MP4, M4V, or MOV for " + targetName + "; " +
                                      uppercased(extension) +
                                      " cannot be verified as a playback container."};
            }
        }
    }
    for (const auto& source : sources_) {
        if (const auto container = effectiveContainer(source)) {
            if (auto message = compatibility_.playbackContainerMessage(*container, target_)) {
                return Validation{Rule::playbackContainer, *message};
            }
        }
    }
    if (!target_) {
        return std::nullopt;
    }
    const auto isVideo = [](const MediaStream& stream) {
        return stream.kind == MediaStreamKind::video;
    };
    for (const auto& source : sources_) {
        std::vector<MediaStream> selectedVideo;
        std::ranges::copy_if(source.selectedStreams(), std::back_inserter(selectedVideo), isVideo);
        if (selectedVideo.empty() || std::ranges::any_of(outputStreams(source), isVideo)) {
            continue;
        }
        const auto container = effectiveContainer(source);
        const bool containerHoldsVideo =
            container && std::ranges::any_of(selectedVideo, [&](const MediaStream& stream) {
                return !compatibility_.copyDecision(stream, *container).isIncompatible();
            });
        if (!container || containerHoldsVideo) {
            return Validation{Rule::videoConversion,
                              fileName(source.url) + " requires video conversion for " +
                                  targetName + ", which Tavrolin does not currently perform."};
        }
        return Validation{Rule::videoConversion,
                          displayName(*container) + " does not support the selected video " +
                              "stream in " + fileName(source.url) +
                              ". Change the container to preserve it without re-encoding."};
    }
    return std::nullopt;
}

// The queue would refuse these jobs one by one; saying so here loses nothing.
std::optional<RemuxReview::Validation> RemuxReview::outputValidation() const {
    std::map<fs::path, const RemuxSource*> writers;
    for (const auto& source : sources_) {
        const fs::path output = outputURL(source, *outputFolder_);
        const auto [first, inserted] = writers.emplace(output, &source);
        if (!inserted) {
            return Validation{Rule::outputClash, quoted(fileName(first->second->url)) + " and " +
                                                     quoted(fileName(source.url)) +
                                                     " would both be written to " +
                                                     quoted(fileName(output)) + "."};
        }
    }
    const OutputLookup lookup{outputClaimed_, outputExists_};
    for (const auto& source : sources_) {
        if (auto problem =
                outputNameProblem(source.url, outputURL(source, *outputFolder_), lookup)) {
            using enum OutputNameProblem::Case;
            const Rule rule = problem->problemCase == claimed  ? Rule::outputClaimed
                              : problem->problemCase == exists ? Rule::outputExists
                                                               : Rule::outputNameTooLong;
            return Validation{rule, std::move(problem->message)};
        }
    }
    return std::nullopt;
}

std::vector<RemuxReview::CompatibilityIssue> RemuxReview::compatibilityIssues() const {
    std::vector<CompatibilityIssue> issues;
    for (const auto& source : sources_) {
        const auto container = effectiveContainer(source);
        if (!container) {
            continue;
        }
        for (const auto& stream :
             compatibility_.unsupportedStreams(source.selectedStreams(), *container, target_)) {
            issues.push_back(CompatibilityIssue{
                source.url, stream,
                compatibility_.issueMessage(stream, *container, target_)
                    .value_or("This stream is incompatible."),
                !compatibility_.copyDecision(stream, *container).isIncompatible()});
        }
    }
    return issues;
}

std::vector<RemuxReview::PropertyIssue> RemuxReview::propertyIssues() const {
    std::vector<PropertyIssue> issues;
    for (const auto& source : sources_) {
        const auto container = effectiveContainer(source);
        const auto* ready = std::get_if<RemuxSource::Ready>(&source.inspectionState);
        if (!container || ready == nullptr) {
            continue;
        }
        for (auto& loss : ContainerPropertyLoss::losses(outputStreams(source),
                                                        ready->chapterEditions, *container)) {
            issues.push_back(PropertyIssue{source.url, std::move(loss)});
        }
    }
    return issues;
}

bool RemuxReview::needsConfirmation() const {
    return !compatibilityIssues().empty() || !propertyIssues().empty();
}

std::optional<std::string> RemuxReview::compatibilitySummary() const {
    std::vector<std::string> sentences;
    if (const auto issues = compatibilityIssues(); !issues.empty()) {
        const std::size_t count = issues.size();
        std::string target;
        if (target_) {
            target = targetName;
        } else if (container_) {
            target = displayName(*container_);
        } else {
            target = "the corresponding input containers";
        }
        sentences.push_back(std::to_string(count) + " selected " +
                            (count == 1 ? "stream is" : "streams are") + " incompatible with " +
                            target + ". Change the settings or continue and omit " +
                            (count == 1 ? "it" : "them") + ".");
    }
    if (const auto issues = propertyIssues(); !issues.empty()) {
        std::vector<PropertyLoss> losses;
        std::ranges::transform(issues, std::back_inserter(losses), &PropertyIssue::loss);
        const std::string subject = container_ ? displayName(*container_) : "The copies";
        sentences.push_back(subject + " will not keep " + ContainerPropertyLoss::inventory(losses) +
                            " of the source; continuing remuxes without " +
                            (losses.size() == 1 ? "it." : "them."));
    }
    if (sentences.empty()) {
        return std::nullopt;
    }
    return sentences.size() == 1 ? sentences[0] : sentences[0] + " " + sentences[1];
}

bool RemuxReview::isPlaybackTargetStatusBlocking() const {
    if (!target_) {
        return false;
    }
    const auto result = validation();
    return result &&
           (result->rule == Rule::unverifiableContainer ||
            result->rule == Rule::playbackContainer || result->rule == Rule::videoConversion);
}

std::optional<std::string> RemuxReview::playbackTargetStatus() const {
    if (!target_) {
        return std::nullopt;
    }
    if (isPlaybackTargetStatusBlocking()) {
        return validation()->message;
    }
    const auto issues = compatibilityIssues();
    const auto count = std::ranges::count_if(
        issues, [](const auto& issue) { return issue.isPlaybackTargetIssue; });
    if (count > 0) {
        return "Compatible with " + targetName + " after omitting " + std::to_string(count) +
               " selected " + (count == 1 ? "track" : "tracks") + ".";
    }
    if (sources_.empty() || !std::all_of(sources_.begin(), sources_.end(), isReady)) {
        return std::nullopt;
    }
    return "Selected tracks match the published " + targetName +
           " playback formats without video or audio re-encoding.";
}

std::optional<std::string> RemuxReview::subtitleConversionNote() const {
    std::size_t count = 0;
    std::set<std::string> codecs;
    for (const auto& source : sources_) {
        const auto container = effectiveContainer(source);
        if (!container) {
            continue;
        }
        for (const auto& [index, codec] :
             compatibility_.subtitleCodecOverrides(source.selectedStreams(), *container, target_)) {
            ++count;
            codecs.insert(uppercased(codec));
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    std::string joined;
    for (const auto& codec : codecs) {  // std::set sorts by plain comparison
        joined += (joined.empty() ? "" : " / ") + codec;
    }
    return std::to_string(count) + " selected " +
           (count == 1 ? "subtitle stream" : "subtitle streams") + " will be converted to " +
           joined + ". Video and audio will remain stream-copy.";
}

std::string RemuxReview::unsupportedStreamsAlertMessage() const {
    std::string text;
    if (const auto issues = compatibilityIssues(); !issues.empty()) {
        std::string entries;
        for (const auto& issue : issues) {
            if (!entries.empty()) {
                entries += "\n";
            }
            entries += fileName(issue.source) + ": #" + std::to_string(issue.stream.index) + " " +
                       issue.stream.displayTitle() + "\n" + issue.reason;
        }
        text =
            "These selected streams are not supported by the chosen container or playback "
            "target:\n\n" +
            entries + "\n\nContinuing will omit them from the output. ";
    }
    if (const auto issues = propertyIssues(); !issues.empty()) {
        std::string entries;
        const fs::path* lastSource = nullptr;
        for (const auto& issue : issues) {
            if (lastSource == nullptr || *lastSource != issue.source) {
                entries += (lastSource == nullptr ? "" : "\n") + fileName(issue.source) + ":\n";
                lastSource = &issue.source;
            }
            entries += issue.loss.sentence + "\n";
        }
        text += std::string(text.empty() ? "" : "\n\n") +
                "The output will not keep these properties of the source:\n\n" + entries +
                "\nContinuing will remux without them. ";
    }
    return text + "Source files will not be changed.";
}

std::map<std::int64_t, std::string> RemuxReview::unsupportedStreamMessages(
    const RemuxSource& source) const {
    std::map<std::int64_t, std::string> messages;
    const auto container = effectiveContainer(source);
    const auto* streams = readyStreams(source);
    if (!container || streams == nullptr) {
        return messages;
    }
    for (const auto& stream : *streams) {
        if (auto message = compatibility_.issueMessage(stream, *container, target_)) {
            messages.emplace(stream.index, *message);
        }
    }
    return messages;
}

std::map<std::int64_t, std::string> RemuxReview::convertedSubtitleCodecs(
    const RemuxSource& source) const {
    const auto container = effectiveContainer(source);
    const auto* streams = readyStreams(source);
    if (!container || streams == nullptr) {
        return {};
    }
    const auto overrides = compatibility_.subtitleCodecOverrides(*streams, *container, target_);
    return {overrides.begin(), overrides.end()};
}

fs::path RemuxReview::outputURL(const RemuxSource& source, const fs::path& folder) const {
    const std::string extension =
        container_ ? std::string(rawValue(*container_)) : extensionOf(source.url);
    return folder / (source.url.stem().string() + "-converted." + extension);
}

std::vector<fs::path> RemuxReview::outputURLs(const fs::path& folder) const {
    std::vector<fs::path> outputs;
    outputs.reserve(sources_.size());
    for (const auto& source : sources_) {
        outputs.push_back(outputURL(source, folder));
    }
    return outputs;
}

ProcessingRequest RemuxReview::makeRemuxRequest(const RemuxSource& source,
                                                const fs::path& folder) const {
    RemuxRequest request;
    request.input = source.url;
    request.output = outputURL(source, folder);
    request.selectedStreams = outputStreams(source);
    if (const auto container = effectiveContainer(source)) {
        request.subtitleCodecOverrides =
            compatibility_.subtitleCodecOverrides(request.selectedStreams, *container, target_);
        request.videoCodecTagOverrides =
            compatibility_.videoCodecTagOverrides(request.selectedStreams, *container, target_);
    }
    return ProcessingRequest(std::move(request));
}

}  // namespace tavrolin
