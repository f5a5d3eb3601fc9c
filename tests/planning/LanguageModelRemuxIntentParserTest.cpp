#include "planning/LanguageModelRemuxIntentParser.h"

#include <gtest/gtest.h>

#include "model/CancellationError.h"
#include "planning/RemuxPlanVocabulary.h"

using namespace tavrolin;
using Json = nlohmann::ordered_json;

namespace {

// Records every request and answers with a canned plan or a canned error.
class RecordingModel : public LanguageModel {
  public:
    LanguageModelAvailability available{LanguageModelAvailability::Reason::available};
    Json answer;
    std::optional<LanguageModelError> error;
    std::vector<LanguageModelRequest> requests;
    int availabilityReads = 0;

    LanguageModelAvailability availability() override {
        ++availabilityReads;
        return available;
    }
    Json respond(const LanguageModelRequest& request, std::stop_token) override {
        requests.push_back(request);
        if (error) {
            throw *error;
        }
        return answer;
    }
};

Json emptyPlan() {
    return Json{{"container", "unchanged"},
                {"playback", "unchanged"},
                {"videoOperations", Json::array()},
                {"audioOperations", Json::array()},
                {"subtitleOperations", Json::array()}};
}

std::string parseError(const LanguageModelRemuxIntentParser& parser, const std::string& text) {
    try {
        parser.parse(text, {});
    } catch (const std::exception& error) {
        return error.what();
    }
    return "<parsed>";
}

}  // namespace

TEST(LanguageModelRemuxIntentParserTest, RequestsAndFailures) {
    using Reason = LanguageModelAvailability::Reason;
    namespace v = RemuxPlanVocabulary;
    auto model = std::make_shared<RecordingModel>();
    model->answer = emptyPlan();
    const LanguageModelRemuxIntentParser parser(model);
    EXPECT_TRUE(parser.availability().isAvailable);
    EXPECT_EQ(model->availabilityReads, 1);

    // Trimmed prompt, exact instructions, the schema, one request per call.
    const auto plan = parser.parse(" \n\t only English subtitles\u2003\n", {});
    EXPECT_EQ(plan, RemuxIntentPlan{});
    parser.parse("again", {});
    ASSERT_EQ(model->requests.size(), 2u);
    EXPECT_EQ(model->requests[0].prompt, "User request: only English subtitles");
    EXPECT_EQ(model->requests[0].instructions, v::instructions());
    EXPECT_EQ(model->requests[0].outputSchema, remuxPlanOutputSchema());
    EXPECT_EQ(model->requests[1].prompt, "User request: again");
    EXPECT_EQ(model->availabilityReads, 1);

    // The model's own errors pass unchanged.
    model->error = LanguageModelError(LanguageModelError::Case::timedOut, "late");
    try {
        parser.parse("x", {});
        ADD_FAILURE() << "no error";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.errorCase(), LanguageModelError::Case::timedOut);
        EXPECT_EQ(std::string(error.what()), "late");
    }

    // Availability by reason; a blank instruction is reported before unavailability.
    struct Row {
        Reason reason;
        std::string_view message;
    };
    for (const Row& row : {Row{Reason::deviceNotEligible, v::deviceNotEligibleMessage},
                           Row{Reason::notEnabled, v::notEnabledMessage},
                           Row{Reason::modelNotReady, v::modelNotReadyMessage},
                           Row{Reason::other, v::otherUnavailableMessage}}) {
        SCOPED_TRACE(std::string(row.message));
        auto unavailableModel = std::make_shared<RecordingModel>();
        unavailableModel->available = {row.reason};
        const LanguageModelRemuxIntentParser unavailable(unavailableModel);
        EXPECT_EQ(unavailable.availability(),
                  RemuxIntentParserAvailability::unavailable(std::string(row.message)));
        EXPECT_EQ(parseError(unavailable, " \n \u00A0"), v::emptyInstructionMessage);
        EXPECT_EQ(parseError(unavailable, "only English"), v::unavailableMessage);
        EXPECT_TRUE(unavailableModel->requests.empty());
    }
}

TEST(LanguageModelRemuxIntentParserTest, ConversionKeepsKindOrderAndMapsEveryCase) {
    auto model = std::make_shared<RecordingModel>();
    model->answer = Json::parse(R"({
      "container": "webm", "playback": "containerCompatibilityOnly",
      "subtitleOperations": [{"type": "exclude",
          "predicate": {"conditions": [{"type": "codec", "value": "ASS"},
                                       {"type": "titleContains", "value": " Signs "}],
                        "matchMode": "any"},
          "cardinality": "atLeast", "count": 0, "ranking": "codecQuality", "fallback": "fail"}],
      "audioOperations": [
          {"type": "removeAll", "cardinality": "best"},
          {"type": "include",
           "predicate": {"conditions": [{"type": "stereo"}, {"type": "channelCount", "value": 2},
                                        {"type": "mono"}, {"type": "surround51"},
                                        {"type": "surround71"}, {"type": "language", "value": "eng"},
                                        {"type": "role", "value": "signsAndSongs"}],
                         "matchMode": "all"},
           "cardinality": "last", "ranking": "highestChannelCount", "fallback": "keepBestAndWarn"},
          {"type": "deduplicate", "predicate": {"conditions": [], "matchMode": "all"},
           "grouping": "languageRoleAndChannels", "cardinality": "atMost", "count": 2,
           "ranking": "defaultFirst", "fallback": "preserveCurrentAndWarn"}],
      "videoOperations": [{"type": "retainAll"}]
    })");
    const auto plan = LanguageModelRemuxIntentParser(model).parse("x", {});
    EXPECT_EQ(plan.container, RemuxContainerPreference::named(OutputContainer::webm));
    EXPECT_EQ(plan.playback, RemuxPlaybackPreference::containerCompatibilityOnly);

    RemuxStreamOperation retainAll;
    RemuxStreamOperation removeAll;
    removeAll.kind = MediaStreamKind::audio;
    removeAll.operation = RemuxStreamSetOperation::removeAll;
    RemuxStreamOperation include;
    include.kind = MediaStreamKind::audio;
    include.operation = RemuxStreamSetOperation::include;
    include.predicate.channelCounts = {2, 2, 1, 6, 8};
    include.predicate.languages = {"eng"};
    include.predicate.roles = {RemuxStreamRole::signsAndSongs};
    include.cardinality = RemuxStreamCardinality::last;
    include.ranking = RemuxStreamRanking::highestChannelCount;
    include.fallback = RemuxStreamFallback::keepBestAndWarn;
    RemuxStreamOperation dedupe;
    dedupe.kind = MediaStreamKind::audio;
    dedupe.operation = RemuxStreamSetOperation::deduplicate;
    dedupe.grouping = RemuxStreamGrouping::languageRoleAndChannels;
    dedupe.cardinality = RemuxStreamCardinality::atMost;
    dedupe.count = 2;
    dedupe.ranking = RemuxStreamRanking::defaultFirst;
    RemuxStreamOperation exclude;
    exclude.kind = MediaStreamKind::subtitle;
    exclude.operation = RemuxStreamSetOperation::exclude;
    exclude.predicate.codecs = {"ASS"};
    exclude.predicate.titleTerms = {" Signs "};
    exclude.predicate.matchMode = RemuxStreamMatchMode::any;
    exclude.cardinality = RemuxStreamCardinality::atLeast;
    exclude.count = 0;
    exclude.ranking = RemuxStreamRanking::codecQuality;
    exclude.fallback = RemuxStreamFallback::fail;
    EXPECT_EQ(plan.operations,
              (std::vector<RemuxStreamOperation>{retainAll, removeAll, include, dedupe, exclude}));

    // Every container and playback string lands on the case of the same name.
    struct Row {
        const char* container;
        RemuxContainerPreference expected;
    };
    for (const Row& row : {Row{"unchanged", RemuxContainerPreference::unchanged()},
                           Row{"sameAsInput", RemuxContainerPreference::sameAsInput()},
                           Row{"mp4", RemuxContainerPreference::named(OutputContainer::mp4)},
                           Row{"mov", RemuxContainerPreference::named(OutputContainer::mov)},
                           Row{"mkv", RemuxContainerPreference::named(OutputContainer::mkv)},
                           Row{"m4v", RemuxContainerPreference::named(OutputContainer::m4v)}}) {
        SCOPED_TRACE(row.container);
        model->answer = emptyPlan();
        model->answer["container"] = row.container;
        model->answer["playback"] = "iPhone17Pro";
        const auto converted = LanguageModelRemuxIntentParser(model).parse("x", {});
        EXPECT_EQ(converted.container, row.expected);
        EXPECT_EQ(converted.playback, RemuxPlaybackPreference::iPhone17Pro);
    }
}

TEST(LanguageModelRemuxIntentParserTest, EveryGeneratedChoiceMapsToTheCaseOfTheSameName) {
    using G = RemuxStreamGrouping;
    using R = RemuxStreamRanking;
    using C = RemuxStreamCardinality;
    using F = RemuxStreamFallback;
    struct Row {
        const char* grouping;
        G expectedGrouping;
        const char* ranking;
        R expectedRanking;
        const char* cardinality;
        C expectedCardinality;
        const char* fallback;
        F expectedFallback;
        const char* role;
        RemuxStreamRole expectedRole;
    };
    const std::vector<Row> rows{
        {"none", G::none, "sourceOrder", R::sourceOrder, "all", C::all, "preserveCurrentAndWarn",
         F::preserveCurrentAndWarn, "main", RemuxStreamRole::main},
        {"language", G::language, "defaultFirst", R::defaultFirst, "best", C::best,
         "keepBestAndWarn", F::keepBestAndWarn, "commentary", RemuxStreamRole::commentary},
        {"role", G::role, "defaultAtmosChannels", R::defaultAtmosChannels, "first", C::first,
         "fail", F::fail, "descriptive", RemuxStreamRole::descriptive},
        {"languageAndRole", G::languageAndRole, "highestChannelCount", R::highestChannelCount,
         "exactly", C::exactly, "fail", F::fail, "forced", RemuxStreamRole::forced},
        {"languageRoleAndChannels", G::languageRoleAndChannels, "codecQuality", R::codecQuality,
         "atMost", C::atMost, "fail", F::fail, "sdh", RemuxStreamRole::sdh},
        {"codec", G::codec, "sourceOrder", R::sourceOrder, "atLeast", C::atLeast, "fail", F::fail,
         "signsAndSongs", RemuxStreamRole::signsAndSongs},
    };
    auto model = std::make_shared<RecordingModel>();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.grouping);
        model->answer = emptyPlan();
        model->answer["audioOperations"] = Json::array({Json{
            {"type", "deduplicate"},
            {"predicate",
             {{"conditions", {{{"type", "role"}, {"value", row.role}}}}, {"matchMode", "any"}}},
            {"grouping", row.grouping},
            {"cardinality", row.cardinality},
            {"ranking", row.ranking},
            {"fallback", row.fallback}}});
        const auto operation =
            LanguageModelRemuxIntentParser(model).parse("x", {}).operations.at(0);
        EXPECT_EQ(operation.grouping, row.expectedGrouping);
        EXPECT_EQ(operation.ranking, row.expectedRanking);
        EXPECT_EQ(operation.cardinality, row.expectedCardinality);
        EXPECT_EQ(operation.fallback, row.expectedFallback);
        EXPECT_EQ(operation.predicate.roles, std::vector<RemuxStreamRole>{row.expectedRole});
        EXPECT_EQ(operation.predicate.matchMode, RemuxStreamMatchMode::any);
    }
}
