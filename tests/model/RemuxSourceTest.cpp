#include <gtest/gtest.h>

#include "model/RemuxPlan.h"
#include "model/RemuxSource.h"

using namespace tavrolin;

namespace {

std::vector<MediaStream> threeStreams() {
    std::vector<MediaStream> streams(3);
    for (int i = 0; i < 3; ++i) {
        streams[i].index = i;
        streams[i].codecName = "c" + std::to_string(i);
    }
    return streams;
}

}  // namespace

TEST(RemuxSourceValues, SelectedStreamsFollowListOrderAndIgnoreUnknownIndices) {
    RemuxSource source{"/m/a.mkv", RemuxSource::Ready{threeStreams()}, {2, 0, 7}};
    const auto selected = source.selectedStreams();
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(selected[0].index, 0);
    EXPECT_EQ(selected[1].index, 2);
}

TEST(RemuxSourceValues, LoadingOrFailedSourcesSelectNothing) {
    RemuxSource loading{"/m/a.mkv", RemuxSource::Loading{}, {0, 1}};
    RemuxSource failed{"/m/a.mkv", RemuxSource::Failed{"bad"}, {0, 1}};
    EXPECT_TRUE(loading.selectedStreams().empty());
    EXPECT_TRUE(failed.selectedStreams().empty());
}

TEST(RemuxSourceValues, EqualityAndIdentity) {
    RemuxSource a{"/m/a.mkv", RemuxSource::Ready{threeStreams()}, {0}};
    RemuxSource b{"/m/a.mkv", RemuxSource::Ready{threeStreams()}, {1}};
    EXPECT_NE(a, b);
    EXPECT_EQ(a.id(), b.id());

    using State = RemuxSource::InspectionState;
    EXPECT_NE(State{RemuxSource::Failed{"one"}}, State{RemuxSource::Failed{"two"}});
    EXPECT_EQ(State{RemuxSource::Loading{}}, State{RemuxSource::Loading{}});
    EXPECT_NE(State{RemuxSource::Loading{}}, State{RemuxSource::Ready{}});
}

TEST(RemuxPlanValues, PredicatesCompareListsInOrder) {
    RemuxStreamPredicate a;
    a.languages = {"eng", "fre"};
    RemuxStreamPredicate b;
    b.languages = {"fre", "eng"};
    EXPECT_NE(a, b);
    b.languages = a.languages;
    EXPECT_EQ(a, b);
    b.matchMode = RemuxStreamMatchMode::any;
    EXPECT_NE(a, b);
}

TEST(RemuxPlanValues, RoleRawTextsAreExact) {
    EXPECT_EQ(remuxStreamRoleFromRaw("sdh"), RemuxStreamRole::sdh);
    EXPECT_EQ(remuxStreamRoleFromRaw("SDH"), std::nullopt);
    EXPECT_EQ(remuxStreamRoleFromRaw("signs"), std::nullopt);
    EXPECT_EQ(remuxStreamRoleFromRaw("signsAndSongs"), RemuxStreamRole::signsAndSongs);
    std::vector<std::string> raws;
    for (auto role : allRemuxStreamRoles) {
        raws.emplace_back(rawValue(role));
        EXPECT_EQ(remuxStreamRoleFromRaw(rawValue(role)), role);
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"main", "commentary", "descriptive", "forced", "sdh",
                                              "signsAndSongs"}));
}

TEST(RemuxPlanValues, AvailabilityAndDraftEquality) {
    EXPECT_EQ(RemuxIntentParserAvailability::unavailable("m"),
              RemuxIntentParserAvailability::unavailable("m"));
    EXPECT_NE(RemuxIntentParserAvailability::available(),
              RemuxIntentParserAvailability::unavailable(""));
    EXPECT_EQ(RemuxIntentParserAvailability::available(),
              RemuxIntentParserAvailability::available());

    RemuxNaturalLanguageDraft a;
    a.instruction = "only English";
    a.selectedStreamIndicesBySource["/m/a.mkv"] = {0, 1};
    auto b = a;
    EXPECT_EQ(a, b);
    b.selectedStreamIndicesBySource["/m/a.mkv"] = {0};
    EXPECT_NE(a, b);
    b = a;
    b.warnings = {"w"};
    EXPECT_NE(a, b);
}
