#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tavrolin {

// A part after a cut carries audio frames from before it, so that its decoder is warm by the
// cut (see splitAudioWarmUpStart). ffmpeg writes them into MP3 and Ogg files as they are; these
// functions make the file's header say that they are to be dropped. Any thread; no state.

// In an MP3 `file` with a Xing or LAME header, ffmpeg's encoder delay claims 3,567 samples for a
// part after a cut: it becomes the part's warm-up `frames` less the decoder's own delay, and the
// header's checksum follows. A file without such a header is left as it is.
void writeMp3WarmUp(const std::filesystem::path& file, int frames);

// In an Ogg `file`, each Opus stream's samples before `start` seconds of the part's own time, or
// with `OpusShownFrom::packet` its packets that start before it, make up its pre-skip (the
// source's, which belongs to the source's first packet only, goes), and its pages' positions move
// so that what follows them starts at 0. A file that is not Ogg or holds no Opus is left as it
// is. Returns, for its first Opus stream, where its first shown sample lay before the move and
// the pre-skip, in seconds; none for such a file. `endTrim` samples are trimmed off the end (the
// source's, for a part that ends where it does).
struct OpusWarmUp {
    double shownAt = 0;
    double preSkip = 0;
};
enum class OpusShownFrom { start, packet };
std::optional<OpusWarmUp> writeOpusWarmUp(const std::filesystem::path& file, double start,
                                          std::int64_t endTrim = 0,
                                          OpusShownFrom from = OpusShownFrom::packet);

// Both for a split's working output `file` whose audio starts at `start` seconds (a little
// before its time 0, by the cut's margin) after `mp3Frames` frames of MP3 warm-up; a failure throws
// MediaProcessingError::processFailed naming the part `output`. Both throw std::runtime_error for a
// file they cannot make sense of, and std::filesystem::filesystem_error when it cannot be read or
// written.
void writeSplitPartWarmUp(const std::filesystem::path& file, const std::filesystem::path& output,
                          double start, int mp3Frames);

}  // namespace tavrolin
