#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavrolin {

// Seconds as whole milliseconds: times 1000, halves rounded away from zero. None when the
// result is not finite or does not fit in 64 bits.
std::optional<std::int64_t> wholeMilliseconds(double seconds);

// An integer in plain decimal, independent of the process locale.
std::string decimal(std::int64_t value);

// "HH:MM:SS<separator>mmm" from milliseconds (negative counts as 0); the hours have at least two
// digits and no upper limit.
std::string clockStamp(std::int64_t milliseconds, char separator);

// Seconds as ffmpeg takes them on a command line: six decimals, a point, no grouping, whatever
// the locale ("90.000000").
std::string formatCommandLineSeconds(double seconds);

}  // namespace tavrolin
