#pragma once

#include <filesystem>

namespace tavrolin {

// A base folder of the XDG layout: $`variable` when it is absolute, else `belowHome` in the home
// folder ($HOME when absolute, else the password database's entry), else the temporary directory.
std::filesystem::path xdgBaseFolder(const char* variable, const std::filesystem::path& belowHome);

// The application's folder for working files that may be large (preview copies, extracted
// audio): $XDG_CACHE_HOME/tavrolin, with ~/.cache when the variable is unset or not absolute,
// the home folder from the password database when $HOME is unset, and the temporary directory
// when there is no home at all.
std::filesystem::path tavrolinCacheFolder();

// Makes every missing level of `folder` with mode 0700, then requires `folder` to be a directory
// of this user: one that another user made first could be read or swapped by them. Throws
// std::filesystem::filesystem_error.
void createPrivateFolders(const std::filesystem::path& folder);

}  // namespace tavrolin
