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

std::optional<std::int64_t> probeVideoPacketCount(ProcessRunning& runner, const fs::path& file,
                                                  const fs::path& ffprobe, std::stop_token stop) {
    const auto ask = [&](bool count) -> std::optional<nlohmann::json> {
        std::vector<std::string> arguments = {"-v", "error", "-select_streams", "v:0"};
        if (count) {
            arguments.push_back("-count_packets");
        }
        arguments.insert(arguments.end(),
                         {"-show_entries", "stream=nb_frames,nb_read_packets:format=format_name",
                          "-of", "json", standardizedPath(file).string()});
        const auto result = runBoundedFFprobe(runner, ffprobe, arguments, stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        return nlohmann::json::parse(result.standardOutput);
    };
    const auto number = [](const nlohmann::json& report, const char* key) {
        const auto& streams = report.at("streams");
        const std::string text = streams.empty() ? "" : streams.at(0).value(key, std::string());
        const auto value = parseFiniteNumber(text);
        return value && *value > 0 ? std::optional(static_cast<std::int64_t>(*value))
                                   : std::nullopt;
    };
    try {
        const auto header = ask(false);
        if (!header || header->at("streams").empty()) {
            return std::nullopt;
        }
        // Another demuxer's count may be an estimate, or include frames it never returns.
        const std::string format = header->at("format").value("format_name", std::string());
        if (format.rfind("mov,", 0) == 0) {
            if (auto samples = number(*header, "nb_frames")) {
                return samples;
            }
        }
        const auto counted = ask(true);
        return counted ? number(*counted, "nb_read_packets") : std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<std::int64_t> countVideoPackets(ProcessRunning& runner,
                                              const std::vector<fs::path>& files,
                                              const fs::path& ffprobe, std::stop_token stop) {
    std::vector<std::future<std::optional<std::int64_t>>> counts;
    for (const auto& file : files) {
        counts.push_back(std::async(std::launch::async, [&runner, &file, &ffprobe, stop] {
            return probeVideoPacketCount(runner, file, ffprobe, stop);
        }));
    }
    std::optional<std::int64_t> total = 0;
    for (auto& count : counts) {
        const auto read = count.get();
        total = read && total ? std::optional(*total + *read) : std::nullopt;
    }
    return total;
}

}  // namespace tavrolin
