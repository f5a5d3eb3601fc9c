#include "engine/FFprobeQueries.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <exception>
#include <nlohmann/json.hpp>

#include "model/CancellationError.h"
#include "model/Paths.h"
#include "model/TextMetrics.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReading.h"
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

std::optional<std::int64_t> countFirstVideoPackets(const fs::path& file, std::stop_token stop) {
    try {
        const auto reader = openPacketReader(standardizedPath(file), {}, stop);
        const auto& streams = reader->format().streams;
        const auto video = std::find_if(streams.begin(), streams.end(), [](const auto& stream) {
            return stream.codecType == "video";
        });
        if (video == streams.end()) {
            return std::nullopt;
        }
        std::int64_t count = 0;
        reader->read(
            [&count, index = video->index](const ReadPacket& packet) {
                count += packet.stream == index ? 1 : 0;
                return true;
            },
            stop);
        return count > 0 ? std::optional(count) : std::nullopt;
    } catch (const PacketReadError&) {
        return std::nullopt;
    } catch (const CancellationError&) {
        return std::nullopt;
    }
}

std::optional<std::int64_t> countVideoPackets(
    const std::vector<fs::path>& files,
    const std::vector<std::optional<std::int64_t>>& headerCounts, std::stop_token stop) {
    std::vector<std::future<std::optional<std::int64_t>>> counts;
    for (std::size_t at = 0; at < files.size(); ++at) {
        if (at < headerCounts.size() && headerCounts[at]) {
            std::promise<std::optional<std::int64_t>> known;
            known.set_value(headerCounts[at]);
            counts.push_back(known.get_future());
            continue;
        }
        counts.push_back(std::async(std::launch::async, [file = files[at], stop] {
            return countFirstVideoPackets(file, stop);
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
