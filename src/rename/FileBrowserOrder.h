#pragma once

#include <filesystem>
#include <vector>

namespace tavrolin {

// Sorts files as a file browser lists them: by file name with numbers compared by value
// ("Episode 2" before "Episode 10") and letters by the user's locale, then by full path. Any
// thread.
void sortInFileBrowserOrder(std::vector<std::filesystem::path>& files);

}  // namespace tavrolin
