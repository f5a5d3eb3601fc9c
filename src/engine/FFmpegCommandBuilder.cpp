#include "engine/FFmpegCommandBuilder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"

namespace tavrolin {

namespace {

const char* const sameFileMessage =
    "Choose a new output file. Tavrolin does not replace the source.";

void append(std::vector<std::string>& arguments, std::initializer_list<std::string> more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
}

void appendOutput(std::vector<std::string>& arguments, const std::filesystem::path& output) {
    auto container = FFmpegCommandBuilder::containerArguments(output);
    arguments.insert(arguments.end(), container.begin(), container.end());
    arguments.push_back(output.string());
}

std::string streamMap(std::int64_t index) {
    return "0:" + std::to_string(index);
}

}  // namespace

std::string formatCommandLineSeconds(double seconds) {
    char buffer[128];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 6);
    if (result.ec != std::errc{}) {
        return "0.000000";
    }
    return std::string(buffer, result.ptr);
}

std::filesystem::path standardizedPath(const std::filesystem::path& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return (error ? path : absolute).lexically_normal();
}

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

std::vector<std::string> FFmpegCommandBuilder::joinArguments(
    const std::filesystem::path& concatList, const std::filesystem::path& output) const {
    auto arguments = baseArguments();
    append(arguments, {"-f", "concat", "-safe", "0", "-i", concatList.string(), "-map", "0", "-c",
                       "copy", "-map_metadata", "0"});
    appendOutput(arguments, output);
    return arguments;
}

namespace {

// The segment muxer reads its file name as a pattern: every "%" but the piece number's doubles.
std::string escapedPattern(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '%') {
            escaped += '%';
        }
    }
    return escaped;
}

std::size_t pieceDigitPosition(const std::string& path, const std::filesystem::path& output) {
    const std::size_t extension = output.has_extension() ? output.extension().string().size() : 0;
    return path.size() - extension - 1;
}

bool cutsAtStart(const SplitRequest& request) {
    return request.startTime > 0;
}

// The seek lands this much before the first cut (more than any reordering delay), so the piece
// before it is never empty and the part is always piece 1.
constexpr double splitMargin = 1.0;
// ffmpeg stops reading this much past the end cut: its keyframe, decoded before it is shown, has
// been read by then and opened the next piece.
constexpr double splitEndMargin = 0.1;

}  // namespace

std::filesystem::path FFmpegCommandBuilder::splitPieceFile(const std::filesystem::path& output,
                                                           int piece) {
    std::string path = output.string();
    path[pieceDigitPosition(path, output)] = static_cast<char>('0' + piece);
    return path;
}

double FFmpegCommandBuilder::splitLeadIn(const SplitRequest& request) {
    return cutsAtStart(request) ? std::min(request.startTime, splitMargin) : 0;
}

std::filesystem::path FFmpegCommandBuilder::splitPartFile(const SplitRequest& request,
                                                          const std::filesystem::path& output) {
    if (!cutsAtStart(request) && !request.endTime) {
        return output;
    }
    return splitPieceFile(output, cutsAtStart(request) ? 1 : 0);
}

std::vector<std::string> FFmpegCommandBuilder::splitArguments(
    const SplitRequest& request, const std::filesystem::path& output) const {
    // Written so that a start or end that is not a finite number fails too.
    bool valid = std::isfinite(request.startTime) && request.startTime >= 0 &&
                 (!request.endTime ||
                  (std::isfinite(*request.endTime) && request.startTime < *request.endTime));
    if (!valid) {
        throw MediaProcessingError::invalidRequest(
            "The end time must be later than the start time.");
    }
    auto arguments = baseArguments();
    if (!cutsAtStart(request) && !request.endTime) {
        append(arguments, {"-i", request.input.string(), "-map", "0", "-c", "copy"});
        appendOutput(arguments, output);
        return arguments;
    }
    // Timestamps stay the source's, so the cut times are the keyframes' own.
    append(arguments, {"-copyts"});
    std::string times;
    if (cutsAtStart(request)) {
        append(arguments,
               {"-seek_timestamp", "1", "-ss",
                formatCommandLineSeconds(std::max(request.startTime - splitMargin, 0.0))});
        times = formatCommandLineSeconds(request.startTime);
    }
    append(arguments, {"-i", request.input.string(), "-map", "0", "-c", "copy"});
    if (request.endTime) {
        append(arguments, {"-to", formatCommandLineSeconds(*request.endTime + splitEndMargin)});
        times += (times.empty() ? "" : ",") + formatCommandLineSeconds(*request.endTime);
    }
    // Times printed to the microsecond may lie a hair after the keyframe they name.
    append(arguments, {"-avoid_negative_ts", "disabled", "-f", "segment", "-segment_times", times,
                       "-segment_time_delta", "0.000500"});
    if (auto container = containerForFile(output)) {
        append(arguments, {"-segment_format", std::string(muxerName(*container))});
    }
    if (cutsAtStart(request)) {
        append(arguments, {"-reset_timestamps", "1"});
    }
    const std::string path = output.string();
    const std::size_t digit = pieceDigitPosition(path, output);
    arguments.push_back(escapedPattern(std::string_view(path).substr(0, digit)) + "%d" +
                        escapedPattern(std::string_view(path).substr(digit + 1)));
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
