#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "process/ProcessRunning.h"

namespace tavrolin {

// A number in the POSIX locale's notation: optional sign, digits with an optional point, and an
// optional exponent, with nothing before or after. Read the same under every locale. "inf" and
// "nan" are read but are not finite; too large a value reads as infinity, too small as zero
// (as strtod reads them).
std::optional<double> parsePosixNumber(std::string_view text);

// A whole text that is a finite number, read in any locale; surrounding white space is allowed.
std::optional<double> parseFiniteNumber(std::string_view text);

// The failure text of a tool run, shared by every operation that runs ffmpeg or ffprobe:
// the last 8 non-empty lines of the tool's standard error, joined with "\n"; `fallback` when there
// are none. Lines end at LF, VT, FF, CR, NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR. The
// banner and the description of inputs and outputs (headers, "Metadata:" blocks, "Duration:",
// "Stream #", "Stream mapping:", "Press [q]", "Last message repeated") are left out first, so
// the line that names the cause is among the eight. Progress statistics ("frame= … time= …",
// the closing "video:… muxing overhead") are never kept: a run that left only those and the
// description gives `fallback`. Addresses in "[mp4 @ 0x55…]" read
// "[mp4]".
std::string toolFailureText(std::string_view standardError, std::string_view fallback);

// The same for a finished run, led by "FFmpeg was stopped by signal 9 (Killed)." when a signal
// ended it. `toolName` is the name shown ("FFmpeg", "ffprobe").
std::string toolFailureText(const ProcessResult& result, std::string_view toolName,
                            std::string_view fallback);

// ffprobe ends with "<path>: Invalid data found when processing input" when no format it knows
// reads the file: the file is the cause, not the run.
inline constexpr std::string_view kNotMediaReason = "Invalid data found when processing input";

// Whether a run that failed says its input is not media (see `kNotMediaReason`).
bool reportsNotMedia(const ProcessResult& result);

// Whether a run that failed (not one that was stopped) read `file`, which is no longer there:
// the cause is the missing file (MediaProbeError::fileMissing), not the tool. Touches the disk.
bool reportsMissingFile(const ProcessResult& result, const std::filesystem::path& file);

}  // namespace tavrolin
