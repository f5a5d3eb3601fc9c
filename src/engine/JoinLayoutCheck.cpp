#include "engine/JoinLayoutCheck.h"

#include <algorithm>
#include <tuple>

#include "engine/ContainerPropertyLoss.h"
#include "engine/MillisecondTime.h"
#include "model/ErrorMessage.h"
#include "model/TextMetrics.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::optional<std::string> lowered(const std::optional<std::string>& text) {
    return text ? std::optional(lowercased(*text)) : std::nullopt;
}

// What must be equal, stream by stream, for a stream-copy join. Names compare without regard to
// case; numbers exactly. The sample rate sits apart so that a mismatch can name both rates.
struct JoinStreamSignature {
    MediaStreamKind kind;
    std::string codecName;
    std::optional<std::string> profile;
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<std::string> pixelFormat;
    std::optional<std::int64_t> channelCount;
    std::optional<std::string> channelLayout;
    std::optional<std::int64_t> sampleRate;

    explicit JoinStreamSignature(const MediaStream& stream)
        : kind(stream.kind),
          codecName(lowercased(stream.codecName)),
          profile(lowered(stream.profile)),
          width(stream.width),
          height(stream.height),
          pixelFormat(lowered(stream.pixelFormat)),
          channelCount(stream.channelCount),
          channelLayout(lowered(stream.channelLayout)),
          sampleRate(stream.sampleRate) {}

    auto layout() const {
        return std::tie(kind, codecName, profile, width, height, pixelFormat, channelCount,
                        channelLayout);
    }
};

const std::vector<MediaStream>* readyStreams(const JoinInspectionStates& states,
                                             const fs::path& file) {
    const auto found = states.find(file);
    if (found == states.end()) {
        return nullptr;
    }
    const auto* ready = std::get_if<RemuxSource::Ready>(&found->second);
    return ready ? &ready->streams : nullptr;
}

bool isAnyLoading(const JoinInspectionStates& states) {
    return std::any_of(states.begin(), states.end(), [](const auto& entry) {
        return std::holds_alternative<RemuxSource::Loading>(entry.second);
    });
}

std::string name(const fs::path& file) {
    return file.filename().string();
}

std::string rate(std::int64_t hertz) {
    return decimal(hertz) + " Hz";
}

std::string turn(std::optional<int> rotation) {
    return rotation ? "turned " + std::to_string(*rotation) + "\u00B0 clockwise" : "upright";
}

// A stream as the Remux review names it: "#0 Video stream 0".
std::string streamName(const MediaStream& stream) {
    return "#" + std::to_string(stream.index) + " " + stream.displayTitle();
}

std::string channels(const MediaStream& stream) {
    if (stream.channelLayout && !stream.channelLayout->empty()) {
        return *stream.channelLayout;
    }
    return stream.channelCount ? decimal(*stream.channelCount) + " channels" : "unknown channels";
}

std::string known(const std::optional<std::string>& text, const std::string& what) {
    return text && !text->empty() ? *text : "no " + what;
}

std::string size(const MediaStream& stream) {
    if (stream.width && stream.height) {
        return decimal(*stream.width) + "\u00D7" + decimal(*stream.height);
    }
    if (stream.width || stream.height) {
        return stream.width ? decimal(*stream.width) + " pixels wide"
                            : decimal(*stream.height) + " pixels high";
    }
    return "no size";
}

std::string profileText(const std::optional<std::string>& profile) {
    return profile && !profile->empty() ? *profile + " profile" : "no profile";
}

// The streams of `longer` with nothing alike at their place in `shorter`: walking both in order,
// a stream of `longer` whose kind is not the next of `shorter` is extra. Where that leaves
// streams of `shorter` unmatched, the order differs too, and the streams past `shorter`'s count
// are named.
std::vector<const MediaStream*> extraStreams(const std::vector<MediaStream>& longer,
                                             const std::vector<MediaStream>& shorter) {
    std::vector<const MediaStream*> extra;
    std::size_t matched = 0;
    for (const auto& stream : longer) {
        if (matched < shorter.size() && stream.kind == shorter[matched].kind) {
            ++matched;
        } else {
            extra.push_back(&stream);
        }
    }
    if (matched < shorter.size()) {
        extra.clear();
        for (std::size_t i = shorter.size(); i < longer.size(); ++i) {
            extra.push_back(&longer[i]);
        }
    }
    return extra;
}

// "#2 Audio stream 2, #3 Subtitle stream 3 and #4 Subtitle stream 4"
std::string streamList(const std::vector<const MediaStream*>& streams) {
    std::string text;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == streams.size() ? " and " : ", ") + streamName(*streams[i]);
    }
    return text;
}

// Why files with different stream counts cannot be joined, naming the streams one of them has
// beyond the other's and how Remux leaves them out.
std::string countMismatch(const fs::path& reference,
                          const std::vector<MediaStream>& referenceStreams, const fs::path& other,
                          const std::vector<MediaStream>& otherStreams) {
    const bool otherHasMore = otherStreams.size() > referenceStreams.size();
    const fs::path& holder = otherHasMore ? other : reference;
    const auto extra = otherHasMore ? extraStreams(otherStreams, referenceStreams)
                                    : extraStreams(referenceStreams, otherStreams);
    const bool one = extra.size() == 1;
    return quotedName(other) + " has " + decimal(static_cast<std::int64_t>(otherStreams.size())) +
           (otherStreams.size() == 1 ? " stream; " : " streams; ") + quotedName(reference) +
           " has " + decimal(static_cast<std::int64_t>(referenceStreams.size())) + ". " +
           streamList(extra) + " in " + quotedName(holder) + (one ? " has" : " have") +
           " no match in " + quotedName(otherHasMore ? reference : other) +
           ". Lossless Join requires the same stream count and order. Remove " + quotedName(other) +
           " from the list, or remux " + (otherHasMore ? std::string("it") : quotedName(holder)) +
           " in Remux without " + (one ? "that stream" : "those streams") +
           " and join the remuxed file.";
}

// What differs between a stream and the reference's, each as "this against that".
std::string differences(const MediaStream& other, const MediaStream& reference) {
    const JoinStreamSignature a(other), b(reference);
    std::vector<std::string> found;
    const auto differ = [&](bool differs, const std::string& ours, const std::string& theirs) {
        if (differs) {
            found.push_back(ours + " against " + theirs);
        }
    };
    differ(a.kind != b.kind, std::string(rawValue(other.kind)),
           std::string(rawValue(reference.kind)));
    differ(a.codecName != b.codecName, uppercased(other.codecName),
           uppercased(reference.codecName));
    // A profile alone ("Main") does not say what it is.
    differ(a.profile != b.profile, profileText(other.profile), profileText(reference.profile));
    differ(a.width != b.width || a.height != b.height, size(other), size(reference));
    differ(a.pixelFormat != b.pixelFormat, known(other.pixelFormat, "pixel format"),
           known(reference.pixelFormat, "pixel format"));
    differ(a.channelCount != b.channelCount || a.channelLayout != b.channelLayout, channels(other),
           channels(reference));
    std::string text;
    for (const auto& difference : found) {
        text += (text.empty() ? "" : ", ") + difference;
    }
    return text;
}

// The first difference between another file's streams and the reference's; none when equal.
std::optional<std::string> layoutMismatch(const fs::path& reference,
                                          const std::vector<MediaStream>& referenceStreams,
                                          const fs::path& other,
                                          const std::vector<MediaStream>& otherStreams) {
    const std::string removal = "emove " + quotedName(other) + " from the list";
    const std::string remove = "R" + removal;
    if (otherStreams.size() != referenceStreams.size()) {
        return countMismatch(reference, referenceStreams, other, otherStreams);
    }
    for (std::size_t i = 0; i < otherStreams.size(); ++i) {
        const JoinStreamSignature expected(referenceStreams[i]);
        const JoinStreamSignature actual(otherStreams[i]);
        const std::string stream = streamName(otherStreams[i]) + " in " + quotedName(other);
        if (expected.layout() != actual.layout()) {
            return stream + " does not match " + quotedName(reference) + ": " +
                   differences(otherStreams[i], referenceStreams[i]) + ". " + remove +
                   ", or join it with files made alike.";
        }
        if (expected.sampleRate != actual.sampleRate) {
            if (!expected.sampleRate || !actual.sampleRate) {
                return stream + " does not match " + quotedName(reference) +
                       ": the sample rate of one is not known. " + remove +
                       ", or join it with files made alike.";
            }
            return stream + " has a sample rate of " + rate(*actual.sampleRate) + "; " +
                   quotedName(reference) + " has " + rate(*expected.sampleRate) +
                   ". Lossless Join requires the same sample rate: " + "r" + removal +
                   ", or resample its audio to " + rate(*expected.sampleRate) +
                   " in another program first.";
        }
        // The output carries the first file's turn for the whole join.
        if (referenceStreams[i].rotation != otherStreams[i].rotation) {
            return stream + " is shown " + turn(otherStreams[i].rotation) + "; in " +
                   quotedName(reference) + " it is shown " + turn(referenceStreams[i].rotation) +
                   ". Lossless Join requires the same orientation: " + "r" + removal +
                   ", and join it with files shown the same way up.";
        }
    }
    return std::nullopt;
}

// Where to go from a container that cannot take a stream as it is.
std::string containerAdvice(const StreamCopyCompatibility& compatibility,
                            const std::vector<MediaStream>& streams) {
    const auto holding = compatibility.containersHoldingUnchanged(streams);
    if (holding.empty()) {
        return " No output container takes it as it is: remux the files first, leaving the "
               "stream out, then join the remuxed files.";
    }
    std::string names;
    for (std::size_t i = 0; i < holding.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == holding.size() ? " or " : ", ") + displayName(holding[i]);
    }
    return " Choose " + names + " as the output container.";
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\n\r") != std::string::npos;
}

// The name as one line, each break shown as a return symbol.
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        line += c == '\n' || c == '\r' ? std::string("\u21B5") : std::string(1, c);
    }
    return line;
}

// The chapters and the file's title go into each container the join writes; what a stream
// carries besides its packets follows the same rules as a remux's.
std::optional<std::string> lostFlagsMessage(const std::vector<MediaStream>& streams,
                                            OutputContainer container) {
    const auto lost = ContainerPropertyLoss::losses(streams, {}, container);
    if (lost.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> numbers;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        if (!ContainerPropertyLoss::losses({streams[i]}, {}, container).empty()) {
            numbers.push_back(decimal(static_cast<std::int64_t>(i + 1)));
        }
    }
    std::string listed = numbers.front();
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        listed += (i + 1 == numbers.size() ? " and " : ", ") + numbers[i];
    }
    const bool one = lost.size() == 1;
    return displayName(container) + " cannot keep " + ContainerPropertyLoss::inventory(lost) +
           " of " + (numbers.size() == 1 ? "stream " : "streams ") + listed +
           ". Choose MKV to keep " + (one ? "it." : "them.");
}

// How long the first hidden pictures of a file last, when it hides some.
std::optional<double> trimmedPictures(const std::vector<MediaStream>& streams) {
    double hidden = 0;
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::video) {
            hidden = std::max(hidden, stream.hiddenStart);
        }
    }
    return hidden > 0 ? std::optional(hidden) : std::nullopt;
}

}  // namespace

std::optional<std::string> JoinLayoutCheck::pathProblem(const fs::path& file) {
    const std::string fileName = name(file);
    if (hasLineBreak(fileName)) {
        return "\u201C" + oneLine(fileName) +
               "\u201D cannot be joined because its name contains a line break. Rename the "
               "file.";
    }
    // The folder nearest the file whose name holds one.
    for (fs::path folder = file.parent_path(); !folder.empty() && folder != folder.parent_path();
         folder = folder.parent_path()) {
        if (hasLineBreak(folder.filename().string())) {
            return quotedName(file) + " cannot be joined because the name of its folder \u201C" +
                   oneLine(folder.filename().string()) +
                   "\u201D contains a line break. Move the file or rename the folder.";
        }
    }
    return std::nullopt;
}

std::optional<std::string> JoinLayoutCheck::firstPathProblem(const std::vector<fs::path>& files) {
    for (const auto& file : files) {
        if (auto problem = pathProblem(file)) {
            return problem;
        }
    }
    return std::nullopt;
}

std::optional<std::string> JoinLayoutCheck::containerMessage(
    const std::vector<MediaStream>& streams, OutputContainer container,
    const fs::path& file) const {
    for (const auto& stream : streams) {
        const StreamCopyDecision decision = compatibility_.copyDecision(stream, container);
        if (decision.isIncompatible()) {
            return compatibility_.issueMessage(stream, container, std::nullopt)
                       .value_or("The selected output container cannot hold every stream.") +
                   containerAdvice(compatibility_, streams);
        }
        // The join copies every stream as it is, so a subtitle that needs converting cannot go.
        if (decision.kind == StreamCopyDecision::Kind::convert) {
            return uppercased(stream.codecName) + " subtitle cannot be copied to " +
                   displayName(container) +
                   " without conversion, and Lossless Join copies every stream unchanged." +
                   containerAdvice(compatibility_, streams);
        }
    }
    if (auto many = StreamCopyCompatibility::streamCountMessage(streams, container, name(file))) {
        return *many + containerAdvice(compatibility_, streams);
    }
    return std::nullopt;
}

std::optional<std::string> JoinLayoutCheck::compatibilityMessage(const std::vector<fs::path>& files,
                                                                 const JoinInspectionStates& states,
                                                                 OutputContainer container) const {
    if (auto problem = firstPathProblem(files)) {
        return problem;
    }
    const bool allReady =
        !files.empty() && std::all_of(files.begin(), files.end(), [&](const auto& f) {
            return readyStreams(states, f) != nullptr;
        });
    if (!allReady) {
        return files.size() >= 2
                   ? std::optional<std::string>("Wait for stream inspection to finish.")
                   : std::nullopt;
    }
    const fs::path& reference = files.front();
    const auto& referenceStreams = *readyStreams(states, reference);
    if (auto message = containerMessage(referenceStreams, container, reference)) {
        return message;
    }
    for (std::size_t i = 1; i < files.size(); ++i) {
        if (auto mismatch = layoutMismatch(reference, referenceStreams, files[i],
                                           *readyStreams(states, files[i]))) {
            return mismatch;
        }
    }
    // Reordered video without presentation times goes into no container; the concat reader shows
    // the pictures each file's edit list hides, in every container (the join drops hidden audio).
    for (const auto& file : files) {
        if (auto untimed = StreamCopyCompatibility::untimedVideoMessage(*readyStreams(states, file),
                                                                        container, name(file))) {
            return untimed;
        }
        if (auto trimmed = trimmedPictures(*readyStreams(states, file))) {
            return quotedName(file) + " hides its first " +
                   StreamCopyCompatibility::secondsText(*trimmed) +
                   " with an edit list, which a join cannot keep. Remove it from the list.";
        }
    }
    // Every file has the first one's turn by now.
    return StreamCopyCompatibility::rotationMessage(referenceStreams, container, name(reference));
}

std::string JoinLayoutCheck::statusText(const std::vector<fs::path>& files,
                                        const JoinInspectionStates& states,
                                        OutputContainer container) const {
    if (files.size() < 2) {
        return "Add at least two files. Tavrolin will inspect their stream layouts before "
               "queueing.";
    }
    // Known from the names alone: said while the files are still inspected.
    if (auto problem = firstPathProblem(files)) {
        return *problem;
    }
    if (isAnyLoading(states) || states.size() < files.size()) {
        return "Inspecting codecs and stream layouts\u2026";
    }
    if (auto message = blockingMessage(files, states, container)) {
        return *message;
    }
    std::string ready =
        "Ready for a lossless join: stream order, codecs, dimensions, channels, and " +
        displayName(container) + " compatibility match.";
    // Not reasons to refuse: the join still loses no packet.
    const auto& streams = *readyStreams(states, files.front());
    if (auto lost = lostFlagsMessage(streams, container)) {
        ready += " " + *lost;
    }
    // The join hides what later files hide at their start, and the first file's where the
    // container can: Matroska's codec delay holds only Opus's.
    const bool mp3 = std::any_of(streams.begin(), streams.end(), [](const MediaStream& stream) {
        return stream.kind == MediaStreamKind::audio && lowercased(stream.codecName) == "mp3";
    });
    if (mp3 && container == OutputContainer::mkv) {
        ready +=
            " MKV cannot hide the encoder delay at the start of the MP3 audio, so the "
            "joined file plays about 25 ms of it first. Choose " +
            std::string(containerMessage(streams, OutputContainer::mp3, files.front())
                            ? "MP4"
                            : "MP3 or MP4") +
            " to keep it hidden.";
    }
    return ready;
}

std::optional<std::string> JoinLayoutCheck::blockingMessage(const std::vector<fs::path>& files,
                                                            const JoinInspectionStates& states,
                                                            OutputContainer container) const {
    for (const auto& file : files) {
        const auto found = states.find(file);
        if (found == states.end()) {
            continue;
        }
        if (const auto* failed = std::get_if<RemuxSource::Failed>(&found->second)) {
            if (namesFile(failed->message, name(file))) {
                return failed->message;
            }
            return "Could not inspect " + name(file) + ": " + failed->message;
        }
    }
    return compatibilityMessage(files, states, container);
}

bool JoinLayoutCheck::hasBlockingIssue(const std::vector<fs::path>& files,
                                       const JoinInspectionStates& states,
                                       OutputContainer container) const {
    return files.size() >= 2 &&
           (firstPathProblem(files) ||
            (!isAnyLoading(states) && compatibilityMessage(files, states, container)));
}

}  // namespace tavrolin
