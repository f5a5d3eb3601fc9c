#include <gtest/gtest.h>

#include "model/LanguageModel.h"
#include "planning/GeneratedRemuxPlan.h"
#include "planning/Golden.h"
#include "planning/RemuxPlanVocabulary.h"

using namespace tavrolin;
using Json = nlohmann::ordered_json;

namespace {

// A valid plan with one operation of each shape; rows below replace one part of it.
Json validPlan() {
    return Json::parse(R"({
      "container": "mkv", "playback": "iPhone17Pro",
      "videoOperations": [{"type": "retainAll"}],
      "audioOperations": [{"type": "deduplicate",
          "predicate": {"conditions": [{"type": "language", "value": " English"},
                                       {"type": "surround51"},
                                       {"type": "channelCount", "value": 2},
                                       {"type": "role", "value": "commentary"}],
                        "matchMode": "any"},
          "grouping": "languageAndRole", "cardinality": "best", "ranking": "defaultAtmosChannels",
          "fallback": "keepBestAndWarn", "extra": true}],
      "subtitleOperations": [{"type": "retainOnly",
          "predicate": {"conditions": [], "matchMode": "all"},
          "cardinality": "exactly", "count": -3, "ranking": "sourceOrder", "fallback": "fail"}]
    })");
}

std::string messageOf(const Json& content) {
    try {
        decodeGeneratedRemuxPlan(content);
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.errorCase(), LanguageModelError::Case::decodingFailure);
        return error.what();
    }
    return "<decoded>";
}

}  // namespace

TEST(RemuxPlanContractTest, FixedTextsAndSchemaMatchTheGoldenFiles) {
    const std::string& instructions = RemuxPlanVocabulary::instructions();
    EXPECT_EQ(instructions.size(), 2229u);
    EXPECT_EQ(std::count(instructions.begin(), instructions.end(), '\n'), 23);
    tavtest::expectGolden("instructions.txt", instructions);
    tavtest::expectGolden("remux-plan-schema.json", remuxPlanOutputSchema().dump(2) + "\n");

    namespace v = RemuxPlanVocabulary;
    std::string messages;
    for (std::string_view line :
         {v::promptPrefix, v::unavailableMessage, v::emptyInstructionMessage,
          v::deviceNotEligibleMessage, v::notEnabledMessage, v::modelNotReadyMessage,
          v::otherUnavailableMessage}) {
        messages += "[" + std::string(line) + "]\n";
    }
    for (const auto& line :
         {v::unexpectedCaseMessage("type", "RetainAll", v::kindOperationTypeName),
          v::unexpectedCaseMessage("value", " mp4", v::containerTypeName),
          v::missingPropertyMessage("ranking", v::kindOperationTypeName),
          v::wrongKindMessage("value", v::conditionTypeName, "an integer"),
          v::wrongKindMessage("", v::planTypeName, "an object")}) {
        messages += "[" + line + "]\n";
    }
    tavtest::expectGolden("messages.txt", messages);
}

TEST(RemuxPlanContractTest, DecodingReadsOnlyTheListedPropertiesAndNamesTheFailingType) {
    const auto plan = decodeGeneratedRemuxPlan(validPlan());
    EXPECT_EQ(plan.container, GeneratedContainerPreference::mkv);
    EXPECT_EQ(plan.playback, GeneratedPlaybackPreference::iPhone17Pro);
    ASSERT_EQ(plan.videoOperations.size(), 1u);
    EXPECT_FALSE(plan.videoOperations[0].matching);
    const auto& dedupe = *plan.audioOperations.at(0).matching;
    EXPECT_EQ(dedupe.predicate.conditions,
              (std::vector<GeneratedPredicateCondition>{
                  {GeneratedPredicateCondition::Case::language, std::string(" English")},
                  {GeneratedPredicateCondition::Case::surround51, {}},
                  {GeneratedPredicateCondition::Case::channelCount, std::int64_t{2}},
                  {GeneratedPredicateCondition::Case::role, GeneratedStreamRole::commentary}}));
    EXPECT_EQ(dedupe.grouping, GeneratedGrouping::languageAndRole);
    EXPECT_EQ(dedupe.count, std::nullopt);
    EXPECT_EQ(plan.subtitleOperations.at(0).matching->count, -3);

    const std::string unexpectedOperation =
        "Unexpected type \"RetainAll\" for GeneratedKindOperation";
    struct Row {
        const char* name;
        const char* pointer;  // JSON pointer of the part to replace; "" for the whole plan
        Json replacement;
        std::string message;   // "<decoded>" when the plan still decodes
        bool removes = false;  // the part is taken out instead
    };
    const std::vector<Row> rows{
        {"empty lists decode", "/audioOperations", Json::array(), "<decoded>"},
        {"retainAll ignores a malformed predicate",
         "/videoOperations/0",
         {{"type", "retainAll"}, {"predicate", 7}},
         "<decoded>"},
        {"mono ignores its value",
         "/audioOperations/0/predicate/conditions/1",
         {{"type", "mono"}, {"value", "x"}},
         "<decoded>"},
        {"null count is no count", "/subtitleOperations/0/count", nullptr, "<decoded>"},
        {"capitalised operation type", "/videoOperations/0/type", "RetainAll", unexpectedOperation},
        {"container in capitals", "/container", "MP4",
         "Unexpected value \"MP4\" for GeneratedContainerPreference"},
        {"container with a leading space", "/container", " mp4",
         "Unexpected value \" mp4\" for GeneratedContainerPreference"},
        {"role with spaces fails the plan", "/audioOperations/0/predicate/conditions/3/value",
         "signs and songs", "Unexpected value \"signs and songs\" for GeneratedStreamRole"},
        {"surround written with a point", "/audioOperations/0/predicate/conditions/1/type",
         "surround5.1", "Unexpected type \"surround5.1\" for GeneratedPredicateCondition"},
        {"unknown grouping", "/audioOperations/0/grouping", "Language",
         "Unexpected value \"Language\" for GeneratedGrouping"},
        {"unknown cardinality", "/subtitleOperations/0/cardinality", "most",
         "Unexpected value \"most\" for GeneratedCardinality"},
        {"unknown ranking", "/subtitleOperations/0/ranking", "quality",
         "Unexpected value \"quality\" for GeneratedRanking"},
        {"unknown fallback", "/subtitleOperations/0/fallback", "skip",
         "Unexpected value \"skip\" for GeneratedFallback"},
        {"unknown match mode", "/audioOperations/0/predicate/matchMode", "either",
         "Unexpected value \"either\" for GeneratedMatchMode"},
        {"unknown playback", "/playback", "iPhone 17 Pro",
         "Unexpected value \"iPhone 17 Pro\" for GeneratedPlaybackPreference"},
        {"missing list", "",
         Json{{"container", "mp4"},
              {"playback", "unchanged"},
              {"videoOperations", Json::array()},
              {"audioOperations", Json::array()}},
         "The on-device language model's answer lacks the property \"subtitleOperations\" of "
         "GeneratedRemuxPlan."},
        {"missing ranking is not an unexpected case", "/subtitleOperations/0/ranking", nullptr,
         "The on-device language model's answer lacks the property \"ranking\" of "
         "GeneratedKindOperation.",
         true},
        {"missing count is no count", "/subtitleOperations/0/count", nullptr, "<decoded>", true},
        {"channel count as text", "/audioOperations/0/predicate/conditions/2/value", "2",
         "The on-device language model's answer has \"value\" of GeneratedPredicateCondition "
         "that is not an integer."},
        {"fractional count", "/subtitleOperations/0/count", 1.5,
         "The on-device language model's answer has \"count\" of GeneratedKindOperation that is "
         "not an integer."},
        {"enumeration that is not a string", "/playback", 1,
         "The on-device language model's answer has \"playback\" of GeneratedRemuxPlan that is "
         "not a string."},
        {"operation list that is an object", "/videoOperations", Json::object(),
         "The on-device language model's answer has \"videoOperations\" of GeneratedRemuxPlan "
         "that is not a list."},
        {"answer that is a list", "", Json::array(),
         "The on-device language model's answer has GeneratedRemuxPlan that is not an object."},
        {"the first failure wins", "",
         Json{{"container", "none"}, {"playback", "bad"}, {"videoOperations", 1}},
         "Unexpected value \"none\" for GeneratedContainerPreference"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Json content = validPlan();
        const Json::json_pointer pointer(row.pointer);
        if (row.removes) {
            content[pointer.parent_pointer()].erase(pointer.back());
        } else {
            content[pointer] = row.replacement;
        }
        EXPECT_EQ(messageOf(content), row.message);
    }
}
