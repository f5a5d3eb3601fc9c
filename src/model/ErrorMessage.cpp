#include "model/ErrorMessage.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tavrolin {

std::string quotedName(const std::filesystem::path& path) {
    const std::filesystem::path normal = path.lexically_normal();
    const std::filesystem::path name =
        normal.has_filename() ? normal.filename() : normal.parent_path().filename();
    return "\u201C" + (name.empty() ? normal.string() : name.string()) + "\u201D";
}

std::string missingFileMessage(const std::filesystem::path& file) {
    return quotedName(file) + " is no longer in " + quotedName(file.parent_path()) +
           ". Add it again, or choose another file.";
}

bool isFileGone(const std::filesystem::path& file) noexcept {
    std::error_code error;
    return std::filesystem::status(file, error).type() == std::filesystem::file_type::not_found;
}

std::optional<std::string_view> specialFileKind(const std::filesystem::path& file) noexcept {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        // Nothing there, or unreadable: the tool that reads it says so. A loop of links has
        // no file to read at all.
        return errno == ELOOP ? std::optional<std::string_view>("a link that leads back to itself")
                              : std::nullopt;
    }
    switch (status.st_mode & S_IFMT) {
        case S_IFREG:
            return std::nullopt;
        case S_IFDIR:
            return "a folder";
        case S_IFIFO:
            return "a named pipe";
        case S_IFCHR:
        case S_IFBLK:
            return "a device";
        case S_IFSOCK:
            return "a socket";
        default:
            return "a special file";
    }
}

std::string notRegularFileMessage(const std::filesystem::path& file, std::string_view kind) {
    return quotedName(file) + " is " + std::string(kind) +
           ", not a video or audio file, so Tavrolin did not read it. Remove it, then add the "
           "media file itself.";
}

std::string userMessage(const std::exception& error) {
    if (const auto* fsError = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        const auto& path = fsError->path1().empty() ? fsError->path2() : fsError->path1();
        std::string reason = std::strerror(fsError->code().value());
        if (fsError->code().category() != std::generic_category() &&
            fsError->code().category() != std::system_category()) {
            reason = fsError->code().message();
        }
        if (path.empty()) {
            return reason;
        }
        return quotedName(path) + ": " + reason;
    }
    return error.what();
}

std::string userMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return userMessage(e);
    } catch (...) {
        return "An unknown error occurred.";
    }
}

bool namesFile(std::string_view message, std::string_view fileName) {
    const std::string quoted = "\u201C" + std::string(fileName) + "\u201D";
    return message.find(quoted) != std::string_view::npos;
}

}  // namespace tavrolin
