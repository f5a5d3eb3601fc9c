#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrolin {

// What `ffmpeg -version` says about the build: its version and the licence it was configured
// under (GPL with --enable-gpl, else LGPL; version 3 with --enable-version3).
struct FFmpegBuildFacts {
    std::string version;
    bool isGPL = false;
    bool isVersion3 = false;

    // "GPL 2", "GPL version 3", "LGPL 2.1" or "LGPL version 3".
    QString licenceName() const;
};

// None when the output is not that of an ffmpeg program.
std::optional<FFmpegBuildFacts> parseFFmpegVersionOutput(std::string_view output);

// The sentence of the settings window about the FFmpeg in use. The sentence about the included
// notices is only true of the copy installed with Tavrolin.
QString ffmpegLicenseNotice(const std::optional<FFmpegBuildFacts>& facts,
                            const std::filesystem::path& ffmpeg, bool isBundled);

// When no ffmpeg is found.
QString ffmpegMissingNotice();

}  // namespace tavrolin
