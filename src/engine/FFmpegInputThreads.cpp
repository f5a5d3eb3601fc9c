#include "engine/FFmpegInputThreads.h"

#include <algorithm>

namespace tavrolin {

bool readsSeveralInputs(const std::vector<std::string>& arguments) {
    return std::count(arguments.begin(), arguments.end(), "-i") > 1;
}

std::vector<std::string> readingInputsOnMainThread(std::vector<std::string> arguments,
                                                   std::optional<FFmpegRelease> release) {
    if (release != FFmpegRelease{5, 1} || !readsSeveralInputs(arguments)) {
        return arguments;
    }
    std::vector<std::string> inline_;
    inline_.reserve(arguments.size() + 8);
    for (auto& argument : arguments) {
        if (argument == "-i") {
            inline_.insert(inline_.end(), {"-thread_queue_size", "0"});
        }
        inline_.push_back(std::move(argument));
    }
    return inline_;
}

}  // namespace tavrolin
