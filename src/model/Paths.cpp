#include "model/Paths.h"

#include <system_error>

namespace tavrolin {

std::filesystem::path standardizedPath(const std::filesystem::path& path) {
    std::error_code error;
    auto absolute = std::filesystem::absolute(path, error);
    return (error ? path : absolute).lexically_normal();
}

}  // namespace tavrolin
