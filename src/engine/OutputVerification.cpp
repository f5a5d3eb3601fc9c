#include "engine/OutputVerification.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>

#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFprobeQueries.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

const char* const streamsMessage =
    "Tavrolin could not verify the prepared media streams. The original file was not changed.";

}  // namespace

void verifyPreparedReplacement(ProcessRunning& runner, const fs::path& prepared,
                               std::size_t expectedStreamCount, const fs::path& ffprobe,
                               double sourceDuration, std::stop_token stop) {
    std::error_code sizeError;
    auto size = fs::file_size(prepared, sizeError);
    if (sizeError || size < 1) {
        throw MediaProcessingError::processFailed(
            "The prepared replacement is empty. The original file was not changed.");
    }
    auto result = runBoundedFFprobe(runner, ffprobe,
                                    {"-v", "error", "-show_entries", "format=duration:stream=index",
                                     "-of", "json", standardizedPath(prepared).string()},
                                    stop);
    throwIfStopped(stop);
    if (result.terminationStatus != 0) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    std::optional<double> duration;
    try {
        auto json = nlohmann::json::parse(result.standardOutput);
        std::size_t streamCount = 0;
        for (const auto& stream : json.at("streams")) {
            stream.at("index").get<std::int64_t>();
            ++streamCount;
        }
        if (streamCount < expectedStreamCount || !json.contains("format")) {
            throw MediaProcessingError::processFailed(streamsMessage);
        }
        const auto& format = json.at("format");
        if (format.contains("duration")) {
            duration = parseFiniteNumber(format.at("duration").get<std::string>());
        }
    } catch (const nlohmann::json::exception&) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    if (!duration || !(*duration > 0)) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    const double tolerance = std::max(sourceDuration * 0.02, 3.0);
    if (std::abs(*duration - sourceDuration) > tolerance) {
        throw MediaProcessingError::processFailed(
            "The prepared file duration does not match the source. The original file was not "
            "changed.");
    }
}

void verifyPreparedPackets(ProcessRunning& runner, const fs::path& prepared, const fs::path& source,
                           const std::vector<CopiedStream>& streams, const fs::path& ffprobe,
                           std::stop_token stop) {
    // Both files are read whole, side by side.
    auto census = [&runner, &ffprobe, stop](const fs::path& file) -> std::optional<PacketCensus> {
        const auto result = runBoundedFFprobe(runner, ffprobe, packetCensusArguments(file), stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        return parsePacketCensus(result.standardOutput);
    };
    auto original = std::async(std::launch::async, census, standardizedPath(source));
    const auto copy = census(standardizedPath(prepared));
    const auto sourceCensus = original.get();
    if (!copy || !sourceCensus || !holdsEveryPacket(*sourceCensus, *copy, streams)) {
        throw MediaProcessingError::processFailed(
            "Tavrolin left \u201C" + source.filename().string() +
            "\u201D unchanged because its prepared copy is incomplete; try the export again.");
    }
}

}  // namespace tavrolin
