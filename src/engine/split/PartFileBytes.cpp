#include "engine/split/PartFileBytes.h"

#include <algorithm>
#include <system_error>

namespace tavrolin {

std::string readPartBytes(std::fstream& stream, std::uint64_t offset, std::size_t size) {
    std::string bytes(size, '\0');
    stream.clear();
    stream.seekg(static_cast<std::streamoff>(offset));
    stream.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    return bytes;
}

void writePartBytes(std::fstream& stream, std::uint64_t offset, std::string_view bytes,
                    const std::filesystem::path& file) {
    stream.clear();
    stream.seekp(static_cast<std::streamoff>(offset));
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream) {
        throw std::filesystem::filesystem_error("cannot write the part", file,
                                                std::make_error_code(std::errc::io_error));
    }
}

}  // namespace tavrolin
