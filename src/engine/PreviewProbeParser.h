#pragma once

#include <string>
#include <string_view>

namespace tavrolin {

// What preview preparation needs to know about a source.
struct PreviewProbeResult {
    double duration = 0;    // seconds, above 0
    std::string codecName;  // of the first video stream

    friend bool operator==(const PreviewProbeResult&, const PreviewProbeResult&) = default;
};

// Reads the preview probe's JSON. Throws PreviewPreparationError::inspectionFailed when it is
// not a usable answer: not JSON, a required key missing or of the wrong type, no video stream,
// or a duration that is not a finite number above 0.
class PreviewProbeParser {
  public:
    PreviewProbeResult parse(std::string_view standardOutput) const;
};

}  // namespace tavrolin
