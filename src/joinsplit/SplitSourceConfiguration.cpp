#include "joinsplit/SplitSourceConfiguration.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/ErrorMessage.h"
#include "preview/PreviewTimeFormat.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr const char* rangeMessage = "Enter an end time later than the start time.";

// Audio alone has no keyframes: it is cut at the time asked for, and the sentences name it.
bool isAudioOnly(const std::optional<SplitKeyframes>& keyframes) {
    return keyframes && keyframes->times.empty();
}

const char* mediaName(const std::optional<SplitKeyframes>& keyframes) {
    return isAudioOnly(keyframes) ? "audio" : "video";
}

std::string splitPointMessage(const std::optional<SplitKeyframes>& keyframes) {
    return std::string("Choose a split point after the beginning of the ") + mediaName(keyframes) +
           ".";
}

// A field whose text is no number of seconds: says which one, with an example to follow.
std::string notSecondsMessage(const char* field, const char* example) {
    return std::string("Enter the ") + field + " in seconds, as in " + example + ".";
}

std::string timecode(double seconds) {
    return formatPreviewTimecode(seconds);
}

// Where a cut falls and, for a cut that ends a part, the frames just before it that neither
// part can show.
std::string cutNote(const SplitKeyframes& keyframes, double cut, int lost = 0) {
    if (keyframes.times.empty()) {
        // The cut lands on the first audio frame at or after the time, as the split makes it
        // (within its margin); a FLAC frame may start a tenth of a second later.
        const auto& frames = keyframes.audioFrames;
        const auto landing = std::lower_bound(frames.begin(), frames.end(), cut - 0.001);
        if (landing != frames.end() && *landing - cut >= 0.001) {
            return "Cuts the audio at " + timecode(*landing) +
                   ", where its first frame at or after " + timecode(cut) + " starts.";
        }
        return "Cuts the audio at " + timecode(cut) + ".";
    }
    std::string note = "Cuts at " + timecode(cut) + ", the keyframe at or before this time.";
    if (lost > 0) {
        note += " " + std::to_string(lost) + (lost == 1 ? " frame" : " frames") +
                " before this keyframe can't be kept without re-encoding.";
    }
    return note;
}

std::string endNote(const SplitKeyframes& keyframes) {
    return std::string("Runs to the end of the ") + mediaName(keyframes) + " (" +
           timecode(keyframes.end) + ").";
}

std::string pastEndMessage(const char* what, const std::optional<SplitKeyframes>& keyframes) {
    return std::string("Choose a ") + what + " before the end of the " + mediaName(keyframes) +
           (keyframes ? " (" + timecode(keyframes->end) + ")." : std::string("."));
}

// "5,5" typed for 5.5: the hint to use a point, with the user's own number.
std::optional<std::string> decimalCommaMessage(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    std::string withPoint(text);
    withPoint[comma] = '.';
    if (!parseSplitSeconds(withPoint)) {
        return std::nullopt;
    }
    return "Use a point for decimals, as in " + withPoint + ".";
}

std::string unreadableMessage(std::string_view text, const char* field, const char* example) {
    return decimalCommaMessage(text).value_or(notSecondsMessage(field, example));
}

// A split point before the first keyframe after the beginning would leave part 1 empty.
std::string pointTooEarlyMessage(const SplitKeyframes& keyframes) {
    const auto second = keyframes.after(keyframes.times.front());
    if (!second) {
        return "The video has no keyframe after its beginning, so it can't be split without "
               "re-encoding.";
    }
    return "Choose a split point at or after " + timecode(*second) +
           ", the first keyframe after the beginning; an earlier one leaves the first part empty.";
}

// An end whose cut falls on the start's keyframe would leave the clip empty.
std::string endTooEarlyMessage(const SplitKeyframes& keyframes, double from) {
    if (const auto next = keyframes.after(from)) {
        return "Choose an end time at or after " + timecode(*next) +
               ", the first keyframe after the start (" + timecode(from) +
               "); an earlier end leaves the clip empty.";
    }
    return "No keyframe follows the start (" + timecode(from) +
           "), so the clip runs to the end of the video: enter an end time of " +
           formatPreviewSeconds(keyframes.end) + " or later.";
}

// The keyframe a cut at `seconds` uses; none for the beginning of the file. Without keyframes
// (audio only) the time itself.
std::optional<double> cutAt(const SplitKeyframes& keyframes, double seconds) {
    if (keyframes.times.empty()) {
        return seconds > 0 ? std::optional(seconds) : std::nullopt;
    }
    const auto keyframe = keyframes.atOrBefore(seconds);
    return keyframe && *keyframe > keyframes.times.front() ? keyframe : std::nullopt;
}

double firstKeyframe(const SplitKeyframes& keyframes) {
    return keyframes.times.empty() ? 0 : keyframes.times.front();
}

std::string startNote(const SplitKeyframes& keyframes, std::optional<double> cut) {
    return cut ? cutNote(keyframes, *cut)
               : std::string("Starts at the beginning of the ") +
                     mediaName(std::optional(keyframes)) + ".";
}

SplitCutPlan planPoint(const SplitKeyframes& keyframes, double point) {
    SplitCutPlan plan;
    if (point >= keyframes.end) {
        plan.error = pastEndMessage("split point", std::optional(keyframes));
        return plan;
    }
    plan.start = cutAt(keyframes, point);
    if (!plan.start) {
        plan.error = keyframes.times.empty() ? splitPointMessage(keyframes)
                                             : pointTooEarlyMessage(keyframes);
        return plan;
    }
    plan.startNote = cutNote(keyframes, *plan.start, keyframes.lostBefore(*plan.start));
    return plan;
}

SplitCutPlan planRange(const SplitKeyframes& keyframes, double start, double end) {
    SplitCutPlan plan;
    plan.start = cutAt(keyframes, start);
    plan.startNote = startNote(keyframes, plan.start);
    if (end >= keyframes.end) {
        plan.endNote = endNote(keyframes);
        return plan;
    }
    const double from = plan.start.value_or(firstKeyframe(keyframes));
    plan.end = cutAt(keyframes, end);
    if (!plan.end || *plan.end <= from) {
        plan.end.reset();
        plan.error = endTooEarlyMessage(keyframes, from);
        return plan;
    }
    plan.endNote = cutNote(keyframes, *plan.end, keyframes.lostBefore(*plan.end));
    return plan;
}

// Where a request starts when its part starts where the file does, whatever the file's first
// timestamp (a broadcast recording's may be negative).
constexpr double kFromBeginning = -std::numeric_limits<double>::infinity();

// The frames of the part from keyframe `from` (none: the beginning) to keyframe `to` (none: the
// end), times from the first frame: the packets decoded between them, less the leading
// pictures of `from`, which belong before it (those of `to` are decoded after it). A copy from
// the beginning keeps no packet before the first keyframe.
std::optional<SplitFrameCount> framesBetween(const SplitKeyframes& keyframes,
                                             std::optional<double> from, std::optional<double> to) {
    const auto& times = keyframes.times;
    if (times.empty() || keyframes.packetsBefore.size() != times.size()) {
        return std::nullopt;
    }
    const auto indexOf = [&](double keyframe) -> std::optional<std::size_t> {
        const auto found = std::lower_bound(times.begin(), times.end(), keyframe);
        if (found == times.end() || *found != keyframe) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(found - times.begin());
    };
    const auto fromAt = from ? indexOf(*from) : std::optional<std::size_t>(0);
    const auto toAt = to ? indexOf(*to) : std::nullopt;
    if (!fromAt || (to && !toAt)) {
        return std::nullopt;
    }
    const std::int64_t first = keyframes.packetsBefore[*fromAt];
    const std::int64_t last = toAt ? keyframes.packetsBefore[*toAt] : keyframes.packets;
    SplitFrameCount count{last - first - (from ? keyframes.leadingPackets(*from) : 0),
                          to ? keyframes.lostBefore(*to) : 0,
                          from ? keyframes.lostBefore(*from) : 0};
    if (toAt && keyframes.stopsBefore.size() == times.size()) {
        count.stop = keyframes.stopsBefore[*toAt];
    }
    // A packed keyframe's packet lies at another time than the keyframe.
    const auto& packed = keyframes.packedKeyframes;
    if (from && std::find(packed.begin(), packed.end(), *from) == packed.end()) {
        count.keyframeGap =
            *fromAt == 0 ? std::numeric_limits<double>::infinity() : *from - times[*fromAt - 1];
    }
    return count;
}

fs::path outputPath(const fs::path& folder, const fs::path& file, const std::string& suffix,
                    const std::string& extension) {
    std::string name = file.stem().string() + "-" + suffix;
    if (!extension.empty()) {
        name += "." + extension;
    }
    return folder / name;
}

}  // namespace

std::string_view rawValue(SplitOperationMode mode) {
    return mode == SplitOperationMode::range ? "range" : "atPoint";
}

std::optional<double> parseSplitSeconds(std::string_view text) {
    // Spaces around a number, as pasted, are no part of it.
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    text = text.substr(first, text.find_last_not_of(" \t") + 1 - first);
    const auto value = parsePosixNumber(text);
    if (!value || std::isnan(*value)) {
        return std::nullopt;
    }
    return value;
}

SplitCutPlan planSplitCuts(const SplitSourceConfiguration& configuration) {
    SplitCutPlan plan;
    const auto& known = configuration.keyframes;
    // A time past what any file holds is past this one's end, whether or not the end is known.
    const auto pastAnyEnd = [](double seconds) { return std::isinf(seconds) && seconds > 0; };
    if (configuration.operationMode == SplitOperationMode::atPoint) {
        const std::string& text = configuration.splitPointText;
        const auto point = parseSplitSeconds(text);
        if (!point) {
            plan.error = text.find_first_not_of(" \t") == std::string::npos
                             ? splitPointMessage(known)
                             : unreadableMessage(text, "split point", "12.5");
            return plan;
        }
        if (*point <= 0) {
            plan.error = splitPointMessage(known);
            return plan;
        }
        if (pastAnyEnd(*point)) {
            plan.error = pastEndMessage("split point", known);
            return plan;
        }
        plan.start = point;
    } else {
        const auto start = parseSplitSeconds(configuration.startText);
        const auto end = parseSplitSeconds(configuration.endText);
        if (!start) {
            plan.error = unreadableMessage(configuration.startText, "start time", "12.5");
            return plan;
        }
        if (*start < 0) {
            plan.error = "Enter a start time of 0 or later.";
            return plan;
        }
        if (pastAnyEnd(*start) || (known && *start >= known->end)) {
            plan.error = pastEndMessage("start time", known);
            return plan;
        }
        if (!end) {
            plan.error = unreadableMessage(configuration.endText, "end time", "60");
            // The start's own hint stays while the end is being typed.
            if (known && !configuration.isReadingKeyframes) {
                plan.startNote = startNote(*known, cutAt(*known, *start));
            }
            return plan;
        }
        if (*start >= *end) {
            plan.error = rangeMessage;
            return plan;
        }
        plan.start = *start > 0 ? start : std::nullopt;
        // An end past any file's is its end.
        plan.end = pastAnyEnd(*end) ? std::nullopt : end;
    }
    if (configuration.keyframeError) {
        plan.error = *configuration.keyframeError;
    } else if (configuration.isReadingKeyframes) {
        plan.error = "Tavrolin is still reading where this file can be cut.";
    }
    if (plan.error || !configuration.keyframes) {
        return plan;
    }
    const auto& keyframes = *configuration.keyframes;
    if (configuration.operationMode == SplitOperationMode::atPoint) {
        return planPoint(keyframes, *plan.start);
    }
    return planRange(keyframes, plan.start.value_or(0),
                     plan.end.value_or(std::numeric_limits<double>::infinity()));
}

namespace {

// The real times of a plan that can be queued, in the page's time format.
struct ShownCut {
    std::string start;
    std::string end;
};

std::optional<ShownCut> shownCut(const SplitSourceConfiguration& configuration) {
    if (!configuration.keyframes) {
        return std::nullopt;
    }
    const SplitCutPlan plan = planSplitCuts(configuration);
    if (plan.error) {
        return std::nullopt;
    }
    return ShownCut{formatPreviewTimecode(plan.start.value_or(0)),
                    formatPreviewTimecode(plan.end.value_or(configuration.keyframes->end))};
}

// A time as typed, in seconds.
std::string typed(const std::string& text) {
    return text + "s";
}

}  // namespace

std::string SplitSourceConfiguration::selectionSummary() const {
    const auto cut = shownCut(*this);
    if (operationMode == SplitOperationMode::range) {
        return "Start: " + (cut ? cut->start : typed(startText)) +
               "  \u00B7  End: " + (cut ? cut->end : typed(endText));
    }
    if (cut) {
        return "Split point: " + cut->start;
    }
    return "Split point: " +
           (splitPointText.empty() ? std::string("Not set") : typed(splitPointText));
}

std::string SplitSourceConfiguration::listSummary() const {
    const auto cut = shownCut(*this);
    if (operationMode == SplitOperationMode::range) {
        return (cut ? cut->start : typed(startText)) + "\u2013" + (cut ? cut->end : typed(endText));
    }
    if (cut) {
        return "Split at " + cut->start;
    }
    return "Split at " + (splitPointText.empty() ? std::string("\u2014") : typed(splitPointText));
}

namespace {

SplitStreamCheck streamCheck(const SplitSourceConfiguration& configuration) {
    if (!configuration.streams) {
        return {};
    }
    return checkSplitStreams(*configuration.streams, configuration.file, configuration.container);
}

}  // namespace

void SplitSourceConfiguration::showFileLength() {
    if (endIsTyped) {
        return;
    }
    std::optional<double> length =
        streams ? splitSourceLength(*streams,
                                    keyframes ? std::optional(keyframes->origin) : std::nullopt)
                : std::nullopt;
    if (!length && keyframes) {
        length = keyframes->end;
    }
    if (length && *length > 0) {
        endText = formatPreviewSeconds(std::round(*length * 1000) / 1000);
    }
}

std::optional<std::string> SplitSourceConfiguration::validationMessage() const {
    // A file whose video goes on in another stream is refused whatever the times.
    if (streams && !keyframeError) {
        if (auto changed = splitProgramChangeMessage(*streams, file)) {
            return changed;
        }
    }
    const SplitCutPlan plan = planSplitCuts(*this);
    return plan.error ? plan.error : streamCheck(*this).problem;
}

std::optional<std::string> SplitSourceConfiguration::streamNote() const {
    return streamCheck(*this).note;
}

std::vector<fs::path> splitOutputs(const SplitSourceConfiguration& configuration,
                                   const fs::path& folder) {
    const fs::path& file = configuration.file;
    std::string extension;
    if (configuration.container) {
        extension = std::string(rawValue(*configuration.container));
    } else if (file.has_extension()) {
        extension = file.extension().string().substr(1);
    }
    if (configuration.operationMode == SplitOperationMode::range) {
        return {outputPath(folder, file, "clip", extension)};
    }
    return {outputPath(folder, file, "part-1", extension),
            outputPath(folder, file, "part-2", extension)};
}

std::vector<ProcessingRequest> makeSplitRequests(const SplitSourceConfiguration& configuration,
                                                 const fs::path& folder) {
    const SplitCutPlan plan = planSplitCuts(configuration);
    if (plan.error) {
        return {};
    }
    // The requests name the cuts in the file's own timestamps, with the frames between them.
    const auto& keyframes = configuration.keyframes;
    const auto outputs = splitOutputs(configuration, folder);
    const auto part = [&](const fs::path& output, std::optional<double> from,
                          std::optional<double> to) {
        // A packed keyframe's packet comes a frame before it is shown.
        const auto fileTime = [&](double cut) {
            return keyframes ? keyframes->origin + keyframes->packetTime(cut) : cut;
        };
        return SplitRequest{configuration.file,
                            output,
                            from ? fileTime(*from) : kFromBeginning,
                            to ? std::optional(fileTime(*to)) : std::nullopt,
                            keyframes ? framesBetween(*keyframes, from, to) : std::nullopt,
                            keyframes && keyframes->stillPicture};
    };
    if (configuration.operationMode == SplitOperationMode::range) {
        return {part(outputs[0], plan.start, plan.end)};
    }
    return {part(outputs[0], std::nullopt, plan.start), part(outputs[1], plan.start, std::nullopt)};
}

std::optional<std::string> splitWorkspaceValidationMessage(
    const std::vector<SplitSourceConfiguration>& sources,
    const std::optional<fs::path>& outputDirectory, const OutputLookup& lookup) {
    if (sources.empty()) {
        return "Add at least one file.";
    }
    if (!outputDirectory) {
        return "Choose an output folder.";
    }
    for (const auto& source : sources) {
        if (auto message = source.validationMessage()) {
            const std::string name = source.file.filename().string();
            return namesFile(*message, name) ? *message : name + ": " + *message;
        }
        for (const auto& request : makeSplitRequests(source, *outputDirectory)) {
            if (auto problem =
                    outputNameProblem(source.file, request.as<SplitRequest>()->output, lookup)) {
                return std::move(problem->message);
            }
        }
    }
    return std::nullopt;
}

int splitOutputCount(const std::vector<SplitSourceConfiguration>& sources) {
    int count = 0;
    for (const auto& source : sources) {
        if (!source.isNotMedia) {
            count += source.operationMode == SplitOperationMode::range ? 1 : 2;
        }
    }
    return count;
}

}  // namespace tavrolin
