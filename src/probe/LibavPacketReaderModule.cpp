// The packet reader module's entry point: the program opens it on first use, so that libav
// loads only when a file's packets are read.
#include <type_traits>

#include "probe/LibavPacketReader.h"

extern "C" tavrolin::PacketReading* tavrolin_open_packet_reader(const std::filesystem::path& file,
                                                                tavrolin::PacketReadOptions options,
                                                                std::stop_token stop) {
    return new tavrolin::LibavPacketReader(file, options, std::move(stop));
}

// The entry point's type must stay what the program casts it to.
static_assert(
    std::is_same_v<decltype(&tavrolin_open_packet_reader), tavrolin::PacketReaderModuleEntry>);
