#include "engine/split/PartFileBytes.h"

#include <algorithm>
#include <exception>
#include <system_error>

#include "model/MediaProcessingError.h"

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

void rewriteFinishedPart(const std::filesystem::path& output, std::string_view what,
                         std::string_view where, const std::function<void()>& rewrite) {
    try {
        rewrite();
    } catch (const std::exception& error) {
        throw MediaProcessingError::processFailed(
            "Tavrolin could not " + std::string(what) + " \u201C" + output.filename().string() +
            "\u201D" + std::string(where) + " (" + error.what() +
            "). Try the split again, or choose another output format.");
    }
}

}  // namespace tavrolin
