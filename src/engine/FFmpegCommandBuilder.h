#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/split/SplitSourceLayout.h"
#include "model/MediaStream.h"
#include "model/ProcessingRequest.h"

namespace tavrolin {

// An audio stream of a part already cut into an Ogg file of its own, whose Opus pre-skip hides
// its warm-up (see `splitWarmCopyArguments`).
struct SplitWarmCopy {
    std::filesystem::path file;
    // Where its first sample after the pre-skip lies in the part's time, and the pre-skip.
    double shownAt = 0;
    double codecDelay = 0;
};

// What a split's command reads besides its source.
struct SplitSideFiles {
    std::optional<std::filesystem::path> chapters;  // ffmetadata
    // Attached pictures saved as files, by source stream index (see `splitPictureArguments`).
    std::map<std::int64_t, std::filesystem::path> pictures;
    // By source stream index; the command takes these streams from them.
    std::map<std::int64_t, SplitWarmCopy> warmCopies;
};

// What a join's command reads besides its list of files.
struct JoinSideFiles {
    std::filesystem::path firstInput;
    std::optional<std::filesystem::path> metadata;  // ffmetadata: the joined file's tags, chapters
    std::vector<MediaStream> streams;               // the first file's, in order
    // The first file's chapter text tracks (MP4, MOV), left out: the chapters are written anew.
    std::vector<std::int64_t> chapterTracks;
    // Whether each audio stream drops what the files after the first hide at their start (see
    // joinWarmUpFilter), and whether the timestamps go on as the concat reader gives them, so
    // that what the first file hides stays before the output's time 0.
    bool dropWarmUp = false;
    bool copyTimestamps = false;
};

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
    // The concat demuxer's list: one "file '<path>'" line per input, quotes written as '\'',
    // each followed by a "duration" line where `lengths` gives one.
    static std::string concatListText(const std::vector<std::filesystem::path>& inputs,
                                      const std::vector<std::optional<double>>& lengths = {});
    // `videoCodec` is the inputs' (see PresentationTimes.h). Attachments (fonts) come once from
    // `side.firstInput` into a Matroska output, read as a second input that stops at once; the
    // concat reader's own copies of them are left out, as it cannot describe every kind (a font
    // typed "font/ttf"). The concat reader carries no file's tags or chapters: both come from
    // `side.metadata` (none without it), and each stream's default and forced flags are set as
    // `side.streams`, the first file's, have them.
    std::vector<std::string> joinArguments(const std::filesystem::path& concatList,
                                           const std::filesystem::path& output,
                                           std::string_view videoCodec = {},
                                           const JoinSideFiles& side = {}) const;
    // A split copies the packets of one part in one run. The request's times are the
    // presentation times of the keyframes to cut at, in the file's own timestamps (a start at or
    // before `layout.start` is the beginning of the file, no end is its end); ffmpeg seeks just
    // before the start and begins each stream there, the video with
    // its first keyframe, and a bit-stream filter per stream drops what lies outside the part:
    // the first video stream by decoding order (before `layout.videoEnd`, so a keyframe's leading
    // pictures, which the part cannot show, are not written), every other timed stream by
    // presentation time, so audio timed before a cut stays in the part before it. Attached
    // pictures go into every part (WebM holds none), as attachments from `files.pictures` where
    // given; the chapters come from `files.chapters`, none without it. The part starts at 0 in
    // every container: its start keyframe, or the source's first timestamp.
    std::vector<std::string> splitArguments(const SplitRequest& request,
                                            const SplitSourceLayout& layout,
                                            const SplitSideFiles& files,
                                            const std::filesystem::path& output) const;
    // Matroska hides an Opus stream's warm-up only as the CodecDelay that ffmpeg 5.1 writes from
    // the pre-skip its input stream declares: the streams of a part into `output` that are cut
    // into an Ogg copy first, whose pre-skip is then made the warm-up (by source index).
    static std::vector<std::int64_t> splitWarmCopyStreams(const SplitRequest& request,
                                                          const SplitSourceLayout& layout,
                                                          const std::filesystem::path& output);
    // Cuts source stream `stream` of the part into `output` into the Ogg file `copy`, with the
    // part's own timestamps.
    static std::vector<std::string> splitWarmCopyArguments(const SplitRequest& request,
                                                           const SplitSourceLayout& layout,
                                                           const std::filesystem::path& output,
                                                           std::int64_t stream,
                                                           const std::filesystem::path& copy);
    // Matroska keeps cover art as attachments, which ffmpeg 5.1 writes only from files: whether
    // a split into `output` needs the pictures saved first.
    static bool splitAttachesPictures(const std::filesystem::path& output);
    // Saves each picture of `pictures` (source stream index, file) from `input`, as it is.
    static std::vector<std::string> splitPictureArguments(
        const std::filesystem::path& input,
        const std::map<std::int64_t, std::filesystem::path>& pictures);
    // Where a part written to `output` has its time 0 in its own timestamps: 0, but a second in
    // an MPEG program stream, which holds no time before 0 and whose muxer starts its clock half
    // a second before the first decoding time: the decoding times before the first keyframe's
    // then leave room for that half second (a clock set before 0 hides the part's first second
    // from GStreamer).
    static double splitPartZero(const std::filesystem::path& output);
    // How much before a split's part ffmpeg starts to count its progress.
    static double splitLeadIn(const SplitRequest& request, const SplitSourceLayout& layout);
    std::vector<std::string> chapterArguments(const ChapterRequest& request,
                                              const std::filesystem::path& chapterFile,
                                              const std::filesystem::path& output) const;
    std::vector<std::string> transcriptionMediaArguments(
        const TranscriptionMediaRequest& request, const std::filesystem::path& subtitleFile,
        const std::optional<std::filesystem::path>& chapterFile,
        const std::filesystem::path& output) const;
};

}  // namespace tavrolin
