#include "engine/PacketCensusReading.h"

#include <utility>

#include "model/CancellationError.h"
#include "probe/PacketReadError.h"

namespace tavrolin {

std::optional<PacketCensus> readPacketCensusOrNone(const std::filesystem::path& file,
                                                   std::stop_token stop) {
    try {
        return readPacketCensus(file, std::move(stop));
    } catch (const PacketReadError&) {
        return std::nullopt;
    } catch (const CancellationError&) {
        return std::nullopt;
    }
}

PacketCensusRead::PacketCensusRead(std::filesystem::path file, std::stop_token stop)
    : census_(std::move(stop), [file = std::move(file)](std::stop_token own) {
          return readPacketCensusOrNone(file, std::move(own));
      }) {}

}  // namespace tavrolin
