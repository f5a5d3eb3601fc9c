#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/ProcessingRequest.h"

namespace tavrolin {

// Turns one media-writing request into the argument list of one ffmpeg run. Every operation is
// a pure function; the output path given is the one ffmpeg writes (the hidden working output),
// while the request's own `output` serves only the same-file checks. Validation failures throw
// MediaProcessingError::invalidRequest.
class FFmpegCommandBuilder {
  public:
    // -nostdin -hide_banner -n -nostats -progress pipe:1
    static std::vector<std::string> baseArguments();
    // "-f" and the muxer named by the output's lower-cased extension; empty when unknown.
    static std::vector<std::string> containerArguments(const std::filesystem::path& output);

    std::vector<std::string> remuxArguments(const RemuxRequest& request,
                                            const std::filesystem::path& output) const;
    std::vector<std::string> joinArguments(const std::filesystem::path& concatList,
                                           const std::filesystem::path& output) const;
    std::vector<std::string> splitArguments(const SplitRequest& request,
                                            const std::filesystem::path& output) const;
    std::vector<std::string> chapterArguments(const ChapterRequest& request,
                                              const std::filesystem::path& chapterFile,
                                              const std::filesystem::path& output) const;
    std::vector<std::string> transcriptionMediaArguments(
        const TranscriptionMediaRequest& request, const std::filesystem::path& subtitleFile,
        const std::optional<std::filesystem::path>& chapterFile,
        const std::filesystem::path& output) const;
};

// Seconds as ffmpeg takes them on a command line: six decimals, a point, no grouping, whatever
// the locale ("90.000000").
std::string formatCommandLineSeconds(double seconds);

// The absolute, lexically normal form of a path, used to compare files by name.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

}  // namespace tavrolin
