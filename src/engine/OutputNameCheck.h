#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "model/OutputClaim.h"

namespace tavrolin {

// What a page knows about its outputs' names without touching the disk on its own thread: which
// queued job claims a name, and whether a file stood there when the page last checked (off the
// GUI thread). Either may be empty: then nothing is claimed or exists.
struct OutputLookup {
    std::function<OutputClaim(const std::filesystem::path&)> claim;
    std::function<bool(const std::filesystem::path&)> exists;
};

// Why a page must not queue a job writing `output`, made from `source`, as far as the name
// tells: a name or path the file system takes no longer, a job that already claims it, or a
// file already there. Pure; any thread.
struct OutputNameProblem {
    enum class Case { nameTooLong, pathTooLong, claimed, exists };

    Case problemCase;
    std::string message;
};
std::optional<OutputNameProblem> outputNameProblem(const std::filesystem::path& source,
                                                   const std::filesystem::path& output,
                                                   const OutputLookup& lookup);

}  // namespace tavrolin
