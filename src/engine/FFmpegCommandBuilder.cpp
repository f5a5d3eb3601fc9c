#include "engine/FFmpegCommandBuilder.h"

#include <algorithm>
#include <map>

#include "engine/FFmpegArgumentList.h"
#include "engine/JoinWarmUp.h"
#include "engine/MillisecondTime.h"
#include "engine/split/PresentationTimes.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"
#include "model/Paths.h"
#include "model/TextMetrics.h"

namespace tavrolin {

void argumentlist::appendOutput(std::vector<std::string>& arguments,
                                const std::filesystem::path& output) {
    auto container = FFmpegCommandBuilder::containerArguments(output);
    arguments.insert(arguments.end(), container.begin(), container.end());
    arguments.push_back(output.string());
}

namespace {

const char* const sameFileMessage =
    "Choose a new output file. Tavrolin does not replace the source.";

using argumentlist::append;
using argumentlist::streamMap;

using argumentlist::appendOutput;

}  // namespace

std::vector<std::string> FFmpegCommandBuilder::baseArguments() {
    return {"-nostdin", "-hide_banner", "-n", "-nostats", "-progress", "pipe:1"};
}

std::vector<std::string> FFmpegCommandBuilder::containerArguments(
    const std::filesystem::path& output) {
    auto container = containerForFile(output);
    if (!container) {
        return {};
    }
    return {"-f", std::string(muxerName(*container))};
}

std::vector<std::string> FFmpegCommandBuilder::remuxArguments(
    const RemuxRequest& request, const std::filesystem::path& output) const {
    if (request.selectedStreams.empty()) {
        throw MediaProcessingError::invalidRequest("Select at least one stream to include.");
    }
    auto arguments = baseArguments();
    const auto generated = presentationTimeArguments(firstVideoCodec(request.selectedStreams));
    arguments.insert(arguments.end(), generated.begin(), generated.end());
    append(arguments, {"-i", request.input.string()});
    for (const auto& stream : request.selectedStreams) {
        append(arguments, {"-map", streamMap(stream.index)});
    }
    // Fonts for styled subtitles and cover art travel as attachments, which only Matroska holds.
    if (containerForFile(request.input) == OutputContainer::mkv &&
        containerForFile(output) == OutputContainer::mkv) {
        append(arguments, {"-map", "0:t?"});
    }
    append(arguments, {"-c", "copy"});
    // Per-kind positions among the selected streams are the output's per-kind indices.
    int videoPosition = 0;
    int subtitlePosition = 0;
    for (const auto& stream : request.selectedStreams) {
        if (stream.kind == MediaStreamKind::video) {
            if (auto tag = request.videoCodecTagOverrides.find(stream.index);
                tag != request.videoCodecTagOverrides.end()) {
                append(arguments, {"-tag:v:" + std::to_string(videoPosition), tag->second});
            }
            ++videoPosition;
        } else if (stream.kind == MediaStreamKind::subtitle) {
            if (auto codec = request.subtitleCodecOverrides.find(stream.index);
                codec != request.subtitleCodecOverrides.end()) {
                append(arguments, {"-c:s:" + std::to_string(subtitlePosition), codec->second});
            }
            ++subtitlePosition;
        }
    }
    append(arguments, {"-map_metadata", "0"});
    appendOutput(arguments, output);
    return arguments;
}

std::string FFmpegCommandBuilder::concatListText(
    const std::vector<std::filesystem::path>& inputs,
    const std::vector<std::optional<double>>& lengths) {
    std::string text;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto& input = inputs[i];
        if (!text.empty()) {
            text += '\n';
        }
        text += "file '";
        for (char c : input.string()) {
            if (c == '\'') {
                text += "'\\''";
            } else {
                text += c;
            }
        }
        text += '\'';
        if (i < lengths.size() && lengths[i]) {
            text += "\nduration " + formatCommandLineSeconds(*lengths[i]);
        }
    }
    return text;
}

std::vector<std::string> FFmpegCommandBuilder::joinArguments(
    const std::filesystem::path& concatList, const std::filesystem::path& output,
    std::string_view videoCodec, const JoinSideFiles& side) const {
    auto arguments = baseArguments();
    // The concat reader hands these to each input's own reader.
    const auto generated = presentationTimeArguments(videoCodec);
    arguments.insert(arguments.end(), generated.begin(), generated.end());
    if (side.copyTimestamps) {
        append(arguments, {"-copyts"});
    }
    append(arguments, {"-f", "concat", "-safe", "0", "-i", concatList.string()});
    const bool attachmentsFromFirst =
        !side.firstInput.empty() && containerForFile(output) == OutputContainer::mkv;
    if (attachmentsFromFirst) {
        append(arguments, {"-t", "0.001", "-i", side.firstInput.string()});
    }
    // Named, as ffmpeg would otherwise take the chapters of the first input that has some.
    std::string metadataInput = "0";
    if (side.metadata) {
        metadataInput = attachmentsFromFirst ? "2" : "1";
        append(arguments, {"-f", "ffmetadata", "-i", side.metadata->string()});
    }
    append(arguments, {"-map", "0", "-map", "-0:t"});
    for (const auto track : side.chapterTracks) {
        append(arguments, {"-map", "-" + streamMap(track)});
    }
    append(arguments, {"-ignore_unknown"});
    if (attachmentsFromFirst) {
        append(arguments, {"-map", "1:t?"});
    }
    if (attachmentsFromFirst || side.metadata) {
        append(arguments, {"-map_chapters", metadataInput});
    }
    append(arguments, {"-c", "copy", "-map_metadata", metadataInput});
    std::vector<std::string> audioFilters;
    if (side.dropWarmUp) {
        audioFilters.push_back(joinWarmUpFilter());
    }
    const auto container = containerForFile(output);
    const bool matroska = container == OutputContainer::mkv || container == OutputContainer::webm;
    if (matroska &&
        std::any_of(side.streams.begin(), side.streams.end(), [](const MediaStream& stream) {
            return stream.kind == MediaStreamKind::audio && stream.codecName == "vorbis";
        })) {
        audioFilters.push_back(joinVorbisTimingFilter());
    }
    if (!audioFilters.empty()) {
        std::string chain;
        for (const auto& filter : audioFilters) {
            chain += (chain.empty() ? "" : ",") + filter;
        }
        append(arguments, {"-bsf:a", chain});
    }
    // Every stream's flags as given: ffmpeg then marks no stream default on its own.
    std::map<MediaStreamKind, int> positions;
    for (const auto& stream : side.streams) {
        const char* const kind = stream.kind == MediaStreamKind::video   ? "v"
                                 : stream.kind == MediaStreamKind::audio ? "a"
                                                                         : "s";
        append(arguments, {"-disposition:" + std::string(kind) + ":" +
                               std::to_string(positions[stream.kind]++),
                           std::string(stream.isDefault ? "+default" : "-default") +
                               (stream.isForced ? "+forced" : "-forced")});
    }
    appendOutput(arguments, output);
    return arguments;
}

std::vector<std::string> FFmpegCommandBuilder::chapterArguments(
    const ChapterRequest& request, const std::filesystem::path& chapterFile,
    const std::filesystem::path& output) const {
    if (request.chapters.empty()) {
        throw MediaProcessingError::invalidRequest("Add at least one chapter marker.");
    }
    if (standardizedPath(request.input) == standardizedPath(request.output)) {
        throw MediaProcessingError::invalidRequest(sameFileMessage);
    }
    auto arguments = baseArguments();
    append(arguments, {"-i", request.input.string(), "-f", "ffmetadata", "-i", chapterFile.string(),
                       "-map", "0", "-map_metadata", "0", "-map_chapters", "1", "-c", "copy"});
    appendOutput(arguments, output);
    return arguments;
}

std::vector<std::string> FFmpegCommandBuilder::transcriptionMediaArguments(
    const TranscriptionMediaRequest& request, const std::filesystem::path& subtitleFile,
    const std::optional<std::filesystem::path>& chapterFile,
    const std::filesystem::path& output) const {
    if (request.selectedStreams.empty()) {
        throw MediaProcessingError::invalidRequest(
            "The source has no compatible media streams to export.");
    }
    if (request.cues.empty()) {
        throw MediaProcessingError::invalidRequest(
            "Transcribe the source before exporting a media file.");
    }
    if (!request.replacesInput &&
        standardizedPath(request.input) == standardizedPath(request.output)) {
        throw MediaProcessingError::invalidRequest(sameFileMessage);
    }
    auto container = containerForFile(output);
    if (!container) {
        throw MediaProcessingError::invalidRequest(
            "Choose MP4, M4V, MOV, MKV, or WebM as the output container.");
    }
    if (!request.chapters.empty() && !chapterFile) {
        throw MediaProcessingError::invalidRequest("Chapter metadata is missing from this export.");
    }

    auto arguments = baseArguments();
    append(arguments, {"-i", request.input.string(), "-f", "srt", "-i", subtitleFile.string()});
    if (chapterFile) {
        append(arguments, {"-f", "ffmetadata", "-i", chapterFile->string()});
    }
    if (request.mapsEverySourceStream) {
        append(arguments, {"-map", "0"});
    } else {
        for (const auto& stream : request.selectedStreams) {
            append(arguments, {"-map", streamMap(stream.index)});
        }
    }
    append(arguments, {"-map", "1:0", "-c", "copy"});
    int subtitlePosition = 0;
    for (const auto& stream : request.selectedStreams) {
        if (stream.kind != MediaStreamKind::subtitle) {
            continue;
        }
        if (auto codec = request.subtitleCodecOverrides.find(stream.index);
            codec != request.subtitleCodecOverrides.end()) {
            append(arguments, {"-c:s:" + std::to_string(subtitlePosition), codec->second});
        }
        ++subtitlePosition;
    }
    // The transcript follows every selected subtitle stream.
    const std::string transcript = std::to_string(subtitlePosition);
    switch (*container) {
        case OutputContainer::mp4:
        case OutputContainer::mov:
        case OutputContainer::m4v:
            append(arguments, {"-c:s:" + transcript, "mov_text"});
            break;
        case OutputContainer::webm:
            append(arguments, {"-c:s:" + transcript, "webvtt"});
            break;
        case OutputContainer::mkv:
        case OutputContainer::mp3:  // no export's: containerForFile names it for Join alone
            break;
    }
    // The chapter list is the user's: an emptied list must not bring the source's back.
    append(arguments, {"-metadata:s:s:" + transcript, "language=" + request.subtitleLanguage,
                       "-metadata:s:s:" + transcript, "title=Tavrolin Transcript", "-map_metadata",
                       "0", "-map_chapters", chapterFile ? "2" : "-1"});
    appendOutput(arguments, output);
    return arguments;
}

}  // namespace tavrolin
