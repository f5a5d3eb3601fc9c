#include "engine/PacketCensusReading.h"

#include <functional>
#include <memory>
#include <utility>

#include "model/CancellationError.h"
#include "probe/PacketReadError.h"

namespace tavrolin {

namespace {

// Opens `file`, hands its header to `opened` (none when it cannot be opened) and reads its
// census; none when that fails or is stopped.
std::optional<FileCensus> readFileCensus(
    const std::filesystem::path& file, std::stop_token stop,
    const std::function<void(const std::optional<PacketFormat>&)>& opened) {
    std::unique_ptr<PacketReading> reader;
    try {
        reader = openPacketReader(file, {}, stop);
    } catch (const PacketReadError&) {
    } catch (const CancellationError&) {
    } catch (...) {
        opened(std::nullopt);  // whoever waits for the header is not left waiting
        throw;
    }
    if (!reader) {
        opened(std::nullopt);
        return std::nullopt;
    }
    opened(reader->format());
    try {
        return FileCensus{reader->format(), readPacketCensus(*reader, std::move(stop))};
    } catch (const PacketReadError&) {
        return std::nullopt;
    } catch (const CancellationError&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<FileCensus> readFileCensusOrNone(const std::filesystem::path& file,
                                               std::stop_token stop) {
    return readFileCensus(file, std::move(stop), [](const auto&) {});
}

std::optional<PacketCensus> readPacketCensusOrNone(const std::filesystem::path& file,
                                                   std::stop_token stop) {
    auto read = readFileCensusOrNone(file, std::move(stop));
    return read ? std::optional(std::move(read->census)) : std::nullopt;
}

std::optional<double> statedDuration(const PacketFormat& header) {
    const auto seconds = secondsOfMicroseconds(header.durationMicroseconds);
    return seconds && *seconds > 0 ? seconds : std::nullopt;
}

PacketCensusRead::PacketCensusRead(std::filesystem::path file, std::stop_token stop)
    : header_(opened_.get_future().share()),
      census_(std::move(stop), [this, file = std::move(file)](std::stop_token own) {
          auto read = readFileCensus(file, std::move(own),
                                     [this](const auto& header) { opened_.set_value(header); });
          return read ? std::optional(std::move(read->census)) : std::nullopt;
      }) {}

}  // namespace tavrolin
