#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "engine/split/SplitSourceLayout.h"

namespace tavrolin {

// What a split does for streams whose content spans time rather than sitting at an instant:
// subtitle cues across a cut, and the timecode of a part. Pure functions.

// How long a subtitle cue may have begun before a cut and still be read for the part after it,
// in a source whose demuxer seeks all streams to one place (Matroska and most others: the
// video keyframe's cluster). The MP4 family seeks each stream to its own sample at or before
// the time, so its cue across the cut is read without it.
inline constexpr double kSubtitleLookBack = 60.0;

// How much earlier than a part's start its source is read for that: the look-back when the
// source has a subtitle stream and is not of the MP4 family, else 0.
double splitSubtitleLookBack(const SplitSourceLayout& layout);

// How many MP3 frames a part after a cut carries before its first one when its source's bit
// reservoir was not measured, and Opus's samples a second: each part's header says how many
// samples its decoder drops.
inline constexpr int kMp3WarmUpFrames = 4;
// The samples every MP3 decoder delays its output by, which the header's delay leaves out, and
// the most that delay's 12 bits hold: a warm-up never passes their sum.
inline constexpr int kMp3DecoderDelay = 529;
inline constexpr int kMp3MostEncoderDelay = 0xFFF;
inline constexpr int kOpusSampleRate = 48000;

// Where, in the source's time, an audio stream of a part whose own audio starts at `cut` starts
// reading, so that its decoder is warm by the cut: a little earlier when the `output`'s
// container hides what lies before the part's start (an edit list in the MP4 family, Opus's
// pre-skip in Ogg, its codec delay in Matroska, the encoder delay in an MP3 file's header), else
// `cut`. Frames before the cut decode without their predecessors, and a lossy codec's first ones
// come out wrong. Opus in the MP4 family and in Ogg is the exception (see splitAudioFromCutFrame):
// it is read from a packet's length before the cut. The Ogg copy a Matroska part takes its Opus
// from (`warmCopy`) keeps the longer warm-up, which the part's codec delay hides. An MP3 file's
// start lies halfway between two of its frames, so that exactly mp3WarmUpFrames(stream) frames are
// read before the first at or after `cut`.
double splitAudioWarmUpStart(const SplitStream& stream, const std::filesystem::path& output,
                             double cut, bool warmCopy = false);

// Whether a part keeps only the packets that end after its cut, the first of them the frame that
// holds it, as ffmpeg's own copy does: Opus in the MP4 family, so that GStreamer plays the whole
// part, and in Ogg, so that the pre-skip, which ffmpeg counts in the file's length, stays within
// a frame.
bool splitAudioFromCutFrame(const SplitStream& stream, const std::filesystem::path& output,
                            bool warmCopy = false);

// The MP3 frame (counted from the source's first, at 0) that a part whose audio starts at
// `cut` starts with, and how many frames it carries before that one: what its source's
// reservoir needs, at most what the header can claim.
std::int64_t mp3CutFrame(const SplitStream& stream, double cut);
int mp3WarmUpFrames(const SplitStream& stream);

// Whether that warm-up is hidden by Matroska's codec delay, which a part takes from an Ogg copy
// of the stream (see FFmpegCommandBuilder::splitWarmCopyStreams).
bool splitWarmUpInOggCopy(const SplitStream& stream, const std::filesystem::path& output);

// Whether that warm-up is hidden by the encoder delay in the header of the MP3 file `output`.
bool splitWarmUpInMp3Header(const SplitStream& stream, const std::filesystem::path& output);

// How much earlier than the cut a part after it is read: for the subtitle look-back and the
// warm-up of its audio, in whole ticks of its video's time base.
double splitLookBack(const SplitSourceLayout& layout, const std::filesystem::path& output,
                     double cut);

// The bit-stream filters of a subtitle stream in a part from `from` to `to` (seconds in the
// input's timestamps, at the exact cuts; none: the file's own start or end): a cue that ends
// by the start or begins at or after the end is dropped, one across either cut is clipped to
// it, so a cue from 3.5 to 4.6 s cut at 4.0 is 3.5-4.0 in one part and 0.0-0.6 in the next.
std::string subtitleCutFilters(std::optional<double> from, std::optional<double> to);

// `timecode` ("HH:MM:SS:FF", or with ";" before the frames for drop-frame counting at 29.97 or
// 59.94 frames a second) moved on by `seconds` at `rate` frames a second, in the same form;
// hours wrap at 24. None when it is not one or the rate is not a positive ratio.
std::optional<std::string> shiftedTimecode(std::string_view timecode, StreamTimeBase rate,
                                           double seconds);

}  // namespace tavrolin
