#include "model/OutputFolderCheck.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::string quotedName(const fs::path& folder) {
    const fs::path normal = folder.lexically_normal();
    const fs::path name =
        normal.has_filename() ? normal.filename() : normal.parent_path().filename();
    return "\u201C" + (name.empty() ? normal.string() : name.string()) + "\u201D";
}

}  // namespace

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
        const fs::path probe = folder / (".tavrolin-write-check-" + Uuid::random().toString());
        const int descriptor =
            ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (descriptor >= 0) {
            ::close(descriptor);
            ::unlink(probe.c_str());
            return std::nullopt;
        }
        error.assign(errno, std::generic_category());
        if (error == std::errc::file_exists) {
            return std::nullopt;  // something could be created there, if not by us
        }
    }
    return "Tavrolin cannot create files in the output folder " + quotedName(folder) + " (" +
           std::strerror(error.value()) + "). Choose another folder.";
}

const std::optional<std::string>& OutputFolderCheck::problem(
    const std::optional<fs::path>& folder) {
    if (!checked_ || folder != folder_) {
        folder_ = folder;
        problem_ = folder ? outputFolderProblem(*folder) : std::nullopt;
        checked_ = true;
    }
    return problem_;
}

}  // namespace tavrolin
