#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/MediaStream.h"

namespace tavrolin {

// AVI and MPEG program streams (VOB) store a decoding time for every video packet but a
// presentation time only for some: the frames that B-frames make wait have none, and no
// Matroska writer or time-based cut can take such a packet. For codecs whose parser marks
// B-frames (MPEG-1, MPEG-2 and MPEG-4 Part 2 video), the times libavformat generates from the
// decoding order ("-fflags +genpts") are the ones the decoder shows; for H.264 and HEVC they
// are not, so those are never generated. Pure functions.

bool generatesPresentationTimes(std::string_view videoCodec);

// The input options that give every packet of such a source its presentation time; none for
// any other codec (an empty name included), whose packets are read as they are.
std::vector<std::string> presentationTimeArguments(std::string_view videoCodec);

// DivX and Xvid pack a B-frame into the packet of the reference frame decoded before it and
// leave a placeholder of a few bytes where the B-frame was, which an AVI index may mark as a
// keyframe: no picture starts there. Whether a packet of `videoCodec` that size is one.
bool isPackedPlaceholder(std::string_view videoCodec, std::int64_t bytes);

// The codec of the first video stream among `streams`; empty without one.
std::string firstVideoCodec(const std::vector<MediaStream>& streams);

}  // namespace tavrolin
