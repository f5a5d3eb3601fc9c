#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tavrolin::probejson {

// Strict reading of ffprobe's JSON: a listed key must have exactly its JSON type, null counts as
// absent, and any mismatch invalidates the whole document (MediaProbeError::invalidResponse).

// The one object that makes up the whole text.
nlohmann::json parseObject(std::string_view text);

// The value under `key`, or null when the key is absent or null.
const nlohmann::json* optionalValue(const nlohmann::json& object, const char* key);
const nlohmann::json& requiredValue(const nlohmann::json& object, const char* key);

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key);
std::string requiredString(const nlohmann::json& object, const char* key);
std::optional<std::int64_t> optionalInteger(const nlohmann::json& object, const char* key);
std::int64_t requiredInteger(const nlohmann::json& object, const char* key);
// The array or object under `key`, or null when absent.
const nlohmann::json* optionalArray(const nlohmann::json& object, const char* key);
const nlohmann::json& requiredArray(const nlohmann::json& object, const char* key);
const nlohmann::json* optionalObject(const nlohmann::json& object, const char* key);
// Checks that an element of an array is an object.
const nlohmann::json& asObject(const nlohmann::json& value);

// Lenient: a number of seconds that ffprobe writes as text ("12.040000") under `key`; none when
// absent, not text or not finite. Never throws, for reads that skip what they cannot use.
std::optional<double> secondsIn(const nlohmann::json& object, const char* key);

}  // namespace tavrolin::probejson
