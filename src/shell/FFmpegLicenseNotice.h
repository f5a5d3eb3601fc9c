#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "process/FFmpegVersion.h"

namespace tavrolin {

// The sentence of the settings window about the FFmpeg in use. The sentence about the included
// notices is only true of the copy installed with Tavrolin.
QString ffmpegLicenseNotice(const std::optional<FFmpegBuildFacts>& facts,
                            const std::filesystem::path& ffmpeg, bool isBundled);

// When no ffmpeg is found.
QString ffmpegMissingNotice();

}  // namespace tavrolin
