#include "engine/PacketCensusReading.h"

#include <future>
#include <utility>

#include "engine/FFprobeQueries.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// The latest end of each of `streams`, from the file's last seconds and, for those that end
// before them, from a listing of their own; none when a run fails.
std::optional<std::map<std::int64_t, double>> streamEnds(ProcessRunning& runner,
                                                         const fs::path& file,
                                                         const std::vector<std::int64_t>& streams,
                                                         const fs::path& ffprobe,
                                                         std::stop_token stop) {
    const auto listing = [&runner, &file, &ffprobe, stop](std::optional<std::int64_t> stream,
                                                          std::optional<double> from) {
        return runBoundedFFprobe(runner, ffprobe, packetListArguments(file, stream, from), stop);
    };
    const auto outlineRun = runBoundedFFprobe(runner, ffprobe, censusOutlineArguments(file), stop);
    const auto outline = outlineRun.terminationStatus == 0
                             ? parseCensusOutline(outlineRun.standardOutput)
                             : std::nullopt;
    if (!outline) {
        return std::nullopt;
    }
    const auto from = censusTailStart(*outline);
    const auto tail = listing(std::nullopt, from);
    if (tail.terminationStatus != 0) {
        return std::nullopt;
    }
    auto ends = parsePacketEnds(tail.standardOutput, from);
    if (!from) {
        return ends;  // the whole file was listed
    }
    std::vector<std::pair<std::int64_t, std::future<ProcessResult>>> earlier;
    for (const auto stream : streams) {
        if (!ends.contains(stream) && !outline->untimed.contains(stream)) {
            earlier.emplace_back(
                stream, std::async(std::launch::async, listing, stream, std::optional<double>()));
        }
    }
    bool read = true;
    for (auto& [stream, run] : earlier) {
        const auto result = run.get();
        read = read && result.terminationStatus == 0;
        const auto own = parsePacketEnds(result.standardOutput);
        if (const auto end = own.find(stream); end != own.end()) {
            ends[stream] = end->second;
        }
    }
    return read ? std::optional(std::move(ends)) : std::nullopt;
}

}  // namespace

std::optional<FileCensus> readPacketCensus(ProcessRunning& runner, const fs::path& file,
                                           const std::vector<std::int64_t>& streams,
                                           const fs::path& ffprobe, std::stop_token stop,
                                           HeldProbe* heldCount) {
    auto counting = std::async(std::launch::async, [&runner, &file, &ffprobe, stop, heldCount] {
        return heldCount ? heldCount->finish()
                         : runBoundedFFprobe(runner, ffprobe, packetCountArguments(file), stop);
    });
    const auto ends = streamEnds(runner, file, streams, ffprobe, stop);
    const auto counted = counting.get();
    if (!ends || counted.terminationStatus != 0) {
        return std::nullopt;
    }
    FileCensus census{parsePacketCounts(counted.standardOutput),
                      parseCountedDuration(counted.standardOutput)};
    for (const auto& [stream, end] : *ends) {
        census.packets[stream].end = end;
    }
    return census;
}

PacketCensusRead::PacketCensusRead(ProcessRunning& runner, fs::path file,
                                   std::vector<std::int64_t> streams, fs::path ffprobe,
                                   std::stop_token stop)
    : census_(std::move(stop), [&runner, file = std::move(file), streams = std::move(streams),
                                ffprobe = std::move(ffprobe)](std::stop_token own) {
          return readPacketCensus(runner, file, streams, ffprobe, own);
      }) {}

}  // namespace tavrolin
