#include "probe/PacketReading.h"

#include "process/ModuleLoader.h"

namespace tavrolin {

double secondsOf(std::int64_t ticks, TimeBase base) {
    return base.den != 0 ? static_cast<double>(ticks) * base.num / base.den : 0.0;
}

std::optional<double> secondsOf(const std::optional<std::int64_t>& ticks, TimeBase base) {
    return ticks ? std::optional<double>(secondsOf(*ticks, base)) : std::nullopt;
}

std::optional<double> secondsOfMicroseconds(const std::optional<std::int64_t>& microseconds) {
    return secondsOf(microseconds, TimeBase{1, 1000000});
}

std::unique_ptr<PacketReading> openPacketReader(const std::filesystem::path& file,
                                                PacketReadOptions options, std::stop_token stop) {
    const auto open = reinterpret_cast<PacketReaderModuleEntry>(moduleEntry(
        "Splitting, joining and checking files", packetReaderModuleFile, packetReaderModuleEntry));
    return std::unique_ptr<PacketReading>(open(file, options, std::move(stop)));
}

}  // namespace tavrolin
