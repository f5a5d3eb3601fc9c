#pragma once

#include <filesystem>
#include <string>

#include "process/FFmpegToolchain.h"

namespace tavtest {

// The first line of a stand-in ffmpeg that answers -version as the real one does.
inline constexpr const char* kAnswersVersion =
    "if [ \"$1\" = -version ]; then exec /usr/bin/ffmpeg -version; fi\n";

// Writes `body` as an executable bash script at `path` (replacing what was there) and returns
// the path.
std::filesystem::path writeScript(const std::filesystem::path& path, const std::string& body);

// Stand-in tools in `folder`: `ffmpeg` runs `ffmpegBody`; `ffprobe` runs `ffprobeBody`, or is the
// real /usr/bin/ffprobe when that is empty. The locations pick them through "customFFmpegPath",
// as a user's setting would. Calling it again for the same folder replaces both tools.
tavrolin::ToolLocations standInTools(const std::filesystem::path& folder,
                                     const std::string& ffmpegBody,
                                     const std::string& ffprobeBody = {});

}  // namespace tavtest
