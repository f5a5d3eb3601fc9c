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
    // A split cuts with the segment muxer, which starts each piece on the first keyframe at or
    // after its cut time, so pieces meet exactly: every packet lands in one piece, in decoding
    // order. The request's times are the presentation times of the keyframes to cut at (0 is
    // the beginning of the file, no end is its end). The part is written to
    // `splitPartFile(request, output)`; the other pieces ffmpeg writes beside it are
    // `splitPieceFile(output, 0...2)` and must be removed.
    std::vector<std::string> splitArguments(const SplitRequest& request,
                                            const std::filesystem::path& output) const;
    // How much ffmpeg reads before a split's part, at most.
    static double splitLeadIn(const SplitRequest& request);
    static std::filesystem::path splitPartFile(const SplitRequest& request,
                                               const std::filesystem::path& output);
    // Piece `piece` (0...9) of a split written to `output`: the same name with the character
    // before the extension replaced by the piece's digit, so the name is no longer.
    static std::filesystem::path splitPieceFile(const std::filesystem::path& output, int piece);
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
