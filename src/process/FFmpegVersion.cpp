#include "process/FFmpegVersion.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "model/ErrorMessage.h"

namespace tavrolin {

namespace {

bool hasOption(std::string_view line, std::string_view option) {
    std::size_t at = 0;
    while ((at = line.find(option, at)) != std::string_view::npos) {
        const std::size_t end = at + option.size();
        const bool startsWord = at == 0 || line[at - 1] == ' ';
        const bool endsWord = end == line.size() || line[end] == ' ' || line[end] == '\r';
        if (startsWord && endsWord) {
            return true;
        }
        at = end;
    }
    return false;
}

// Reads leading digits; none when there are none.
std::optional<int> leadingNumber(std::string_view& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{}) {
        return std::nullopt;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

}  // namespace

std::string FFmpegRelease::text() const {
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string FFmpegBuildFacts::licenceName() const {
    if (isGPL) {
        return isVersion3 ? "GPL version 3" : "GPL 2";
    }
    return isVersion3 ? "LGPL version 3" : "LGPL 2.1";
}

std::optional<FFmpegRelease> FFmpegBuildFacts::release() const {
    std::string_view text = version;
    // Release tags of the FFmpeg repository read "n6.1.1".
    if (text.starts_with('n')) {
        text.remove_prefix(1);
    }
    const auto major = leadingNumber(text);
    if (!major) {
        return std::nullopt;
    }
    FFmpegRelease release{*major, 0};
    if (text.starts_with('.')) {
        text.remove_prefix(1);
        if (const auto minor = leadingNumber(text)) {
            release.minor = *minor;
        }
    } else if (!text.empty() && text.front() != '-' && text.front() != '+' && text.front() != '~') {
        return std::nullopt;
    }
    return release;
}

std::optional<FFmpegBuildFacts> parseFFmpegVersionOutput(std::string_view output) {
    constexpr std::string_view marker = "ffmpeg version ";
    std::optional<FFmpegBuildFacts> facts;
    std::size_t lineStart = 0;
    while (lineStart < output.size()) {
        std::size_t lineEnd = output.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = output.size();
        }
        std::string_view line = output.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (!facts && line.starts_with(marker)) {
            std::string_view rest = line.substr(marker.size());
            const std::size_t space = rest.find_first_of(" \r");
            facts.emplace();
            facts->version = std::string(rest.substr(0, space));
        } else if (facts && line.starts_with("configuration:")) {
            facts->isGPL = hasOption(line, "--enable-gpl");
            facts->isVersion3 = hasOption(line, "--enable-version3");
        }
    }
    if (facts && facts->version.empty()) {
        return std::nullopt;
    }
    return facts;
}

std::optional<FFmpegBuildFacts> askFFmpegVersion(ProcessRunning& runner,
                                                 const std::filesystem::path& ffmpeg,
                                                 std::stop_token stop) {
    try {
        const ProcessResult result = runner.run(ffmpeg, {"-version"}, {}, stop);
        if (result.terminationStatus == 0 && !stop.stop_requested()) {
            return parseFFmpegVersionOutput(result.standardOutput);
        }
    } catch (const std::exception&) {
        // Unknown, like any answer that is not ffmpeg's.
    }
    return std::nullopt;
}

std::optional<std::string> ffmpegChoiceProblem(ProcessRunning& runner,
                                               const std::filesystem::path& file,
                                               std::stop_token stop) {
    const auto refused = [&](const std::string& why, const std::string& next) {
        return quotedName(file) + " cannot be used as ffmpeg: " + why + ". " + next +
               " Tavrolin keeps the ffmpeg it uses now.";
    };
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        return refused(std::strerror(errno), "Choose the ffmpeg program again.");
    }
    if (!S_ISREG(info.st_mode)) {
        return refused("it is not a file", "Choose the ffmpeg program itself.");
    }
    if (!isExecutableFile(file)) {
        return refused("it is not executable",
                       "Allow it to run as a program (chmod +x), or choose another.");
    }
    const auto facts = askFFmpegVersion(runner, file, stop);
    if (stop.stop_requested()) {
        return std::nullopt;
    }
    if (!facts) {
        return refused("it did not answer as ffmpeg does", "Choose the ffmpeg program itself.");
    }
    return std::nullopt;
}

InstalledFFmpeg::InstalledFFmpeg(std::shared_ptr<ProcessRunning> runner, ToolLocations locations)
    : runner_(std::move(runner)), locations_(std::move(locations)) {}

std::optional<FFmpegBuildFacts> InstalledFFmpeg::facts(std::stop_token stop) {
    std::filesystem::path ffmpeg;
    std::error_code error;
    try {
        ffmpeg = FFmpegToolchain::resolve(locations_).ffmpeg;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    const auto modified = std::filesystem::last_write_time(ffmpeg, error);
    if (error) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const Key key{ffmpeg, modified};
    if (const auto known = answers_.find(key); known != answers_.end()) {
        return known->second;
    }
    const auto answer = askFFmpegVersion(*runner_, ffmpeg, stop);
    if (stop.stop_requested()) {
        return std::nullopt;
    }
    answers_[key] = answer;
    return answer;
}

}  // namespace tavrolin
