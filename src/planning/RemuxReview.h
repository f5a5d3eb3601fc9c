#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/ContainerPropertyLoss.h"
#include "engine/StreamCopyCompatibility.h"
#include "model/MediaStream.h"
#include "model/OutputClaim.h"
#include "model/OutputContainer.h"
#include "model/ProcessingRequest.h"
#include "model/RemuxSource.h"

namespace tavrolin {

// What the Remux workspace's settings will do, before anything is queued: whether they are
// complete, which selected streams the container, the playback target or the installed FFmpeg
// will leave out, which subtitles are converted, and the request of each source. A view over
// the caller's sources (kept by reference: the review must not outlive them); every value is
// computed on demand. Pure: whether an output exists comes from the caller; any thread.
class RemuxReview {
  public:
    // One selected stream that will be left out of an output.
    struct CompatibilityIssue {
        std::filesystem::path source;
        MediaStream stream;
        std::string reason;
        // The container could take the stream; only the playback target refuses it.
        bool isPlaybackTargetIssue = false;

        friend bool operator==(const CompatibilityIssue&, const CompatibilityIssue&) = default;
    };

    // One property of a source's kept streams or chapters that its output container will not
    // keep.
    struct PropertyIssue {
        std::filesystem::path source;
        PropertyLoss loss;

        friend bool operator==(const PropertyIssue&, const PropertyIssue&) = default;
    };

    // Which validation rule produced the message; the playback status looks at the rule, never
    // at the wording (a file name could contain any words).
    enum class Rule {
        noSources,
        noOutputFolder,
        outputFolderUnwritable,  // or its check takes long, and says so
        inspectionPending,
        inspectionFailed,
        emptySelection,
        unverifiableContainer,
        playbackContainer,
        videoConversion,
        nothingSupported,
        rotationLost,
        trimmedStartShown,
        untimedVideo,
        outputClash,
        outputExists,
        outputClaimed,
        outputNameTooLong,  // or its path
    };
    struct Validation {
        Rule rule;
        std::string message;
    };

    RemuxReview(const std::vector<RemuxSource>& sources,
                std::optional<std::filesystem::path> outputFolder,
                std::optional<OutputContainer> container, std::optional<PlaybackTarget> target,
                std::optional<FFmpegRelease> installedFFmpeg);

    // What the caller found when it last checked the output folder (`outputFolderProblem`), or
    // that the check still runs; the review itself touches no folder but the outputs' names.
    void setOutputFolderProblem(std::optional<std::string> problem) {
        outputFolderProblem_ = std::move(problem);
    }
    // Whether an output's name exists, as the caller last found it off the GUI thread.
    void setOutputExists(std::function<bool(const std::filesystem::path&)> exists) {
        outputExists_ = std::move(exists);
    }
    // Whether a job already queued or running writes a file; such an output is refused too.
    void setOutputClaimed(std::function<OutputClaim(const std::filesystem::path&)> claimed) {
        outputClaimed_ = std::move(claimed);
    }
    // Every output the sources would write into the folder, in the sources' order.
    std::vector<std::filesystem::path> outputURLs(const std::filesystem::path& folder) const;

    std::optional<Validation> validation() const;
    std::vector<CompatibilityIssue> compatibilityIssues() const;
    std::vector<PropertyIssue> propertyIssues() const;
    // Whether queueing asks first: a selected stream is left out or a property lost.
    bool needsConfirmation() const;
    // What is left out and what is lost, a sentence each; none when nothing is.
    std::optional<std::string> compatibilitySummary() const;
    std::optional<std::string> playbackTargetStatus() const;
    bool isPlaybackTargetStatusBlocking() const;
    std::optional<std::string> subtitleConversionNote() const;
    // The confirmation's text: the streams left out, then the properties lost, per source.
    std::string unsupportedStreamsAlertMessage() const;

    // Per source.
    std::optional<OutputContainer> effectiveContainer(const RemuxSource& source) const;
    std::map<std::int64_t, std::string> unsupportedStreamMessages(const RemuxSource& source) const;
    std::map<std::int64_t, std::string> convertedSubtitleCodecs(const RemuxSource& source) const;
    std::vector<MediaStream> outputStreams(const RemuxSource& source) const;
    std::string outputContainerDescription(const RemuxSource& source) const;
    // <folder>/<stem>-converted.<container extension, or the source's own as written>.
    std::filesystem::path outputURL(const RemuxSource& source,
                                    const std::filesystem::path& folder) const;
    ProcessingRequest makeRemuxRequest(const RemuxSource& source,
                                       const std::filesystem::path& folder) const;

  private:
    std::optional<Validation> playbackValidation() const;
    std::optional<Validation> outputValidation() const;

    const std::vector<RemuxSource>& sources_;
    std::optional<std::filesystem::path> outputFolder_;
    std::optional<std::string> outputFolderProblem_;
    std::function<bool(const std::filesystem::path&)> outputExists_;
    std::function<OutputClaim(const std::filesystem::path&)> outputClaimed_;
    std::optional<OutputContainer> container_;
    std::optional<PlaybackTarget> target_;
    StreamCopyCompatibility compatibility_;
};

}  // namespace tavrolin
