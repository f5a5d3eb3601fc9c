#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavrolin {

// Command lines of preview preparation: one ffprobe inspection and three ffmpeg attempts that
// never re-encode the video.
class FFmpegPreviewCommandBuilder {
  public:
    static constexpr int attemptCount = 3;

    // The first video stream's codec and the container's duration, as JSON.
    std::vector<std::string> probeArguments(const std::filesystem::path& source) const;
    // Attempt 1 copies everything, 2 encodes the audio to AAC, 3 drops the audio.
    std::vector<std::string> attemptArguments(int attempt, const std::filesystem::path& source,
                                              const std::filesystem::path& output,
                                              const std::string& videoCodecName) const;
};

}  // namespace tavrolin
