#pragma once

#include <filesystem>

namespace tavrolin {

// The absolute, lexically normal form of a path, used to compare files by name.
std::filesystem::path standardizedPath(const std::filesystem::path& path);

}  // namespace tavrolin
