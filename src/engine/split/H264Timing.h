#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavrolin {

// What an H.264 sequence parameter set says of time: a frame lasts 2 * `unitsInTick` /
// `timeScale` seconds. Any thread; no state.
struct H264Timing {
    std::uint32_t unitsInTick = 0;
    std::uint32_t timeScale = 0;
    bool framesOnly = true;  // no picture is coded as fields
};

// The timing of the parameter set `nal` (its NAL header first); none when it states none or
// cannot be read.
std::optional<H264Timing> h264Timing(std::string_view nal);

}  // namespace tavrolin
