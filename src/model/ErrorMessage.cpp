#include "model/ErrorMessage.h"

#include <cstring>
#include <filesystem>

namespace tavrolin {

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
        // A folder given with a trailing slash has an empty file name; name the folder.
        const auto name = path.has_filename() ? path.filename() : path.parent_path().filename();
        return "\u201C" + name.string() + "\u201D: " + reason;
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
