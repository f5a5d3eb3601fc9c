#pragma once

#include <cstddef>
#include <vector>

namespace tavrolin {

// One packet of a video stream, as read in decoding order.
struct CodedPicture {
    double time = 0;  // presentation time, seconds
    bool isKeyframe = false;
};

// The pictures that follow a keyframe in decoding order but are shown before it (the leading
// pictures of an open group of pictures). They refer to pictures before the keyframe as well
// as to the keyframe, so neither side of a stream-copy cut at the keyframe can show them.
struct LeadingPictures {
    std::size_t keyframe = 0;  // index of the keyframe in the list read
    int count = 0;
    double earliest = 0;  // presentation time of the first of them
};

// The keyframes of `decodingOrder` that have leading pictures, in order; a picture counts until
// the next keyframe.
std::vector<LeadingPictures> leadingPictures(const std::vector<CodedPicture>& decodingOrder);

}  // namespace tavrolin
