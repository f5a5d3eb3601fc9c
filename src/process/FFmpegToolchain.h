#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "model/PreferencesStore.h"

namespace tavrolin {

// Where the tools may be: the user's choice, the bundled copy, then fixed folders.
struct ToolLocations {
    std::shared_ptr<const PreferencesStore> preferences;  // "customFFmpegPath"; may be null
    std::vector<std::filesystem::path> bundledFFmpegCandidates;
    std::vector<std::filesystem::path> searchFolders{"/usr/local/bin", "/usr/bin"};

    // Bundled copies beside the running executable and in <prefix>/libexec/tavrolin.
    static ToolLocations standard(std::shared_ptr<const PreferencesStore> preferences);
};

// The ffmpeg and ffprobe executables, resolved anew for every operation.
struct FFmpegToolchain {
    std::filesystem::path ffmpeg;
    std::filesystem::path ffprobe;

    // Throws MediaProcessingError::toolNotFound("FFmpeg") or ("ffprobe").
    static FFmpegToolchain resolve(const ToolLocations& locations);

    friend bool operator==(const FFmpegToolchain&, const FFmpegToolchain&) = default;
};

// A regular file (after following links) with execute permission for this process.
bool isExecutableFile(const std::filesystem::path& path);

}  // namespace tavrolin
