#include "joinsplit/WorkspaceFiles.h"

namespace tavrolin {

std::vector<std::filesystem::path> filesWithExtension(
    const std::vector<std::filesystem::path>& urls) {
    std::vector<std::filesystem::path> kept;
    for (const auto& url : urls) {
        // has_extension() is false for ".hidden" and for "name." alike.
        if (url.is_absolute() && url.extension().string().size() > 1) {
            kept.push_back(url);
        }
    }
    return kept;
}

}  // namespace tavrolin
