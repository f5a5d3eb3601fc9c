#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrolin {

// The ffmpeg arguments that write one audio stream of a file as 16 kHz mono 16-bit PCM WAV,
// with the progress report on standard output. No overwrite flag: the output always lies in a
// fresh folder. Pure.
struct FFmpegAudioExtractionCommandBuilder {
    std::vector<std::string> arguments(const std::filesystem::path& source,
                                       std::int64_t audioStreamIndex,
                                       const std::filesystem::path& output) const;
};

}  // namespace tavrolin
