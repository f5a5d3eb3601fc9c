#include "probe/ProbeJson.h"

#include "probe/ProbeText.h"

#include <limits>

#include "probe/MediaProbeError.h"

namespace tavrolin::probejson {

using nlohmann::json;

namespace {

// The value under `key`, null when absent; any other JSON type than `isType` accepts is invalid.
const json* optionalOfType(const json& object, const char* key,
                           bool (json::*isType)() const noexcept) {
    const json* value = optionalValue(object, key);
    if (value != nullptr && !(value->*isType)()) {
        throw MediaProbeError::invalidResponse();
    }
    return value;
}

}  // namespace

nlohmann::json parseObject(std::string_view text) {
    json document = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (!document.is_object()) {  // also a parse error, which leaves it discarded
        throw MediaProbeError::invalidResponse();
    }
    return document;
}

const json* optionalValue(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

const json& requiredValue(const json& object, const char* key) {
    const json* value = optionalValue(object, key);
    if (value == nullptr) {
        throw MediaProbeError::invalidResponse();
    }
    return *value;
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    const json* value = optionalValue(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        throw MediaProbeError::invalidResponse();
    }
    return value->get<std::string>();
}

std::string requiredString(const json& object, const char* key) {
    auto value = optionalString(object, key);
    if (!value) {
        throw MediaProbeError::invalidResponse();
    }
    return std::move(*value);
}

std::optional<std::int64_t> optionalInteger(const json& object, const char* key) {
    const json* value = optionalValue(object, key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_number_unsigned()) {
        auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw MediaProbeError::invalidResponse();
        }
        return static_cast<std::int64_t>(number);
    }
    if (value->is_number_integer()) {
        return value->get<std::int64_t>();
    }
    throw MediaProbeError::invalidResponse();
}

std::int64_t requiredInteger(const json& object, const char* key) {
    auto value = optionalInteger(object, key);
    if (!value) {
        throw MediaProbeError::invalidResponse();
    }
    return *value;
}

const json* optionalArray(const json& object, const char* key) {
    return optionalOfType(object, key, &json::is_array);
}

const json& requiredArray(const json& object, const char* key) {
    const json* value = optionalArray(object, key);
    if (value == nullptr) {
        throw MediaProbeError::invalidResponse();
    }
    return *value;
}

const json* optionalObject(const json& object, const char* key) {
    return optionalOfType(object, key, &json::is_object);
}

const json& asObject(const json& value) {
    if (!value.is_object()) {
        throw MediaProbeError::invalidResponse();
    }
    return value;
}

std::optional<double> secondsIn(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string()
               ? parseFiniteNumber(found->get_ref<const std::string&>())
               : std::nullopt;
}

}  // namespace tavrolin::probejson
