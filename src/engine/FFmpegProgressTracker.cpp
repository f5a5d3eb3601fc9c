#include "engine/FFmpegProgressTracker.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tavrolin {

namespace {

constexpr std::string_view outTimeKey = "out_time_us=";

}  // namespace

std::vector<double> FFmpegProgressParser::consume(std::string_view chunk, double duration) {
    std::vector<double> fractions;
    if (!(duration > 0)) {
        return fractions;
    }
    pendingText_.append(chunk);
    std::size_t lineStart = 0;
    for (std::size_t lineEnd = pendingText_.find('\n'); lineEnd != std::string::npos;
         lineEnd = pendingText_.find('\n', lineStart)) {
        std::string_view line(pendingText_.data() + lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (!line.starts_with(outTimeKey)) {
            continue;
        }
        line.remove_prefix(outTimeKey.size());
        double microseconds = 0;
        auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), microseconds);
        if (line.empty() || error != std::errc{} || end != line.data() + line.size() ||
            std::isnan(microseconds)) {
            continue;  // "N/A" before the first packet, or anything else that is no number
        }
        double fraction = microseconds / 1'000'000.0 / duration;
        fractions.push_back(fraction > 0 ? std::min(fraction, 1.0) : 0.0);
    }
    pendingText_.erase(0, lineStart);
    return fractions;
}

std::optional<std::int64_t> progressFrameCount(std::string_view report) {
    constexpr std::string_view key = "frame=";
    for (std::size_t at = report.rfind(key); at != std::string_view::npos;
         at = at == 0 ? std::string_view::npos : report.rfind(key, at - 1)) {
        if (at > 0 && report[at - 1] != '\n') {
            continue;  // the end of another key
        }
        const std::string_view value = report.substr(at + key.size());
        std::int64_t count = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), count);
        if (error != std::errc{} || (end != value.data() + value.size() && *end != '\n')) {
            return std::nullopt;
        }
        return count;
    }
    return std::nullopt;
}

FFmpegProgressTracker::FFmpegProgressTracker(double duration, std::function<void(double)> handler)
    : duration_(duration), handler_(std::move(handler)) {}

void FFmpegProgressTracker::consume(std::string_view chunk) {
    std::vector<double> fractions;
    {
        std::lock_guard lock(mutex_);
        fractions = parser_.consume(chunk, duration_);
        for (double& fraction : fractions) {
            highest_ = std::max(highest_, fraction);
            fraction = highest_;
        }
    }
    if (handler_) {
        for (double fraction : fractions) {
            handler_(fraction);
        }
    }
}

}  // namespace tavrolin
