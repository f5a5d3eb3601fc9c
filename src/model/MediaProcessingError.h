#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/OutputClaim.h"

namespace tavrolin {

// The error of media-writing work; what() is the user-facing message.
class MediaProcessingError : public std::runtime_error {
  public:
    enum class Case {
        toolNotFound,
        outputExists,
        outputClaimed,
        invalidRequest,
        processFailed,
        sourceMissing,
        sourceNotFile,
        notEnoughSpace,
        outputFolderGone,
        partMismatch,
        outputUnreadable,
    };

    static MediaProcessingError toolNotFound(const std::string& toolName);
    static MediaProcessingError outputExists(const std::string& fileName);
    // A queued or running job will write `fileName` (`claim` says which): a page refuses a
    // second job to it.
    static MediaProcessingError outputClaimed(const std::string& fileName, OutputClaim claim);
    static MediaProcessingError invalidRequest(const std::string& message);
    static MediaProcessingError processFailed(const std::string& message);
    // An input is no longer where the job was asked to read it.
    static MediaProcessingError sourceMissing(const std::filesystem::path& file);
    // Something other than a regular file now stands at an input; `kind` says what
    // (specialFileKind).
    static MediaProcessingError sourceNotFile(const std::filesystem::path& file,
                                              std::string_view kind);
    // Writing `fileName` into `folder` ran out of room (a full disk, a quota or a file size
    // limit).
    static MediaProcessingError notEnoughSpace(const std::filesystem::path& folder,
                                               const std::string& fileName);

    // The folder `fileName` was being written into was removed or moved away meanwhile.
    static MediaProcessingError outputFolderGone(const std::filesystem::path& folder,
                                                 const std::string& fileName);

    // A split's written part `fileName` does not hold the span it was cut for; `fault` ends
    // the sentence ("starts 0.042 s after the cut").
    static MediaProcessingError partMismatch(const std::string& fileName, const std::string& fault);

    // `fileName`, written into `folder`, could not be read back for its check (`reason`: the
    // system's or the demuxer's words): the folder failed under it, or cut it short.
    static MediaProcessingError outputUnreadable(const std::filesystem::path& folder,
                                                 const std::string& fileName,
                                                 const std::string& reason);

    Case errorCase() const { return case_; }
    // The tool name, file name or message the error was made from.
    const std::string& payload() const { return payload_; }

  private:
    MediaProcessingError(Case errorCase, std::string payload, const std::string& message);

    Case case_;
    std::string payload_;
};

}  // namespace tavrolin
