#include "engine/OutputNameCheck.h"

#include <climits>

#include "engine/JobFiles.h"
#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"

namespace tavrolin {

std::optional<OutputNameProblem> outputNameProblem(const std::filesystem::path& source,
                                                   const std::filesystem::path& output,
                                                   const OutputLookup& lookup) {
    using enum OutputNameProblem::Case;
    const std::string name = output.filename().string();
    // The output's name is made from the source's: the source's name is what can change.
    if (name.size() > NAME_MAX) {
        return OutputNameProblem{nameTooLong,
                                 "An output of " + quotedName(source) +
                                     " would get a name longer than the 255 bytes a file name "
                                     "can have. Rename the file to a shorter name, then add it "
                                     "again."};
    }
    // ffmpeg writes beside the output under a longer working name first.
    if (hiddenWorkingOutput(output).string().size() >= PATH_MAX) {
        return OutputNameProblem{pathTooLong,
                                 "Choose an output folder with a shorter path: \u201C" + name +
                                     "\u201D would pass the system\u2019s limit of 4,096 bytes "
                                     "in this one."};
    }
    if (const auto claim = lookup.claim ? lookup.claim(output) : OutputClaim::none;
        claim != OutputClaim::none) {
        return OutputNameProblem{claimed, MediaProcessingError::outputClaimed(name, claim).what()};
    }
    if (lookup.exists && lookup.exists(output)) {
        return OutputNameProblem{exists, "An output named \u201C" + name +
                                             "\u201D already exists. Choose another output "
                                             "folder or container, or move the existing file "
                                             "away."};
    }
    return std::nullopt;
}

}  // namespace tavrolin
