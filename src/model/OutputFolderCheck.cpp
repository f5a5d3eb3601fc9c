#include "model/OutputFolderCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "model/ErrorMessage.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

std::string firstFreeName(const std::string& stem, const std::string& extension,
                          const std::function<bool(const std::string& name)>& taken) {
    std::string name = stem + extension;
    for (int number = 2; number <= 10'000 && taken(name); ++number) {
        name = stem + " " + std::to_string(number) + extension;
    }
    return name;
}

std::string folderNotAnsweringText(const fs::path& folder) {
    return "The folder " + quotedName(folder) +
           " does not answer. Choose another folder, or try again once it answers.";
}

bool isWriteCheckName(std::string_view name) {
    const auto rest = textAfterPrefixedUuid(name, writeCheckPrefix);
    return rest && rest->empty();
}

void removeWriteChecks(const fs::path& folder) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return;
    }
    while (const dirent* entry = ::readdir(directory)) {
        if (isWriteCheckName(entry->d_name)) {
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
        }
    }
    ::closedir(directory);
}

std::error_code folderWriteError(const fs::path& folder) {
    const fs::path probe = folder / (std::string(writeCheckPrefix) + Uuid::random().toString());
    const int descriptor =
        ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        // Something else could be created there, if not by us.
        return errno == EEXIST ? std::error_code{}
                               : std::error_code{errno, std::generic_category()};
    }
    ::close(descriptor);
    ::unlink(probe.c_str());
    return {};
}

std::optional<std::string> outputFolderProblem(const fs::path& folder) {
    std::error_code error;
    const auto status = fs::status(folder, error);
    if (error == std::errc::no_such_file_or_directory) {
        return std::nullopt;  // the job creates it, and says so if it cannot
    }
    if ((!error && !fs::is_directory(status)) || error == std::errc::not_a_directory) {
        return quotedName(folder) + " is not a folder. Choose another output folder.";
    }
    if (!error) {
        removeWriteChecks(folder);
        error = folderWriteError(folder);
        if (!error) {
            return std::nullopt;
        }
    }
    return "Tavrolin cannot create files in the output folder " + quotedName(folder) + " (" +
           std::strerror(error.value()) + "). Choose another folder.";
}

}  // namespace tavrolin
