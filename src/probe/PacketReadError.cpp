#include "probe/PacketReadError.h"

#include "model/ErrorMessage.h"

namespace tavrolin {

namespace {

std::string message(PacketReadError::Case errorCase, const std::filesystem::path& file,
                    const std::string& reason) {
    const std::string what = errorCase == PacketReadError::Case::damaged
                                 ? " ends too soon or is damaged ("
                                 : " could not be read (";
    return "\u201C" + file.filename().string() + "\u201D in the folder " +
           quotedName(file.parent_path()) + what + reason +
           "). Check that the folder is still there and working, then try again.";
}

}  // namespace

PacketReadError::PacketReadError(Case errorCase, const std::filesystem::path& file,
                                 const std::string& reason)
    : std::runtime_error(message(errorCase, file, reason)),
      case_(errorCase),
      file_(file),
      reason_(reason) {}

PacketReadError PacketReadError::cannotOpen(const std::filesystem::path& file,
                                            const std::string& reason) {
    return {Case::cannotOpen, file, reason};
}

PacketReadError PacketReadError::readFailed(const std::filesystem::path& file,
                                            const std::string& reason) {
    return {Case::readFailed, file, reason};
}

PacketReadError PacketReadError::damaged(const std::filesystem::path& file,
                                         const std::string& reason) {
    return {Case::damaged, file, reason};
}

}  // namespace tavrolin
