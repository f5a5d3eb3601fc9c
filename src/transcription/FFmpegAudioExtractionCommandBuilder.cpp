#include "transcription/FFmpegAudioExtractionCommandBuilder.h"

namespace tavrolin {

std::vector<std::string> FFmpegAudioExtractionCommandBuilder::arguments(
    const std::filesystem::path& source, std::int64_t audioStreamIndex,
    const std::filesystem::path& output) const {
    // The source is input 0, so "0:<index>" picks the stream by its absolute index.
    return {"-hide_banner",
            "-nostdin",
            "-v",
            "error",
            "-i",
            std::filesystem::absolute(source).string(),
            "-map",
            "0:" + std::to_string(audioStreamIndex),
            "-vn",
            "-sn",
            "-dn",
            "-progress",
            "pipe:1",
            "-nostats",
            "-ac",
            "1",
            "-ar",
            "16000",
            "-c:a",
            "pcm_s16le",
            "-f",
            "wav",
            std::filesystem::absolute(output).string()};
}

}  // namespace tavrolin
