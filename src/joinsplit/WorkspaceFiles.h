#pragma once

#include <filesystem>
#include <vector>

namespace tavrolin {

// The files a workspace takes from a panel or a drop: absolute paths with a non-empty
// extension, in the given order. Duplicates are left for the workspace to skip.
std::vector<std::filesystem::path> filesWithExtension(
    const std::vector<std::filesystem::path>& urls);

}  // namespace tavrolin
