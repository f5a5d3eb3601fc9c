#include "preview/PreviewTimeFormat.h"

#include "engine/MillisecondTime.h"

#include <charconv>

namespace tavrolin {

namespace {

double clampedAtZero(double seconds) {
    return seconds > 0 ? seconds : 0.0;  // also turns -0 and NaN into 0
}

}  // namespace

std::string formatPreviewSeconds(double seconds) {
    char buffer[400];  // the largest double in fixed notation with six digits fits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, clampedAtZero(seconds),
                                      std::chars_format::fixed, 6);
    std::string text(buffer, result.ptr);
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    return text;
}

std::string formatPreviewTimecode(double seconds) {
    return clockStamp(wholeMilliseconds(clampedAtZero(seconds)).value_or(0), '.');
}

}  // namespace tavrolin
