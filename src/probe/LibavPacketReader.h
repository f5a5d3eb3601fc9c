#pragma once

#include <filesystem>
#include <memory>
#include <stop_token>

#include "probe/PacketReading.h"

namespace tavrolin {

// PacketReading over libavformat, opened as ffprobe opens a file (its probe of the streams, the
// same demuxer options), reading through read(2) on a descriptor of its own. Lives in the
// packet reader module; see PacketReading for threads and errors.
class LibavPacketReader final : public PacketReading {
  public:
    LibavPacketReader(const std::filesystem::path& file, PacketReadOptions options,
                      std::stop_token stop);
    ~LibavPacketReader() override;
    LibavPacketReader(const LibavPacketReader&) = delete;
    LibavPacketReader& operator=(const LibavPacketReader&) = delete;

    const PacketFormat& format() const override { return format_; }
    PacketReadEnd read(const PacketVisitor& visit, std::stop_token stop) override;
    void seek(double seconds) override;

    struct Input;

  private:
    std::filesystem::path file_;
    std::unique_ptr<Input> input_;
    PacketFormat format_;
    bool checksums_ = false;
};

}  // namespace tavrolin
