#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "planning/GeneratedRemuxPlan.h"
#include "planning/RemuxPlanVocabulary.h"

namespace tavrolin {

namespace {

namespace vocabulary = RemuxPlanVocabulary;
using Json = nlohmann::ordered_json;

std::string text(std::string_view view) {
    return std::string(view);
}

// A choice of strings carries no description.
template <std::size_t N>
Json choice(std::string_view typeName, const std::array<std::string_view, N>& strings) {
    Json values = Json::array();
    for (auto value : strings) {
        values.push_back(text(value));
    }
    return Json{{"title", text(typeName)}, {"type", "string"}, {"enum", values}};
}

Json withDescription(Json schema, std::string_view description) {
    schema["description"] = text(description);
    return schema;
}

Json listOf(Json items, std::string_view description) {
    return Json{{"type", "array"}, {"description", text(description)}, {"items", items}};
}

// Properties are required unless listed in `optional`; every object is closed so that a
// constrained decoder never adds a property.
Json object(std::string_view title, std::string_view description, Json properties,
            std::vector<std::string> optional = {}) {
    Json required = Json::array();
    for (const auto& [name, schema] : properties.items()) {
        if (std::find(optional.begin(), optional.end(), name) == optional.end()) {
            required.push_back(name);
        }
    }
    Json result{{"title", text(title)}, {"type", "object"}};
    if (!description.empty()) {
        result["description"] = text(description);
    }
    result["properties"] = properties;
    result["required"] = required;
    result["additionalProperties"] = false;
    return result;
}

Json discriminator(std::string_view constant) {
    return Json{{"type", "string"}, {"const", text(constant)}};
}

std::string alternativeName(std::string_view typeName, std::string_view caseName) {
    std::string name = text(typeName) + ".Discriminated" + text(caseName);
    const auto position = name.size() - caseName.size();
    name[position] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[position])));
    return name;
}

Json conditionSchema() {
    Json alternatives = Json::array();
    for (auto type : vocabulary::conditionTypes) {
        Json properties{{"type", discriminator(type)}};
        if (type == "language" || type == "codec" || type == "titleContains") {
            properties["value"] = Json{{"type", "string"}};
        } else if (type == "channelCount") {
            properties["value"] = Json{{"type", "integer"}};
        } else if (type == "role") {
            properties["value"] = choice(vocabulary::roleTypeName, vocabulary::roleChoices);
        }
        alternatives.push_back(object(alternativeName(vocabulary::conditionTypeName, type),
                                      vocabulary::conditionDescription, properties));
    }
    return Json{{"title", text(vocabulary::conditionTypeName)},
                {"description", text(vocabulary::conditionDescription)},
                {"anyOf", alternatives}};
}

Json predicateSchema() {
    return object(
        vocabulary::predicateTypeName, vocabulary::predicateDescription,
        Json{{"conditions", listOf(conditionSchema(), vocabulary::conditionsDescription)},
             {"matchMode", choice(vocabulary::matchModeTypeName, vocabulary::matchModeChoices)}});
}

Json kindOperationSchema() {
    Json alternatives = Json::array();
    for (auto type : vocabulary::kindOperationTypes) {
        Json properties{{"type", discriminator(type)}};
        if (type != "retainAll" && type != "removeAll") {
            properties["predicate"] = predicateSchema();
            if (type == "deduplicate") {
                properties["grouping"] =
                    choice(vocabulary::groupingTypeName, vocabulary::groupingChoices);
            }
            properties["cardinality"] =
                choice(vocabulary::cardinalityTypeName, vocabulary::cardinalityChoices);
            properties["count"] = Json{{"type", "integer"}};
            properties["ranking"] = choice(vocabulary::rankingTypeName, vocabulary::rankingChoices);
            properties["fallback"] =
                choice(vocabulary::fallbackTypeName, vocabulary::fallbackChoices);
        }
        alternatives.push_back(object(alternativeName(vocabulary::kindOperationTypeName, type),
                                      vocabulary::kindOperationDescription, properties, {"count"}));
    }
    return Json{{"title", text(vocabulary::kindOperationTypeName)},
                {"description", text(vocabulary::kindOperationDescription)},
                {"anyOf", alternatives}};
}

}  // namespace

nlohmann::ordered_json remuxPlanOutputSchema() {
    const Json operation = kindOperationSchema();
    return object(
        vocabulary::planTypeName, vocabulary::planDescription,
        Json{{"container",
              withDescription(choice(vocabulary::containerTypeName, vocabulary::containerChoices),
                              vocabulary::containerDescription)},
             {"playback",
              withDescription(choice(vocabulary::playbackTypeName, vocabulary::playbackChoices),
                              vocabulary::playbackDescription)},
             {"videoOperations", listOf(operation, vocabulary::videoOperationsDescription)},
             {"audioOperations", listOf(operation, vocabulary::audioOperationsDescription)},
             {"subtitleOperations", listOf(operation, vocabulary::subtitleOperationsDescription)}});
}

}  // namespace tavrolin
