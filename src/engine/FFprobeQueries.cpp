#include "engine/FFprobeQueries.h"

#include <cmath>
#include <csignal>
#include <exception>
#include <nlohmann/json.hpp>

#include "model/CancellationError.h"
#include "model/Paths.h"
#include "model/TextMetrics.h"
#include "probe/ProbeText.h"
#include "process/ProcessCancellation.h"

namespace tavrolin {

namespace fs = std::filesystem;

ProcessResult runBoundedFFprobe(ProcessRunning& runner, const fs::path& ffprobe,
                                const std::vector<std::string>& arguments, std::stop_token stop) {
    try {
        return withProbeSlot(runner, ffprobe, arguments, stop);
    } catch (const CancellationError&) {
        // As the runner answers a run that was stopped before it started.
        return ProcessResult{128 + SIGTERM, {}, {}};
    }
}

std::optional<double> probeDuration(ProcessRunning& runner, const fs::path& file,
                                    const fs::path& ffprobe, std::stop_token stop) {
    try {
        auto result = runBoundedFFprobe(
            runner, ffprobe,
            {"-v", "error", "-show_entries", "format=duration", "-of",
             "default=noprint_wrappers=1:nokey=1", standardizedPath(file).string()},
            stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        auto duration = parseFiniteNumber(result.standardOutput);
        if (duration && *duration > 0) {
            return duration;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<std::vector<std::pair<std::int64_t, std::string>>> probeStreamKinds(
    ProcessRunning& runner, const fs::path& file, const fs::path& ffprobe, std::stop_token stop) {
    try {
        auto result = runBoundedFFprobe(runner, ffprobe,
                                        {"-v", "error", "-show_entries", "stream=index,codec_type",
                                         "-of", "json", file.string()},
                                        stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        std::vector<std::pair<std::int64_t, std::string>> kinds;
        auto json = nlohmann::json::parse(result.standardOutput);
        for (const auto& stream : json.at("streams")) {
            kinds.emplace_back(stream.at("index").get<std::int64_t>(),
                               stream.value("codec_type", std::string()));
        }
        return kinds;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace tavrolin
