#include "joinsplit/SplitSourceStreams.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "engine/StreamCopyCompatibility.h"
#include "engine/split/SplitSourceLayout.h"
#include "model/CancellationError.h"
#include "model/TextMetrics.h"
#include "preview/PreviewTimeFormat.h"
#include "probe/FFprobeCommandBuilder.h"
#include "probe/FFprobeParser.h"
#include "probe/MediaProbeError.h"
#include "probe/ProbeJson.h"
#include "probe/ProbeText.h"
#include "process/ProcessCancellation.h"

namespace tavrolin {

namespace fs = std::filesystem;

std::vector<std::string> splitStreamProbeArguments(const fs::path& file) {
    // The probing service's entries end with the dispositions it reads.
    std::vector<std::string> arguments = {"-v", "error"};
    arguments.insert(arguments.end(), FFprobeCommandBuilder::hiddenStartArguments.begin(),
                     FFprobeCommandBuilder::hiddenStartArguments.end());
    arguments.insert(arguments.end(),
                     {"-show_entries",
                      FFprobeCommandBuilder::streamEntries +
                          ",attached_pic:stream=start_time,duration:format=start_time,duration",
                      "-of", "json", fs::absolute(file).string()});
    return arguments;
}

SplitSourceStreams parseSplitSourceStreams(std::string_view json) {
    using namespace probejson;
    SplitSourceStreams result;
    std::set<std::int64_t> pictures;
    const nlohmann::json document = parseObject(json);
    for (const auto& element : requiredArray(document, "streams")) {
        const auto& object = asObject(element);
        const std::int64_t index = requiredInteger(object, "index");
        const std::string type = requiredString(object, "codec_type");
        const std::string tag = optionalString(object, "codec_tag_string").value_or("");
        const auto* disposition = optionalObject(object, "disposition");
        if (disposition != nullptr && optionalInteger(*disposition, "attached_pic") == 1) {
            pictures.insert(index);
        } else if (type == "attachment") {
            ++result.attachments;
        } else if (type == "data" && tag != "text") {
            result.dataTracks.push_back(
                {index, tag, optionalString(object, "codec_name").value_or("")});
        } else if (type == "video") {
            const auto start = parseFiniteNumber(optionalString(object, "start_time").value_or(""));
            const auto length = parseFiniteNumber(optionalString(object, "duration").value_or(""));
            if (start && length) {
                result.videoSpans.push_back({index, *start, *start + *length});
            }
        }
    }
    if (const auto* format = optionalObject(document, "format")) {
        result.duration = parseFiniteNumber(optionalString(*format, "duration").value_or(""));
        result.start =
            parseFiniteNumber(optionalString(*format, "start_time").value_or("")).value_or(0);
    }
    result.pictures = static_cast<int>(pictures.size());
    for (auto& stream : FFprobeParser{}.parse(json)) {
        if (!pictures.contains(stream.index)) {
            result.streams.push_back(std::move(stream));
        }
    }
    return result;
}

SplitStreamReader makeSplitStreamReader(std::shared_ptr<ProcessRunning> runner,
                                        ToolLocations locations) {
    auto installed = std::make_shared<InstalledFFmpeg>(runner, locations);
    return [runner = std::move(runner), locations = std::move(locations),
            installed = std::move(installed)](const fs::path& file, std::stop_token stop) {
        const auto toolchain = FFmpegToolchain::resolve(locations);
        const ProcessResult result =
            withProbeSlot(*runner, toolchain.ffprobe, splitStreamProbeArguments(file), stop);
        if (stop.stop_requested()) {
            throw CancellationError();
        }
        if (reportsMissingFile(result, file)) {
            throw MediaProbeError::fileMissing(file);
        }
        if (result.terminationStatus != 0) {
            throw MediaProbeError::processFailed(
                toolFailureText(result, "ffprobe", "ffprobe could not read the file's streams."));
        }
        SplitSourceStreams streams = parseSplitSourceStreams(result.standardOutput);
        if (const auto facts = installed->facts(stop)) {
            streams.release = facts->release();
        }
        if (stop.stop_requested()) {
            throw CancellationError();
        }
        return streams;
    };
}

namespace {

std::string quoted(const fs::path& file) {
    return "\u201C" + file.filename().string() + "\u201D";
}

// "a, b and c"
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

// What the parts leave out of the data tracks, which hold no picture or sound: a note names
// them, but a DVD's navigation packets, which no player of a file misses, go unmentioned. A
// timecode track is never copied: each part's is written anew from the video's timecode.
std::optional<std::string> dataTrackNote(const SplitSourceStreams& streams, const fs::path& source,
                                         std::optional<OutputContainer> container) {
    std::vector<std::string> left;
    for (const auto& track : streams.dataTracks) {
        if (track.codecTag != "tmcd" && track.codecName != "dvd_nav_packet" &&
            !splitPartCarriesData(track.codecName, container)) {
            left.push_back("stream " + std::to_string(track.index));
        }
    }
    if (left.empty()) {
        return std::nullopt;
    }
    const bool one = left.size() == 1;
    return "The parts of " + quoted(source) + " leave out its data " +
           (one ? "track (" : "tracks (") + listed(left) +
           (one ? "), which holds" : "), which hold") +
           " no picture or sound: only MOV keeps such tracks" +
           (container == OutputContainer::mov
                ? "."
                : std::string(". Choose MOV to keep ") + (one ? "it." : "them."));
}

// The streams a part in `container` cannot hold as copied; empty when it holds them all.
std::vector<std::string> refusedStreams(const SplitSourceStreams& streams,
                                        OutputContainer container) {
    // A split's command asks for them where a stream needs them.
    const StreamCopyCompatibility compatibility(streams.release,
                                                StreamCopyCompatibility::Writers::experimental);
    std::vector<std::string> names;
    for (const auto& stream : streams.streams) {
        // Converting a subtitle is no copy: a split writes every stream as it is.
        if (compatibility.copyDecision(stream, container).kind != StreamCopyDecision::Kind::copy) {
            names.push_back("the " + uppercased(stream.codecName) + " " +
                            std::string(rawValue(stream.kind)) + " (stream " +
                            std::to_string(stream.index) + ")");
        }
    }
    return names;
}

bool keepsTurn(const SplitSourceStreams& streams, OutputContainer container) {
    return !StreamCopyCompatibility::rotationMessage(streams.streams, container, {});
}

// The source's own container first, then the others in menu order; none when nothing holds it
// all.
std::optional<OutputContainer> fittingContainer(const SplitSourceStreams& streams,
                                                const fs::path& source) {
    std::vector<OutputContainer> candidates;
    if (const auto own = containerForFile(source)) {
        candidates.push_back(*own);
    }
    candidates.push_back(OutputContainer::mkv);
    candidates.insert(candidates.end(), allOutputContainers.begin(), allOutputContainers.end());
    for (const auto candidate : candidates) {
        if (refusedStreams(streams, candidate).empty() && keepsTurn(streams, candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Names what no container holds: the streams every one refuses, else the ones the chosen one
// refuses, which go nowhere together with the rest.
std::string noContainerSentence(const SplitSourceStreams& streams, const fs::path& source,
                                const std::vector<std::string>& refusedByChosen) {
    std::vector<std::string> everywhere = refusedByChosen;
    for (const auto container : allOutputContainers) {
        const auto refused = refusedStreams(streams, container);
        std::erase_if(everywhere, [&](const std::string& name) {
            return std::find(refused.begin(), refused.end(), name) == refused.end();
        });
    }
    if (!everywhere.empty()) {
        return "No output container can hold " + listed(everywhere) + ". Remux " + quoted(source) +
               " without " + (everywhere.size() == 1 ? "it" : "them") + " and split that.";
    }
    return "No output container can hold " + listed(refusedByChosen) +
           " together with the other streams of " + quoted(source) + ". Remux it without " +
           (refusedByChosen.size() == 1 ? "that stream" : "those streams") + " and split that.";
}

}  // namespace

SplitStreamCheck checkSplitStreams(const SplitSourceStreams& streams, const fs::path& source,
                                   std::optional<OutputContainer> chosen) {
    const auto container = chosen ? chosen : containerForFile(source);
    SplitStreamCheck check;
    if (!container) {
        // The source's own format holds what it holds, but AVI has no way to say that a part's
        // first frame is shown after its audio starts, which frames without a presentation time
        // need after a cut: such a part fails its check once written.
        if (!chosen && lowercased(source.extension().string()) == ".avi" &&
            std::any_of(streams.streams.begin(), streams.streams.end(), [](const auto& stream) {
                return stream.kind == MediaStreamKind::video && stream.lacksPresentationTimes;
            })) {
            const auto fitting = fittingContainer(streams, source);
            check.problem = "AVI cannot say when the first frame of a part of " + quoted(source) +
                            " is shown, because its video frames have no "
                            "presentation times. " +
                            (fitting ? "Choose " + displayName(*fitting) + " for this file."
                                     : std::string("Remux it to MKV and split that."));
        }
        check.note = dataTrackNote(streams, source, container);
        return check;
    }
    if (const auto refused = refusedStreams(streams, *container); !refused.empty()) {
        // Without a fitting container, a format the menu has none for still holds its own.
        const auto fitting = fittingContainer(streams, source);
        check.problem =
            displayName(*container) + " cannot hold " + listed(refused) + " of " + quoted(source) +
            ", and a split copies every stream unchanged. " +
            (fitting                     ? "Choose " + displayName(*fitting) + " for this file."
             : !containerForFile(source) ? std::string("Choose Same as Input for this file.")
                                         : noContainerSentence(streams, source, refused));
        return check;
    }
    if (auto turned = StreamCopyCompatibility::rotationMessage(streams.streams, *container,
                                                               source.filename().string())) {
        check.problem = std::move(turned);
        return check;
    }
    if (auto trimmed = StreamCopyCompatibility::trimmedStartMessage(streams.streams, *container,
                                                                    source.filename().string())) {
        check.problem = std::move(trimmed);
        return check;
    }
    std::vector<std::string> notes;
    const bool keepsAttachments =
        containerForFile(source) == OutputContainer::mkv && container == OutputContainer::mkv;
    if (streams.attachments > 0 && !keepsAttachments) {
        notes.push_back("The parts of " + quoted(source) + " leave out its " +
                        std::to_string(streams.attachments) +
                        (streams.attachments == 1 ? " attachment" : " attachments") +
                        " (fonts and other files): only MKV holds them" +
                        (containerForFile(source) == OutputContainer::mkv
                             ? ". Choose MKV to keep them."
                             : "."));
    }
    if (streams.pictures > 0 && container == OutputContainer::webm) {
        notes.push_back("The parts of " + quoted(source) + " leave out its cover art: " +
                        displayName(OutputContainer::webm) + " holds none.");
    }
    if (auto data = dataTrackNote(streams, source, container)) {
        notes.push_back(std::move(*data));
    }
    if (!notes.empty()) {
        std::string text;
        for (const auto& note : notes) {
            text += (text.empty() ? "" : " ") + note;
        }
        check.note = text;
    }
    return check;
}

std::optional<std::string> splitProgramChangeMessage(const SplitSourceStreams& streams,
                                                     const fs::path& source) {
    if (streams.videoSpans.size() < 2) {
        return std::nullopt;
    }
    // Programs broadcast side by side overlap; a change of programs hands over where the first
    // ends, within a few frames.
    constexpr double kHandOver = 0.5;
    const auto& first = streams.videoSpans.front();
    for (const auto& next : streams.videoSpans) {
        if (next.start >= first.end - kHandOver && next.end > first.end + kHandOver) {
            const double in = std::round((first.end - first.start) * 10) / 10;
            return "The video of " + quoted(source) + " goes on in another stream (stream " +
                   std::to_string(next.index) + ") " + formatPreviewSeconds(in) +
                   " s in, where its program or its PIDs change, and a split follows only the "
                   "first video stream. Remux each program into a file of its own (choose its "
                   "streams on the Remux page) and split those files.";
        }
    }
    return std::nullopt;
}

std::optional<double> splitSourceLength(const SplitSourceStreams& streams,
                                        std::optional<double> origin) {
    if (!streams.duration || *streams.duration <= 0) {
        return std::nullopt;
    }
    return streams.start + *streams.duration - origin.value_or(streams.start);
}

}  // namespace tavrolin
