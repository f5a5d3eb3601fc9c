#pragma once

#include <stdexcept>
#include <string>

namespace tavrolin {

// The error of an inspection; what() is the user-facing message.
class MediaProbeError : public std::runtime_error {
  public:
    enum class Case { processFailed, invalidResponse, noSupportedStreams, notMedia };

    // `message` is ffprobe's standard-error tail or the inspection's fallback text.
    static MediaProbeError processFailed(const std::string& message);
    static MediaProbeError invalidResponse();
    static MediaProbeError noSupportedStreams();
    // ffprobe read the file and found no format it knows; `reason` is its own words
    // ("Invalid data found when processing input").
    static MediaProbeError notMedia(const std::string& fileName, const std::string& reason);

    Case errorCase() const { return case_; }
    // Whether inspecting the same file again may succeed: not when the file itself is the
    // cause, as for one that is not media or holds no stream Tavrolin can use.
    bool retryMayHelp() const;

  private:
    MediaProbeError(Case errorCase, const std::string& message);

    Case case_;
};

}  // namespace tavrolin
