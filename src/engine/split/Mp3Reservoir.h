#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "engine/split/SplitSourceLayout.h"
#include "model/ProcessingRequest.h"

namespace tavrolin {

// Where an MP3 file's first frame starts, from its first 10 bytes: after an ID3v2 tag (and its
// footer) when one leads the file, else 0.
std::uint64_t mp3FramesStart(std::string_view head);

// How many frames of the layer III `file` a part that starts with its audio frame `cutFrame`
// (counted from 0, a Xing/Info frame not counted) must carry before it for that frame to decode
// exactly: the frames before the cut that its first samples rest on (one in MPEG-1, two in
// MPEG-2 and 2.5), and those whose bytes the bit reservoir of each of them and of the cut frame
// reaches back into. 0 for the file's first frame. None when the file holds no such frame or
// its frames cannot be read one after another. Reads the file up to that frame; any thread.
std::optional<int> mp3ReservoirWarmUpFrames(const std::filesystem::path& file,
                                            std::int64_t cutFrame);

// Sets that count on each MP3 stream of `layout` (the layout of `split`'s source, an MP3 file)
// whose warm-up `split`'s output hides in its header, when the part starts after a cut; a
// stream whose frames cannot be read keeps none. Returns the count of the last such stream (an
// MP3 file holds one), which the part's header then claims; else kMp3WarmUpFrames.
int measureMp3WarmUp(SplitSourceLayout& layout, const SplitRequest& split);

}  // namespace tavrolin
