#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/OutputNameCheck.h"
#include "joinsplit/SplitKeyframes.h"
#include "joinsplit/SplitSourceStreams.h"
#include "model/OutputContainer.h"
#include "model/ProcessingRequest.h"

namespace tavrolin {

enum class SplitOperationMode { range, atPoint };

std::string_view rawValue(SplitOperationMode mode);

// Seconds as the user types them: a number in the POSIX notation (an optional sign, digits with
// at most one point, an optional exponent); spaces and tabs around it are ignored. Read the same
// under every locale.
// "inf" and numbers past a double's range read as infinity, which lies past any file's end;
// none when not a number.
std::optional<double> parseSplitSeconds(std::string_view text);

// The cut of one Split file: a range to extract, or a point to cut it in two. The time texts
// are kept exactly as typed and read as numbers only to validate and to build requests. A plain
// value; its functions are pure and safe on any thread.
struct SplitSourceConfiguration {
    std::filesystem::path file;
    SplitOperationMode operationMode = SplitOperationMode::range;
    std::string startText = "0";
    std::string endText = "60";
    // Whether the user set the end; until then it follows the file's length once read.
    bool endIsTyped = false;
    std::string splitPointText;
    // None writes the source's own container (its extension as it stands).
    std::optional<OutputContainer> container;
    // Where the source can be cut and what streams it holds: read once when the file is added.
    // While they are being read, or when reading failed (`keyframeError`), nothing can be
    // queued. With neither a result nor a reading under way, times are cut as typed and the
    // container is not checked.
    std::optional<SplitKeyframes> keyframes;
    std::optional<SplitSourceStreams> streams;
    bool isReadingKeyframes = false;
    std::optional<std::string> keyframeError;
    // Reading found no video or audio at all (`keyframeError` says so): the file is neither
    // previewed nor counted among the outputs.
    bool isNotMedia = false;

    explicit SplitSourceConfiguration(std::filesystem::path source = {})
        : file(std::move(source)) {}

    // Puts the file's length, as read, into an end the user has not set.
    void showFileLength();

    // Reading found audio and no video: there are no frames or keyframes to show.
    bool isAudioOnly() const { return keyframes && keyframes->times.empty(); }

    // The preview's caption: "Start: 0s  ·  End: 60s" or "Split point: 12.5s"; with the
    // keyframes known, the times the cuts really fall at.
    std::string selectionSummary() const;
    // The list row's summary: "0s–60s" or "Split at 12.5s"; real times as above.
    std::string listSummary() const;
    // Why the configuration cannot be queued (its times, then streams the container cannot
    // hold); none when it can.
    std::optional<std::string> validationMessage() const;
    // What the parts leave out of the source in the chosen container; none when nothing.
    std::optional<std::string> streamNote() const;

    friend bool operator==(const SplitSourceConfiguration&,
                           const SplitSourceConfiguration&) = default;
};

// The cuts one configuration makes. A cut falls on the keyframe at or before the time asked
// for, so the frame chosen in the preview is always in the part that follows the cut; a cut
// that would leave a part empty is refused with a sentence naming the keyframes around it.
struct SplitCutPlan {
    // Why the configuration cannot be queued; none when it can.
    std::optional<std::string> error;
    // Seconds from the first frame: the range's start or the split point, and the range's end.
    // None for the beginning and the end of the file.
    std::optional<double> start;
    std::optional<double> end;
    // Where each cut lands, for beside the start (or split point) and the end fields, with the
    // frames before it that a cut ending a part loses on an open group of pictures; none while
    // a time is not a number or the keyframes are unknown.
    std::optional<std::string> startNote;
    std::optional<std::string> endNote;
};

SplitCutPlan planSplitCuts(const SplitSourceConfiguration& configuration);

// The files one configuration writes into `folder`, whatever its times: "<name>-clip.<ext>" for
// a range, "<name>-part-1.<ext>" and "<name>-part-2.<ext>" for a split point.
std::vector<std::filesystem::path> splitOutputs(const SplitSourceConfiguration& configuration,
                                                const std::filesystem::path& folder);

// The split requests of one configuration into `folder`: "<name>-clip.<ext>" for a range,
// "<name>-part-1.<ext>" and "<name>-part-2.<ext>" for a split point, with the times of
// planSplitCuts in the file's own timestamps. Empty while the configuration is refused.
std::vector<ProcessingRequest> makeSplitRequests(const SplitSourceConfiguration& configuration,
                                                 const std::filesystem::path& folder);

// Why the whole workspace cannot be queued (no files, no folder, the first invalid file, or the
// first output whose name `outputNameProblem` refuses with `lookup`); none when it can.
std::optional<std::string> splitWorkspaceValidationMessage(
    const std::vector<SplitSourceConfiguration>& sources,
    const std::optional<std::filesystem::path>& outputDirectory, const OutputLookup& lookup = {});

// How many files the workspace writes: one per range, two per split point, none for a file that
// is not media.
int splitOutputCount(const std::vector<SplitSourceConfiguration>& sources);

}  // namespace tavrolin
