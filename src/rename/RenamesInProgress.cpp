#include "rename/RenamesInProgress.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "engine/CacheFolder.h"
#include "engine/FileOperations.h"
#include "model/Uuid.h"
#include "rename/FileManaging.h"
#include "rename/RenameJournal.h"

namespace tavrolin {

namespace fs = std::filesystem;

RenamesInProgress::RenamesInProgress(fs::path file) : file_(std::move(file)) {}

fs::path RenamesInProgress::defaultFile() {
    return xdgBaseFolder("XDG_STATE_HOME", fs::path(".local") / "state") / "tavrolin" /
           "renames-in-progress";
}

void RenamesInProgress::add(const fs::path& folder) {
    const std::lock_guard lock(mutex_);
    auto folders = read();
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
        folders.push_back(folder);
        write(folders);
    }
}

void RenamesInProgress::remove(const fs::path& folder) {
    const std::lock_guard lock(mutex_);
    auto folders = read();
    if (std::erase(folders, folder) > 0) {
        write(folders);
    }
}

std::vector<fs::path> RenamesInProgress::folders() {
    const std::lock_guard lock(mutex_);
    return read();
}

std::vector<fs::path> RenamesInProgress::read() const {
    std::ifstream stream(file_, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(stream), {}};
    std::vector<fs::path> folders;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        // Folders are escaped as journal names are, so any path fits on one line.
        if (auto folder = unescapedName(std::string_view(text).substr(start, end - start));
            folder && !folder->empty() && folder->front() == '/') {
            folders.emplace_back(std::move(*folder));
        }
    }
    return folders;
}

void RenamesInProgress::write(const std::vector<fs::path>& folders) const {
    std::string text;
    for (const auto& folder : folders) {
        appendEscapedName(text, folder.native());
        text += '\n';
    }
    try {
        createPrivateFolders(file_.parent_path());
        const fs::path working = workingNameFor(file_);
        writeNewFile(working, text);
        std::error_code error;
        fs::rename(working, file_, error);
        if (error) {
            removeQuietly(working);
        }
    } catch (const std::exception&) {
        // The journals in the folders still record every rename; this list only finds them.
    }
}

}  // namespace tavrolin
