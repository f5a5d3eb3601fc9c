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

    // The model's answer is described in words; its own text is quoted short and printable.
    const auto unfit = [](const std::string& problem) {
        return "The model's answer did not fit the plan format: " + problem +
               " Try again, or word the request differently.";
    };
    const std::string controlCharacters =
        unfit("\u201Cvalue\u201D of a track condition holds control or formatting characters.");
    const Json manyOperations(std::vector<Json>(40000, Json{{"type", "retainAll"}}));
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
        {"null count is refused", "/subtitleOperations/0/count", nullptr,
         unfit("\u201Ccount\u201D of a track operation is not an integer.")},
        {"capitalised operation type", "/videoOperations/0/type", "RetainAll",
         unfit("\u201CRetainAll\u201D is not a known track operation.")},
        {"container in capitals", "/container", "MP4",
         unfit("\u201CMP4\u201D is not a known container.")},
        {"container with a leading space", "/container", " mp4",
         unfit("\u201C mp4\u201D is not a known container.")},
        {"role with spaces fails the plan", "/audioOperations/0/predicate/conditions/3/value",
         "signs and songs", unfit("\u201Csigns and songs\u201D is not a known track role.")},
        {"surround written with a point", "/audioOperations/0/predicate/conditions/1/type",
         "surround5.1", unfit("\u201Csurround5.1\u201D is not a known track condition.")},
        {"unknown grouping", "/audioOperations/0/grouping", "Language",
         unfit("\u201CLanguage\u201D is not a known grouping.")},
        {"unknown cardinality", "/subtitleOperations/0/cardinality", "most",
         unfit("\u201Cmost\u201D is not a known track count.")},
        {"unknown ranking", "/subtitleOperations/0/ranking", "quality",
         unfit("\u201Cquality\u201D is not a known ranking.")},
        {"unknown fallback", "/subtitleOperations/0/fallback", "skip",
         unfit("\u201Cskip\u201D is not a known fallback.")},
        {"unknown match mode", "/audioOperations/0/predicate/matchMode", "either",
         unfit("\u201Ceither\u201D is not a known match mode.")},
        {"enumeration that is not a string", "/playback", 1,
         unfit("\u201Cplayback\u201D of a plan is not a string.")},
        {"unknown playback", "/playback", "iPhone 17 Pro",
         unfit("\u201CiPhone 17 Pro\u201D is not a known playback target.")},
        {"a long value with control characters is cut", "/playback",
         "\x1B[2Jline one\n\tline two" + std::string(100000, 'x'),
         unfit("\u201C [2Jline one line two" + std::string(19, 'x') +
               "\u2026\u201D is not a known playback target.")},
        {"bytes that are no text still end in an excerpt", "/playback", std::string(329, '\x80'),
         unfit("\u201C" + std::string(40, '\x80') +
               "\u2026\u201D is not a known playback target.")},
        {"missing list", "",
         Json{{"container", "mp4"},
              {"playback", "unchanged"},
              {"videoOperations", Json::array()},
              {"audioOperations", Json::array()}},
         unfit("a plan lacks \u201CsubtitleOperations\u201D.")},
        {"missing ranking is not an unexpected case", "/subtitleOperations/0/ranking", nullptr,
         unfit("a track operation lacks \u201Cranking\u201D."), true},
        {"missing count is no count", "/subtitleOperations/0/count", nullptr, "<decoded>", true},
        {"a language of only unprintable characters",
         "/audioOperations/0/predicate/conditions/0/value", " \u202E\n\u2069\u3000\u0085",
         unfit("\u201Cvalue\u201D of a track condition holds no printable text.")},
        {"a NUL inside a language", "/audioOperations/0/predicate/conditions/0/value",
         std::string("English\0", 8), controlCharacters},
        {"a direction override inside a codec",
         "/audioOperations/0/predicate/conditions/0",
         {{"type", "codec"}, {"value", "\u202Eaac"}},
         controlCharacters},
        {"a line separator inside a title term",
         "/audioOperations/0/predicate/conditions/0",
         {{"type", "titleContains"}, {"value", "Signs\u2028Songs"}},
         controlCharacters},
        {"a title term longer than any request",
         "/audioOperations/0/predicate/conditions/0",
         {{"type", "titleContains"}, {"value", std::string(1 << 20, 'x')}},
         unfit("\u201Cvalue\u201D of a track condition is longer than any request needs.")},
        {"channel count as text", "/audioOperations/0/predicate/conditions/2/value", "2",
         unfit("\u201Cvalue\u201D of a track condition is not an integer.")},
        {"fractional count", "/subtitleOperations/0/count", 1.5,
         unfit("\u201Ccount\u201D of a track operation is not an integer.")},
        {"operation list that is an object", "/videoOperations", Json::object(),
         unfit("\u201CvideoOperations\u201D of a plan is not a list.")},
        {"answer that is a list", "", Json::array(), unfit("the plan is not an object.")},
        {"more operations than a request needs", "/audioOperations", manyOperations,
         unfit("it lists 40000 audio operations, more than the 10 a request can need.")},
        {"more conditions than a request needs", "/audioOperations/0/predicate/conditions",
         Json(std::vector<Json>(11, Json{{"type", "mono"}})),
         unfit("it lists 11 conditions in one track filter, more than the 10 a request can "
               "need.")},
        {"the first failure wins", "",
         Json{{"container", "none"}, {"playback", "bad"}, {"videoOperations", 1}},
         unfit("\u201Cnone\u201D is not a known container.")},
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
