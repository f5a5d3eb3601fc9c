#include "engine/MillisecondTime.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tavrolin {

namespace {

// 2^63 as a double; anything at or above it does not fit.
constexpr double int64Limit = 9223372036854775808.0;

void appendPadded(std::string& text, std::int64_t value, int width) {
    const std::string digits = decimal(value);
    if (static_cast<int>(digits.size()) < width) {
        text.append(static_cast<std::size_t>(width) - digits.size(), '0');
    }
    text += digits;
}

}  // namespace

std::optional<std::int64_t> wholeMilliseconds(double seconds) {
    const double milliseconds = std::round(seconds * 1000.0);  // halves away from zero
    if (!std::isfinite(milliseconds) || milliseconds >= int64Limit || milliseconds < -int64Limit) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(milliseconds);
}

std::string decimal(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string clockStamp(std::int64_t milliseconds, char separator) {
    if (milliseconds < 0) {
        milliseconds = 0;
    }
    std::string stamp;
    appendPadded(stamp, milliseconds / 3'600'000, 2);
    stamp += ':';
    appendPadded(stamp, milliseconds / 60'000 % 60, 2);
    stamp += ':';
    appendPadded(stamp, milliseconds / 1000 % 60, 2);
    stamp += separator;
    appendPadded(stamp, milliseconds % 1000, 3);
    return stamp;
}

std::string formatCommandLineSeconds(double seconds) {
    char buffer[128];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 6);
    if (result.ec != std::errc{}) {
        return "0.000000";
    }
    return std::string(buffer, result.ptr);
}

}  // namespace tavrolin
