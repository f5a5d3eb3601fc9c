#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrolin {

// The frame grid of one video stream, read from its packets: every frame's presentation time
// in stream ticks (ascending, no duplicates), which frames are keyframes, the stream's nominal
// rate and picture size. Frame i's interval runs from its time to the next frame's time.
// A plain value; any thread.
struct VideoFrameIndex {
    std::vector<std::int64_t> pts;  // ascending
    std::vector<std::size_t>
        keyframes;  // indices into `pts`, ascending; never empty when pts is not
    int timeBaseNum = 1;
    int timeBaseDen = 1;
    double frameRate = 0;  // nominal frames per second; 0 when the file names none
    double duration = 0;   // seconds from the first frame to the end of the media
    int width = 0;         // display size (sample aspect applied, turned upright)
    int height = 0;
    int rotation = 0;  // clockwise degrees (0, 90, 180, 270) the stored picture is turned

    std::size_t count() const { return pts.size(); }
    // Seconds from the first frame (the stream's own start offset removed).
    double time(std::size_t index) const;
    // The frame whose interval holds `seconds` (measured from the first frame), clamped to the
    // first and last frame. Times a hair before a frame's start (container rounding) count
    // as that frame.
    std::size_t frameCovering(double seconds) const;
    // The last keyframe at or before `index`.
    std::size_t keyframeAtOrBefore(std::size_t index) const;
    // The keyframe before `keyframe` in decoding order of the grid, or `keyframe` when it is
    // the first.
    std::size_t keyframeBefore(std::size_t keyframe) const;
    // The frame shown at tick `ticks`: the last frame whose time is not after it (0 when all are).
    std::size_t frameAtTicks(std::int64_t ticks) const;
};

}  // namespace tavrolin
