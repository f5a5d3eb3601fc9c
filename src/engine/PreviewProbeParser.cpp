#include "engine/PreviewProbeParser.h"

#include <nlohmann/json.hpp>

#include <cmath>

#include "engine/PreviewPreparationError.h"
#include "probe/ProbeText.h"

namespace tavrolin {

PreviewProbeResult PreviewProbeParser::parse(std::string_view standardOutput) const {
    const auto document = nlohmann::json::parse(standardOutput, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        throw PreviewPreparationError::inspectionFailed();
    }
    const auto streams = document.find("streams");
    const auto format = document.find("format");
    if (streams == document.end() || !streams->is_array() || format == document.end() ||
        !format->is_object()) {
        throw PreviewPreparationError::inspectionFailed();
    }
    for (const auto& stream : *streams) {
        if (!stream.is_object() || !stream.contains("codec_name") ||
            !stream["codec_name"].is_string()) {
            throw PreviewPreparationError::inspectionFailed();
        }
    }
    const auto duration = format->find("duration");
    if (duration == format->end() || !duration->is_string() || streams->empty()) {
        throw PreviewPreparationError::inspectionFailed();
    }
    const auto seconds = parsePosixNumber(duration->get_ref<const std::string&>());
    if (!seconds || !std::isfinite(*seconds) || *seconds <= 0) {
        throw PreviewPreparationError::inspectionFailed();
    }
    return {*seconds, (*streams)[0]["codec_name"].get<std::string>()};
}

}  // namespace tavrolin
