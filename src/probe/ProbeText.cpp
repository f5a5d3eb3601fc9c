#include "probe/ProbeText.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#include "model/ErrorMessage.h"
#include "model/TextMetrics.h"

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

// The power of ten of the first significant digit of a number the reader accepted ("120" is 2,
// "0.05" is -2, "1e-5" is -5), saturating far beyond a double's range.
long long decimalMagnitude(std::string_view number) {
    const auto exponentAt = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, exponentAt);
    long long magnitude = 0;
    const auto point = mantissa.find('.');
    const auto first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) {
        return std::numeric_limits<int>::min();  // zero
    }
    const std::size_t integerDigits = point == std::string_view::npos ? mantissa.size() : point;
    magnitude = first < integerDigits ? static_cast<long long>(integerDigits - first) - 1
                                      : -static_cast<long long>(first - integerDigits);
    if (exponentAt != std::string_view::npos) {
        std::string_view exponent = number.substr(exponentAt + 1);
        const bool negative = exponent.starts_with('-');
        if (negative || exponent.starts_with('+')) {
            exponent.remove_prefix(1);
        }
        long long value = 0;
        for (char c : exponent) {
            value = std::min<long long>(value * 10 + (c - '0'), 1'000'000'000);
        }
        magnitude += negative ? -value : value;
    }
    return magnitude;
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
        // Past the range of a double: the number's magnitude, not the exponent's sign, tells an
        // overflow from an underflow ("0.000…1" is tiny, "1000…e-5" is huge), as strtod does.
        value = decimalMagnitude(body) >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc{}) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<double> parseFiniteNumber(std::string_view text) {
    const auto value = parsePosixNumber(trimWhitespace(text));
    return value && std::isfinite(*value) ? value : std::nullopt;
}

namespace {

std::size_t indentationOf(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    return first == std::string_view::npos ? line.size() : first;
}

// A line of ffmpeg's banner or of its description of inputs and outputs.
bool describesMedia(std::string_view trimmed) {
    static constexpr std::string_view prefixes[] = {"Input #",
                                                    "Output #",
                                                    "Metadata:",
                                                    "Side data:",
                                                    "Duration:",
                                                    "Stream #",
                                                    "Stream mapping:",
                                                    "Chapters:",
                                                    "Chapter #",
                                                    "Press [q]",
                                                    "Last message repeated",
                                                    "ffmpeg version",
                                                    "ffprobe version",
                                                    "built with",
                                                    "configuration:"};
    for (auto prefix : prefixes) {
        if (trimmed.starts_with(prefix)) {
            return true;
        }
    }
    // "libavutil      57. 28.100 / 57. 28.100"
    return trimmed.starts_with("lib") && trimmed.find(" / ") != std::string_view::npos;
}

// ffmpeg's running statistics ("frame=  0 fps=0.0 q=-1.0 Lsize= 2kB time=… bitrate=… speed=…",
// "size= …" without video) and its closing totals ("video:0kB audio:1kB … muxing overhead: …").
// They say how far a run came, never why it failed.
bool isProgressStatistics(std::string_view trimmed) {
    if (trimmed.starts_with("frame=") || trimmed.starts_with("size=") ||
        trimmed.starts_with("Lsize=")) {
        return trimmed.find("time=") != std::string_view::npos;
    }
    if (trimmed.starts_with("[out#")) {
        const auto end = trimmed.find("] ");
        trimmed = end == std::string_view::npos ? trimmed : trimmed.substr(end + 2);
    }
    return trimmed.starts_with("video:") &&
           trimmed.find("muxing overhead") != std::string_view::npos;
}

// "[mp4 @ 0x55d0c1a2b3c0] message" reads "[mp4] message": the address differs on every run.
std::string withoutAddresses(std::string_view line) {
    std::string text;
    std::size_t at = 0;
    while (at < line.size()) {
        const auto marker = line.find(" @ 0x", at);
        if (marker == std::string_view::npos) {
            break;
        }
        std::size_t end = marker + 5;
        while (end < line.size() && std::isxdigit(static_cast<unsigned char>(line[end]))) {
            ++end;
        }
        const bool inBrackets = end > marker + 5 && end < line.size() && line[end] == ']' &&
                                line.rfind('[', marker) != std::string_view::npos;
        text.append(line.substr(at, marker - at));
        if (!inBrackets) {
            text.append(line.substr(marker, end - marker));
        }
        at = end;
    }
    text.append(line.substr(at));
    return text;
}

std::string joinedTail(const std::vector<std::string_view>& lines) {
    constexpr std::size_t kKeptLines = 8;
    std::string text;
    const std::size_t first = lines.size() > kKeptLines ? lines.size() - kKeptLines : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        text += (text.empty() ? "" : "\n") + withoutAddresses(lines[i]);
    }
    return text;
}

struct StandardErrorLines {
    std::vector<std::string_view> all;     // every non-empty line
    std::vector<std::string_view> causes;  // those that do not describe the media
};

StandardErrorLines splitStandardError(std::string_view standardError) {
    std::vector<std::string_view> all;
    std::vector<std::string_view> causes;
    std::optional<std::size_t> blockIndentation;  // inside a "Metadata:" block
    std::size_t lineStart = 0;
    auto keep = [&](std::size_t lineEnd) {
        if (lineEnd <= lineStart) {
            return;
        }
        const std::string_view line = standardError.substr(lineStart, lineEnd - lineStart);
        const std::size_t indentation = indentationOf(line);
        const std::string_view trimmed = line.substr(indentation);
        if (isProgressStatistics(trimmed)) {
            return;
        }
        all.push_back(line);
        if (blockIndentation && indentation > *blockIndentation) {
            return;
        }
        blockIndentation.reset();
        if (trimmed.starts_with("Metadata:") || trimmed.starts_with("Side data:")) {
            blockIndentation = indentation;
        }
        if (!describesMedia(trimmed)) {
            causes.push_back(line);
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
    return {std::move(all), std::move(causes)};
}

}  // namespace

std::string toolFailureText(std::string_view standardError, std::string_view fallback) {
    // ffmpeg's description of its streams and its banner never say why a run failed.
    const auto lines = splitStandardError(standardError);
    if (lines.causes.empty()) {
        return std::string(fallback);
    }
    return joinedTail(lines.causes);
}

std::string toolFailureText(const ProcessResult& result, std::string_view toolName,
                            std::string_view fallback) {
    if (result.terminationSignal == 0) {
        return toolFailureText(result.standardError, fallback);
    }
    const char* description = ::sigdescr_np(result.terminationSignal);
    std::string text = std::string(toolName) + " was stopped by signal " +
                       std::to_string(result.terminationSignal) + " (" +
                       (description != nullptr ? description : "unknown signal") + ").";
    // Only a cause follows: the description a killed ffmpeg leaves says nothing about it.
    const auto lines = splitStandardError(result.standardError);
    return lines.causes.empty() ? text : text + "\n" + joinedTail(lines.causes);
}

bool reportsNotMedia(const ProcessResult& result) {
    if (result.terminationStatus == 0 || result.terminationSignal != 0) {
        return false;
    }
    const std::string_view standardError = result.standardError;
    const auto end = standardError.find_last_not_of(" \r\n");
    if (end == std::string_view::npos) {
        return false;
    }
    const std::string_view text = standardError.substr(0, end + 1);
    const auto lineStart = text.find_last_of("\r\n");
    const std::string_view last =
        text.substr(lineStart == std::string_view::npos ? 0 : lineStart + 1);
    return last.ends_with(std::string(": ") + std::string(kNotMediaReason));
}

bool reportsMissingFile(const ProcessResult& result, const std::filesystem::path& file) {
    return result.terminationStatus != 0 && result.terminationSignal == 0 && isFileGone(file);
}

}  // namespace tavrolin
