#include "preview/PreviewMediaError.h"

namespace tavrolin {

namespace {

std::string quoted(const std::filesystem::path& file) {
    return "\u201C" + file.filename().string() + "\u201D";
}

}  // namespace

PreviewMediaError::PreviewMediaError(Case errorCase, const std::string& description)
    : std::runtime_error(description), case_(errorCase) {}

PreviewMediaError PreviewMediaError::cannotOpen(const std::filesystem::path& file) {
    return PreviewMediaError(Case::cannotOpen,
                             quoted(file) + " could not be opened as a media file.");
}

PreviewMediaError PreviewMediaError::missingTimestamps(const std::filesystem::path& file) {
    return PreviewMediaError(Case::missingTimestamps,
                             "The video frames of " + quoted(file) + " carry no timestamps.");
}

PreviewMediaError PreviewMediaError::cannotDecode(const std::filesystem::path& file) {
    return PreviewMediaError(Case::cannotDecode,
                             "The video of " + quoted(file) + " could not be decoded.");
}

}  // namespace tavrolin
