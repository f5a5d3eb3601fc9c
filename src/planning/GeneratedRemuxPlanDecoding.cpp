#include <limits>
#include <string_view>

#include "model/LanguageModel.h"
#include "model/TextMetrics.h"
#include "planning/GeneratedRemuxPlan.h"
#include "planning/RemuxPlanVocabulary.h"

namespace tavrolin {

namespace {

namespace vocabulary = RemuxPlanVocabulary;
using Json = nlohmann::ordered_json;

[[noreturn]] void fail(const std::string& message) {
    throw LanguageModelError(LanguageModelError::Case::decodingFailure, message);
}

// Reads the listed properties of one object of the named type; extra properties are ignored.
class ObjectReader {
  public:
    ObjectReader(const Json& content, std::string_view typeName, std::string_view property,
                 std::string_view parentType)
        : content_(content), typeName_(typeName) {
        if (!content.is_object()) {
            fail(vocabulary::wrongKindMessage(property, parentType, "an object"));
        }
    }

    std::string_view typeName() const { return typeName_; }

    const Json& required(std::string_view property) const {
        const auto found = content_.find(property);
        if (found == content_.end()) {
            fail(vocabulary::missingPropertyMessage(property, typeName_));
        }
        return *found;
    }

    std::string string(std::string_view property) const {
        const Json& value = required(property);
        if (!value.is_string()) {
            fail(vocabulary::wrongKindMessage(property, typeName_, "a string"));
        }
        return value.get<std::string>();
    }

    // A string a draft line shows and the tracks are matched against: short, with something
    // printable, and nothing that the draft would show otherwise than it is matched.
    std::string text(std::string_view property) const {
        std::string value = string(property);
        if (value.size() > vocabulary::maxValueBytes) {
            fail(vocabulary::valueTooLongMessage(property, typeName_));
        }
        if (trimWhitespace(vocabulary::readableExcerpt(value, vocabulary::maxValueBytes)).empty()) {
            fail(vocabulary::unprintableValueMessage(property, typeName_));
        }
        if (vocabulary::holdsUnprintable(value)) {
            fail(vocabulary::controlCharactersMessage(property, typeName_));
        }
        return value;
    }

    std::int64_t integer(std::string_view property) const {
        return integerValue(required(property), property);
    }

    // An absent "count" is no count; null is not an integer, so it is refused.
    std::optional<std::int64_t> optionalInteger(std::string_view property) const {
        const auto found = content_.find(property);
        if (found == content_.end()) {
            return std::nullopt;
        }
        return integerValue(*found, property);
    }

    const Json& list(std::string_view property, std::size_t limit) const {
        const Json& value = required(property);
        if (!value.is_array()) {
            fail(vocabulary::wrongKindMessage(property, typeName_, "a list"));
        }
        if (value.size() > limit) {
            fail(vocabulary::tooManyEntriesMessage(property, value.size(), limit));
        }
        return value;
    }

    // A plain choice: the content is one of `choices`, compared exactly.
    template <typename Enum, std::size_t N>
    Enum choice(std::string_view property, const std::array<std::string_view, N>& choices,
                std::string_view choiceType) const {
        const std::string text = string(property);
        for (std::size_t position = 0; position < N; ++position) {
            if (choices[position] == text) {
                return static_cast<Enum>(position);
            }
        }
        fail(vocabulary::unexpectedCaseMessage("value", text, choiceType));
    }

  private:
    std::int64_t integerValue(const Json& value, std::string_view property) const {
        const bool fits =
            value.is_number_integer() &&
            (!value.is_number_unsigned() ||
             value.get<std::uint64_t>() <=
                 static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
        if (!fits) {
            fail(vocabulary::wrongKindMessage(property, typeName_, "an integer"));
        }
        return value.get<std::int64_t>();
    }

    const Json& content_;
    std::string_view typeName_;
};

// The case named by a discriminated object's "type".
template <typename Case, std::size_t N>
Case discriminator(const ObjectReader& reader, const std::array<std::string_view, N>& types) {
    const std::string text = reader.string("type");
    for (std::size_t position = 0; position < N; ++position) {
        if (types[position] == text) {
            return static_cast<Case>(position);
        }
    }
    fail(vocabulary::unexpectedCaseMessage("type", text, reader.typeName()));
}

GeneratedPredicateCondition decodeCondition(const Json& content, std::string_view parentType) {
    using Case = GeneratedPredicateCondition::Case;
    const ObjectReader reader(content, vocabulary::conditionTypeName, "conditions", parentType);
    GeneratedPredicateCondition condition;
    condition.type = discriminator<Case>(reader, vocabulary::conditionTypes);
    switch (condition.type) {
        case Case::language:
        case Case::codec:
        case Case::titleContains:
            condition.value = reader.text("value");
            break;
        case Case::channelCount:
            condition.value = reader.integer("value");
            break;
        case Case::role:
            condition.value = reader.choice<GeneratedStreamRole>("value", vocabulary::roleChoices,
                                                                 vocabulary::roleTypeName);
            break;
        case Case::mono:
        case Case::stereo:
        case Case::surround51:
        case Case::surround71:
            break;
    }
    return condition;
}

GeneratedStreamPredicate decodePredicate(const Json& content, std::string_view parentType) {
    const ObjectReader reader(content, vocabulary::predicateTypeName, "predicate", parentType);
    GeneratedStreamPredicate predicate;
    for (const Json& element : reader.list("conditions", vocabulary::maxConditionsPerPredicate)) {
        predicate.conditions.push_back(decodeCondition(element, vocabulary::predicateTypeName));
    }
    predicate.matchMode = reader.choice<GeneratedMatchMode>(
        "matchMode", vocabulary::matchModeChoices, vocabulary::matchModeTypeName);
    return predicate;
}

GeneratedKindOperation decodeOperation(const Json& content, std::string_view property) {
    using Case = GeneratedKindOperation::Case;
    const ObjectReader reader(content, vocabulary::kindOperationTypeName, property,
                              vocabulary::planTypeName);
    GeneratedKindOperation operation;
    operation.type = discriminator<Case>(reader, vocabulary::kindOperationTypes);
    if (operation.type == Case::retainAll || operation.type == Case::removeAll) {
        return operation;
    }
    GeneratedKindOperation::Matching matching;
    matching.predicate = decodePredicate(reader.required("predicate"), reader.typeName());
    if (operation.type == Case::deduplicate) {
        matching.grouping = reader.choice<GeneratedGrouping>(
            "grouping", vocabulary::groupingChoices, vocabulary::groupingTypeName);
    }
    matching.cardinality = reader.choice<GeneratedCardinality>(
        "cardinality", vocabulary::cardinalityChoices, vocabulary::cardinalityTypeName);
    matching.count = reader.optionalInteger("count");
    matching.ranking = reader.choice<GeneratedRanking>("ranking", vocabulary::rankingChoices,
                                                       vocabulary::rankingTypeName);
    matching.fallback = reader.choice<GeneratedFallback>("fallback", vocabulary::fallbackChoices,
                                                         vocabulary::fallbackTypeName);
    operation.matching = matching;
    return operation;
}

std::vector<GeneratedKindOperation> decodeOperations(const ObjectReader& reader,
                                                     std::string_view property) {
    std::vector<GeneratedKindOperation> operations;
    for (const Json& element : reader.list(property, vocabulary::maxOperationsPerKind)) {
        operations.push_back(decodeOperation(element, property));
    }
    return operations;
}

}  // namespace

GeneratedRemuxPlan decodeGeneratedRemuxPlan(const nlohmann::ordered_json& content) {
    const ObjectReader reader(content, vocabulary::planTypeName, "", vocabulary::planTypeName);
    GeneratedRemuxPlan plan;
    plan.container = reader.choice<GeneratedContainerPreference>(
        "container", vocabulary::containerChoices, vocabulary::containerTypeName);
    plan.playback = reader.choice<GeneratedPlaybackPreference>(
        "playback", vocabulary::playbackChoices, vocabulary::playbackTypeName);
    plan.videoOperations = decodeOperations(reader, "videoOperations");
    plan.audioOperations = decodeOperations(reader, "audioOperations");
    plan.subtitleOperations = decodeOperations(reader, "subtitleOperations");
    return plan;
}

}  // namespace tavrolin
