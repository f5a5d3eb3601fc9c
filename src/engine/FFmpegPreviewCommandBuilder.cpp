#include "engine/FFmpegPreviewCommandBuilder.h"

#include <stdexcept>

namespace tavrolin {

std::vector<std::string> FFmpegPreviewCommandBuilder::probeArguments(
    const std::filesystem::path& source) const {
    return {"-v",  "error",         "-select_streams",
            "v:0", "-show_entries", "format=duration:stream=codec_name",
            "-of", "json",          source.string()};
}

std::vector<std::string> FFmpegPreviewCommandBuilder::attemptArguments(
    int attempt, const std::filesystem::path& source, const std::filesystem::path& output,
    const std::string& videoCodecName) const {
    std::vector<std::string> arguments{"-nostdin",  "-hide_banner", "-n", "-nostats",
                                       "-progress", "pipe:1",       "-i", source.string(),
                                       "-map",      "0:v:0"};
    switch (attempt) {
        case 1:
            arguments.insert(arguments.end(), {"-map", "0:a:0?", "-c", "copy"});
            break;
        case 2:
            arguments.insert(arguments.end(),
                             {"-map", "0:a:0?", "-c:v", "copy", "-c:a", "aac", "-b:a", "192k"});
            break;
        case 3:
            arguments.insert(arguments.end(), {"-c", "copy"});
            break;
        default:
            throw std::invalid_argument("preview attempts are numbered 1 to 3");
    }
    if (videoCodecName == "hevc") {
        // Many players open HEVC in MP4 only with the hvc1 tag (not hev1).
        arguments.insert(arguments.end(), {"-tag:v", "hvc1"});
    }
    arguments.insert(arguments.end(), {"-sn", "-dn", "-movflags", "+faststart", output.string()});
    return arguments;
}

}  // namespace tavrolin
