#include "probe/ProbeText.h"

#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <system_error>

namespace tavrolin {

namespace {

// Length of the line break starting at `i`, or 0.
std::size_t lineBreakAt(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r') {
        return 1;
    }
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
        return 2;
    }
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
         static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
        return 3;
    }
    return 0;
}

}  // namespace

std::optional<double> parsePosixNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    bool negative = false;
    std::string_view body = text;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    // from_chars takes no '+' and would take a second '-'; the one sign is handled above.
    if (body.empty() || body.front() == '+' || body.front() == '-') {
        return std::nullopt;
    }
    double value = 0;
    const char* end = body.data() + body.size();
    auto [stop, error] = std::from_chars(body.data(), end, value, std::chars_format::general);
    if (stop != end) {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        // Past the range of a double: a negative exponent underflowed, anything else overflowed.
        const auto exponent = body.find_first_of("eE");
        const bool underflow = exponent != std::string_view::npos && exponent + 1 < body.size() &&
                               body[exponent + 1] == '-';
        value = underflow ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (error != std::errc{}) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::string toolFailureText(std::string_view standardError, std::string_view fallback) {
    constexpr std::size_t kKeptLines = 8;
    std::deque<std::string_view> lines;
    std::size_t lineStart = 0;
    auto keep = [&](std::size_t lineEnd) {
        if (lineEnd > lineStart) {
            lines.push_back(standardError.substr(lineStart, lineEnd - lineStart));
            if (lines.size() > kKeptLines) {
                lines.pop_front();
            }
        }
    };
    for (std::size_t i = 0; i < standardError.size();) {
        if (std::size_t length = lineBreakAt(standardError, i)) {
            keep(i);
            i += length;
            lineStart = i;
        } else {
            ++i;
        }
    }
    keep(standardError.size());
    if (lines.empty()) {
        return std::string(fallback);
    }
    std::string text;
    for (const auto& line : lines) {
        if (!text.empty()) {
            text += '\n';
        }
        text += line;
    }
    return text;
}

}  // namespace tavrolin
