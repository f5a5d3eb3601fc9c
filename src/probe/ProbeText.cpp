#include "probe/ProbeText.h"

#include <charconv>
#include <cmath>
#include <deque>
#include <limits>
#include <system_error>

namespace tavrolin {

namespace {

bool isUnicodeWhitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Decodes the code point of a well-formed sequence of `length` bytes at `p`.
char32_t decode(const unsigned char* p, std::size_t length) {
    if (length == 1) {
        return p[0];
    }
    char32_t c = p[0] & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        c = (c << 6) | (p[i] & 0x3F);
    }
    return c;
}

std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        return 4;
    }
    return 1;  // a stray byte: never white space
}

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

std::string_view trimWhitespace(std::string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end) {
        std::size_t length = sequenceLength(bytes[begin]);
        if (begin + length > end || !isUnicodeWhitespace(decode(bytes + begin, length))) {
            break;
        }
        begin += length;
    }
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (bytes[start] & 0xC0) == 0x80 && end - start < 4) {
            --start;
        }
        std::size_t length = sequenceLength(bytes[start]);
        if (start + length != end || !isUnicodeWhitespace(decode(bytes + start, length))) {
            break;
        }
        end = start;
    }
    return text.substr(begin, end - begin);
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
