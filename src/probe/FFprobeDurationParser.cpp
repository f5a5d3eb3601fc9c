#include "probe/FFprobeDurationParser.h"

#include <cmath>

#include "probe/ProbeJson.h"
#include "probe/ProbeText.h"

namespace tavrolin {

using namespace probejson;

std::optional<double> FFprobeDurationParser::parse(std::string_view standardOutput) const {
    const nlohmann::json document = parseObject(standardOutput);
    std::optional<double> longest;
    auto consider = [&](const nlohmann::json& holder) {
        auto text = optionalString(asObject(holder), "duration");
        if (!text) {
            return;
        }
        auto value = parsePosixNumber(*text);
        if (value && std::isfinite(*value) && *value > 0 && (!longest || *value > *longest)) {
            longest = value;
        }
    };
    if (const auto* format = optionalObject(document, "format")) {
        consider(*format);
    }
    if (const auto* streams = optionalArray(document, "streams")) {
        for (const auto& stream : *streams) {
            consider(stream);
        }
    }
    return longest;
}

}  // namespace tavrolin
