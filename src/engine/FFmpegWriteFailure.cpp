#include "engine/FFmpegWriteFailure.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace {

// A line of ffmpeg's own, without the "[matroska @ 0x55…] " in front; none for the indented
// lines that describe the media (metadata values there may read like anything).
std::optional<std::string_view> messageOf(std::string_view line) {
    if (line.empty() || line.front() == ' ' || line.front() == '\t') {
        return std::nullopt;
    }
    while (line.starts_with('[')) {
        const auto close = line.find("] ");
        if (close == std::string_view::npos) {
            break;
        }
        line.remove_prefix(close + 2);
    }
    return line;
}

}  // namespace

FFmpegWriteFailure ffmpegWriteFailure(std::string_view standardError) {
    // ffmpeg words a system error with strerror in the language it inherits from us.
    std::vector<std::string> reasons{"No space left on device", "File too large",
                                     "Disk quota exceeded"};
    for (int error : {ENOSPC, EFBIG, EDQUOT}) {
        reasons.push_back(std::strerror(error));
    }
    auto failure = FFmpegWriteFailure::none;
    while (!standardError.empty()) {
        const auto end = standardError.find_first_of("\r\n");
        const auto message = messageOf(standardError.substr(0, end));
        standardError.remove_prefix(end == std::string_view::npos ? standardError.size() : end + 1);
        if (!message) {
            continue;
        }
        for (const auto& reason : reasons) {
            if (message->ends_with(": " + reason)) {
                return FFmpegWriteFailure::outOfSpace;
            }
        }
        for (std::string_view start : {"Error writing trailer of ", "Error closing file "}) {
            if (message->starts_with(start)) {
                failure = FFmpegWriteFailure::failed;
            }
        }
    }
    return failure;
}

std::string ffmpegFailureMessage(const ProcessResult& result,
                                 const std::filesystem::path& workingOutput,
                                 const std::filesystem::path& output) {
    std::string text =
        toolFailureText(result, "FFmpeg", "FFmpeg stopped without an error message.");
    if (workingOutput.empty() || output.empty()) {
        return text;
    }
    const auto replaceAll = [&text](const std::string& from, const std::string& to) {
        for (auto at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    };
    replaceAll(workingOutput.string(), output.string());
    replaceAll(workingOutput.filename().string(), output.filename().string());
    return text;
}

namespace {

struct WriteCause {
    int error;
    const char* advice;
};
// The system errors a write of the output meets, with what the user can do about each.
constexpr std::array<WriteCause, 7> writeCauses{{
    {EROFS, "Choose another output folder, then try again."},
    {EACCES, "Choose another output folder, then try again."},
    {EPERM, "Choose another output folder, then try again."},
    {ENOENT, "Check that the folder is still there, then try again."},
    {ENOTDIR, "Check that the folder is still there, then try again."},
    {EIO, "Check that the folder and its disk are still there, then try again."},
    {ENAMETOOLONG, "Choose an output folder with a shorter path, then try again."},
}};

}  // namespace

std::string outputWriteFailureSentence(const std::filesystem::path& output, int error) {
    const auto* cause = std::ranges::find(writeCauses, error, &WriteCause::error);
    return "Tavrolin could not write " + quotedName(output) + " in the folder " +
           quotedName(output.parent_path()) + " (" + std::strerror(error) + "). " +
           (cause != writeCauses.end() ? cause->advice
                                       : "Check the output folder, then try again.");
}

std::string ffmpegFailureSentence(const ProcessResult& result,
                                  const std::filesystem::path& workingOutput,
                                  const std::filesystem::path& output) {
    const std::string text = ffmpegFailureMessage(result, workingOutput, output);
    // A line of ffmpeg's own that ends in the output's path and the system's reason.
    for (std::string_view rest = text; !rest.empty();) {
        const auto end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        for (const auto& cause : writeCauses) {
            const std::string ending = output.string() + ": " + std::strerror(cause.error);
            // The whole path: "/in/ro/a.mp4" is not the output "/ro/a.mp4".
            const auto at = line.size() - std::min(line.size(), ending.size());
            if (line.ends_with(ending) && (at == 0 || line[at - 1] == ' ')) {
                return outputWriteFailureSentence(output, cause.error);
            }
        }
    }
    return "FFmpeg could not make " + quotedName(output) +
           ". Check the source and the output folder, then try again. FFmpeg said:\n" + text;
}

void throwIfWorkingOutputGone(const std::filesystem::path& workingOutput,
                              const std::filesystem::path& output, bool written) {
    std::error_code error;
    const auto folder = workingOutput.parent_path();
    if (!std::filesystem::is_directory(folder, error)) {
        throw MediaProcessingError::outputFolderGone(folder, output.filename().string());
    }
    if (written &&
        !std::filesystem::exists(std::filesystem::symlink_status(workingOutput, error))) {
        throw MediaProcessingError::processFailed(
            "The unfinished " + quotedName(output) + " was removed from the folder " +
            quotedName(folder) + " before Tavrolin could finish it. Try again.");
    }
}

}  // namespace tavrolin
