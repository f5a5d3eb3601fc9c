#pragma once

#include <stdexcept>
#include <string>

namespace tavrolin {

// The error of an inspection; what() is the user-facing message.
class MediaProbeError : public std::runtime_error {
  public:
    enum class Case { processFailed, invalidResponse, noSupportedStreams };

    // `message` is ffprobe's standard-error tail or the inspection's fallback text.
    static MediaProbeError processFailed(const std::string& message);
    static MediaProbeError invalidResponse();
    static MediaProbeError noSupportedStreams();

    Case errorCase() const { return case_; }

  private:
    MediaProbeError(Case errorCase, const std::string& message);

    Case case_;
};

}  // namespace tavrolin
