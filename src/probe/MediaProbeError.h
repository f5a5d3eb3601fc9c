#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tavrolin {

// The error of an inspection; what() is the user-facing message.
class MediaProbeError : public std::runtime_error {
  public:
    enum class Case {
        processFailed,
        invalidResponse,
        noSupportedStreams,
        notMedia,
        fileMissing,
        notRegularFile,
    };

    // `message` is ffprobe's standard-error tail or the inspection's fallback text.
    static MediaProbeError processFailed(const std::string& message);
    static MediaProbeError invalidResponse();
    static MediaProbeError noSupportedStreams();
    // ffprobe read the file and found no format it knows; `reason` is its own words
    // ("Invalid data found when processing input").
    static MediaProbeError notMedia(const std::string& fileName, const std::string& reason);
    // The file is no longer there (removed or renamed since it was chosen).
    static MediaProbeError fileMissing(const std::filesystem::path& file);

    // Something other than a regular file stands at `file`; `kind` says what (specialFileKind).
    static MediaProbeError notRegularFile(const std::filesystem::path& file, std::string_view kind);

    Case errorCase() const { return case_; }
    // Whether inspecting the same file again may succeed: not when the file itself is the
    // cause, as for one that is not media or holds no stream Tavrolin can use (a missing file
    // may come back).
    bool retryMayHelp() const;

  private:
    MediaProbeError(Case errorCase, const std::string& message);

    Case case_;
};

// Throws notRegularFile when a folder, named pipe, device or socket stands at `file`: a tool
// that opened a pipe or a device could wait on it for good. Never opens `file`; any thread.
void requireRegularFile(const std::filesystem::path& file);

}  // namespace tavrolin
