#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrolin {

// A number in the POSIX locale's notation: optional sign, digits with an optional point, and an
// optional exponent, with nothing before or after. Read the same under every locale. "inf" and
// "nan" are read but are not finite; too large a value reads as infinity, too small as zero.
std::optional<double> parsePosixNumber(std::string_view text);

// The failure text of a tool run, shared by every operation that runs ffmpeg or ffprobe:
// the last 8 non-empty lines of the tool's standard error, joined with "\n"; `fallback` when there
// are none. Lines end at LF, VT, FF, CR, NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR.
std::string toolFailureText(std::string_view standardError, std::string_view fallback);

}  // namespace tavrolin
