#include "engine/split/PartPacketIndex.h"

#include "model/TextMetrics.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

using IndexReader = std::optional<PartPacketIndex> (*)(const fs::path&, bool);

IndexReader indexReaderFor(const fs::path& named) {
    const std::string extension = lowercased(named.extension().string());
    if (extension == ".mp4" || extension == ".m4v" || extension == ".mov" || extension == ".m4a") {
        return readMp4PacketIndex;
    }
    if (extension == ".mkv" || extension == ".webm" || extension == ".mka") {
        return readMatroskaPacketIndex;
    }
    return nullptr;
}

}  // namespace

bool readsPartIndex(const fs::path& named) {
    return indexReaderFor(named) != nullptr;
}

std::optional<PartPacketIndex> readPartIndex(const fs::path& part, const fs::path& named,
                                             bool video) {
    const IndexReader reader = indexReaderFor(named);
    return reader ? reader(part, video) : std::nullopt;
}

}  // namespace tavrolin
