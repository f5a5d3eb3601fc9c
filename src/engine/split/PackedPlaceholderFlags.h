#pragma once

#include <filesystem>

namespace tavrolin {

// DivX and Xvid write the placeholder after a packed keyframe as a picture of the keyframe's
// type, which libavformat's parser marks as a keyframe; copied into MP4 or Matroska, a player
// seeking to it starts decoding on it and shows grey until the next real keyframe. These
// functions take the mark off such a packet (see isPackedPlaceholder) in a written part. Any
// thread; no state.

// In the MP4 or MOV `file`, each video track's sync samples lose its placeholders; in the
// Matroska `file`, each video block that is one loses its keyframe flag, and a cue that points
// to it becomes void. Any other file is left as it is. Throws std::runtime_error for a file it
// cannot make sense of and std::filesystem::filesystem_error when it cannot be read or written.
void clearPlaceholderKeyframes(const std::filesystem::path& file);

// The same for a split's working output `file`; a failure throws
// MediaProcessingError::processFailed naming the part `output`.
void clearSplitPartPlaceholders(const std::filesystem::path& file,
                                const std::filesystem::path& output);

}  // namespace tavrolin
