#include "process/FFmpegToolchain.h"

#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/MediaProcessingError.h"

namespace tavrolin {

namespace {

constexpr const char* kCustomFFmpegPathKey = "customFFmpegPath";

std::optional<std::filesystem::path> firstExecutable(
    const std::vector<std::filesystem::path>& candidates) {
    for (const auto& candidate : candidates) {
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

// Tools run with absolute paths; a relative setting is taken from the working directory.
std::filesystem::path absoluteOrSame(const std::filesystem::path& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute;
}

}  // namespace

bool isExecutableFile(const std::filesystem::path& path) {
    if (path.empty()) {
        return false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

ToolLocations ToolLocations::standard(std::shared_ptr<const PreferencesStore> preferences) {
    ToolLocations locations;
    locations.preferences = std::move(preferences);
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && executable.has_parent_path()) {
        const auto folder = executable.parent_path();
        locations.bundledFFmpegCandidates.push_back(folder / "ffmpeg");
        locations.bundledFFmpegCandidates.push_back(folder.parent_path() / "libexec" / "tavrolin" /
                                                    "ffmpeg");
    }
    return locations;
}

FFmpegToolchain FFmpegToolchain::resolve(const ToolLocations& locations) {
    std::vector<std::filesystem::path> ffmpegCandidates;
    if (locations.preferences) {
        if (auto custom = locations.preferences->string(kCustomFFmpegPathKey);
            custom && !custom->empty()) {
            ffmpegCandidates.emplace_back(*custom);
        }
    }
    ffmpegCandidates.insert(ffmpegCandidates.end(), locations.bundledFFmpegCandidates.begin(),
                            locations.bundledFFmpegCandidates.end());
    for (const auto& folder : locations.searchFolders) {
        ffmpegCandidates.push_back(folder / "ffmpeg");
    }
    const auto ffmpeg = firstExecutable(ffmpegCandidates);
    if (!ffmpeg) {
        throw MediaProcessingError::toolNotFound("FFmpeg");
    }

    std::vector<std::filesystem::path> ffprobeCandidates{ffmpeg->parent_path() / "ffprobe"};
    for (const auto& folder : locations.searchFolders) {
        ffprobeCandidates.push_back(folder / "ffprobe");
    }
    const auto ffprobe = firstExecutable(ffprobeCandidates);
    if (!ffprobe) {
        throw MediaProcessingError::toolNotFound("ffprobe");
    }
    return FFmpegToolchain{absoluteOrSame(*ffmpeg), absoluteOrSame(*ffprobe)};
}

}  // namespace tavrolin
