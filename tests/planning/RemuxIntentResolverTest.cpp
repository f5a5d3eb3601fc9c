#include "planning/RemuxIntentResolver.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <fstream>

#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

using Kind = MediaStreamKind;
using Set = RemuxStreamSetOperation;
using Card = RemuxStreamCardinality;
using Fallback = RemuxStreamFallback;
using Rank = RemuxStreamRanking;
using Group = RemuxStreamGrouping;

// Streams: 0 H.264; 1 AAC 7.1 eng default; 2 AAC stereo eng; 3 AAC stereo fre;
// 4 AAC stereo eng "Director's Commentary"; 5 SubRip eng; 6 SubRip fre.
fs::path libraryFile() {
    static tavtest::TempDir folder;
    std::ofstream(folder / "cues.srt") << "1\n00:00:00,000 --> 00:00:00,500\nHello\n";
    const std::string srt = (folder / "cues.srt").string();
    const std::vector<std::string> inputs{
        "-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=1",
        "-f", "lavfi", "-i", "anullsrc=channel_layout=7.1:sample_rate=48000",
        "-f", "lavfi", "-i", "anullsrc=channel_layout=stereo:sample_rate=48000",
        "-i", srt};
    std::vector<std::string> arguments = inputs;
    for (const char* map : {"0:v", "1:a", "2:a", "2:a", "2:a", "3:s", "3:s"}) {
        arguments.insert(arguments.end(), {"-map", map});
    }
    arguments.insert(arguments.end(), {"-c:v",
                                       "libx264",
                                       "-preset",
                                       "ultrafast",
                                       "-pix_fmt",
                                       "yuv420p",
                                       "-c:a",
                                       "aac",
                                       "-c:s",
                                       "srt",
                                       "-t",
                                       "1",
                                       "-metadata:s:a:0",
                                       "language=eng",
                                       "-metadata:s:a:1",
                                       "language=eng",
                                       "-metadata:s:a:2",
                                       "language=fre",
                                       "-metadata:s:a:3",
                                       "language=eng",
                                       "-metadata:s:a:3",
                                       "title=Director's Commentary",
                                       "-metadata:s:s:0",
                                       "language=eng",
                                       "-metadata:s:s:1",
                                       "language=fre",
                                       "-disposition:a:0",
                                       "default",
                                       "-disposition:a:1",
                                       "0",
                                       "-disposition:a:2",
                                       "0",
                                       "-disposition:a:3",
                                       "0"});
    return tavtest::TestMedia::generate("planning-library.mkv", arguments);
}

std::vector<MediaStream> probed(const fs::path& file) {
    FFprobeService service(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    return service.inspectStreams(file);
}

RemuxSource ready(const fs::path& file, std::set<std::int64_t> selection = {}) {
    RemuxSource source{file, RemuxSource::Ready{probed(file)}, {}};
    for (const auto& stream : std::get<RemuxSource::Ready>(source.inspectionState).streams) {
        source.selectedStreamIndices.insert(stream.index);
    }
    if (!selection.empty()) {
        source.selectedStreamIndices = std::move(selection);
    }
    return source;
}

RemuxStreamOperation matching(Kind kind, Set set, RemuxStreamPredicate predicate,
                              Card cardinality = Card::all, std::optional<std::int64_t> count = {},
                              Rank ranking = Rank::sourceOrder,
                              Fallback fallback = Fallback::preserveCurrentAndWarn,
                              Group grouping = Group::none) {
    return {kind, set, std::move(predicate), cardinality, count, grouping, ranking, fallback};
}

RemuxStreamPredicate languages(std::vector<std::string> names) {
    RemuxStreamPredicate predicate;
    predicate.languages = std::move(names);
    return predicate;
}

class RemuxIntentResolverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
    }
    RemuxIntentResolver resolver;
};

const std::string lib = "planning-library.mkv: ";
const std::string clip = "clip-a.mp4: ";

}  // namespace

TEST_F(RemuxIntentResolverTest, GoldenDraftsOnProbedFiles) {
    const fs::path library = libraryFile();
    const fs::path clipFile = tavtest::TestMedia::shared().mp4ClipA;
    const std::string best71 = "#1 AAC \u00B7 7.1 \u00B7 ENG";
    RemuxStreamPredicate commentary;
    commentary.roles = {RemuxStreamRole::commentary};
    RemuxStreamPredicate subrip;
    subrip.codecs = {"subrip"};
    struct Row {
        const char* name;
        std::vector<RemuxStreamOperation> operations;
        std::set<std::int64_t> librarySelection;  // empty: everything selected
        std::vector<std::string> changes;
        std::vector<std::string> warnings;
        std::set<std::int64_t> expectedLibrary;
        std::vector<std::string> plan = {};
        bool withClip = false;  // a second source, video and untagged audio
    };
    const std::vector<Row> rows{
        {"only English subtitles",
         {matching(Kind::subtitle, Set::retainOnly, languages({"English"}))},
         {},
         {lib + "keep 1 English subtitle track."},
         {},
         {0, 1, 2, 3, 4, 5},
         {"Keep only the English subtitle tracks."}},
        {"the same plan again changes nothing",
         {matching(Kind::subtitle, Set::retainOnly, languages({"English"}))},
         {0, 1, 2, 3, 4, 5},
         {},
         {"The current controls already match the interpreted plan. Nothing needs to be "
          "applied."},
         {0, 1, 2, 3, 4, 5}},
        {"no operations",
         {},
         {},
         {},
         {"The on-device language model did not identify a supported "
          "track-selection operation. Nothing was changed."},
         {0, 1, 2, 3, 4, 5, 6}},
        {"exactly 2 with one match keeps the best of the kind",
         {matching(Kind::audio, Set::retainOnly, languages({"fre"}), Card::exactly, 2,
                   Rank::defaultAtmosChannels, Fallback::keepBestAndWarn)},
         {},
         {lib + "keep " + best71 + " as the only audio track."},
         {lib + "the requested number of French audio was unavailable; kept " + best71 +
          " as the fallback."},
         {0, 1, 5, 6},
         {"Keep only exactly 2 French audio tracks."}},
        {"exactly without count warns twice",
         {matching(Kind::audio, Set::include, languages({"fre"}), Card::exactly)},
         {},
         {},
         {lib + "\u2018exactly\u2019 needs a positive count for French audio.",
          lib + "the requested number of French audio was unavailable, so the current selection "
                "was preserved."},
         {0, 1, 2, 3, 4, 5, 6}},
        {"deduplicate by language and role keeps the default 7.1",
         {matching(Kind::audio, Set::deduplicate, {}, Card::best, {}, Rank::defaultAtmosChannels,
                   Fallback::preserveCurrentAndWarn, Group::languageAndRole)},
         {},
         {lib + "remove 1 duplicate audio track; keep " + best71 + "."},
         {},
         {0, 1, 3, 4, 5, 6},
         {"Keep the best audio track per language and role, ranked by default status, Atmos, "
          "and channel count."}},
        {"deduplicate by language removes two",
         {matching(Kind::audio, Set::deduplicate, {}, Card::best, {}, Rank::defaultAtmosChannels,
                   Fallback::preserveCurrentAndWarn, Group::language)},
         {},
         {lib + "remove 2 duplicate audio tracks; keep " + best71 + "."},
         {},
         {0, 1, 3, 5, 6}},
        {"deduplicate only looks at selected streams",
         {matching(Kind::audio, Set::deduplicate, {}, Card::best, {}, Rank::sourceOrder,
                   Fallback::preserveCurrentAndWarn, Group::languageAndRole)},
         {0, 1, 3, 4, 5},
         {},
         {lib + "no duplicate audio tracks matched this policy, so nothing was removed."},
         {0, 1, 3, 4, 5}},
        {"deduplicate without grouping or count",
         {matching(Kind::audio, Set::deduplicate, {}, Card::best),
          matching(Kind::audio, Set::deduplicate, {}, Card::atMost, {}, Rank::sourceOrder,
                   Fallback::fail, Group::language)},
         {},
         {},
         {lib + "the draft did not say how to identify duplicate audio tracks, so nothing was "
                "removed.",
          lib + "\u2018at most\u2019 needs a positive count for duplicate audio.",
          lib + "no duplicate audio tracks matched this policy, so nothing was removed."},
         {0, 1, 2, 3, 4, 5, 6},
         {"Keep the best audio track per one combined group, ranked by source order.",
          "Keep at most 0 audio tracks per language, ranked by source order."}},
        {"first and last ignore the ranking",
         {matching(Kind::audio, Set::retainOnly, languages({"en"}), Card::first, 2,
                   Rank::highestChannelCount),
          matching(Kind::subtitle, Set::exclude, subrip, Card::last, 1)},
         {},
         {lib + "keep 2 English audio tracks.", lib + "remove 1 SUBRIP subtitle track."},
         {},
         {0, 1, 2, 5},
         {"Keep only the first 2 English audio tracks.", "Remove the last SUBRIP subtitle track."}},
        {"remove all audio warns per file; exclude of missing commentary falls back",
         {matching(Kind::audio, Set::exclude, commentary, Card::all, {}, Rank::sourceOrder,
                   Fallback::fail),
          matching(Kind::audio, Set::removeAll, {})},
         {},
         {lib + "remove 1 commentary audio track.", lib + "remove all audio tracks.",
          clip + "remove all audio tracks."},
         {lib + "the draft leaves no audio tracks selected.",
          clip + "no commentary audio was found. This required operation was not applied.",
          clip + "the draft leaves no audio tracks selected."},
         {0, 5, 6},
         {},
         true},
        {"include of selected streams and criteria-less matching change nothing",
         {matching(Kind::audio, Set::include, languages({"English"})),
          matching(Kind::video, Set::retainOnly, {})},
         {},
         {},
         {lib + "a matching operation had no semantic criteria, so it was not applied.",
          clip + "no English audio was found, so the current selection was preserved.",
          clip + "a matching operation had no semantic criteria, so it was not applied."},
         {0, 1, 2, 3, 4, 5, 6},
         {},
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<RemuxSource> sources{ready(library, row.librarySelection)};
        if (row.withClip) {
            sources.push_back(ready(clipFile));
        }
        const auto draft = resolver.resolve("typed", {{}, {}, row.operations}, sources,
                                            OutputContainer::mkv, std::nullopt);
        EXPECT_EQ(draft.instruction, "typed");
        EXPECT_EQ(draft.container, OutputContainer::mkv);
        EXPECT_EQ(draft.playbackTarget, std::nullopt);
        EXPECT_EQ(draft.changes, row.changes);
        EXPECT_EQ(draft.warnings, row.warnings);
        EXPECT_EQ(draft.selectedStreamIndicesBySource.at(library), row.expectedLibrary);
        EXPECT_EQ(draft.selectedStreamIndicesBySource.size(), sources.size());
        if (!row.plan.empty()) {
            EXPECT_EQ(draft.interpretedPlan, row.plan);
        }
        EXPECT_EQ(draft.interpretedPlan.size(), row.operations.size());
    }
}

TEST_F(RemuxIntentResolverTest, ContainerAndPlaybackPreferences) {
    using Pref = RemuxContainerPreference;
    using Play = RemuxPlaybackPreference;
    struct Row {
        Pref container;
        Play playback;
        std::optional<OutputContainer> current;
        std::optional<PlaybackTarget> currentTarget;
        std::optional<OutputContainer> expected;
        std::optional<PlaybackTarget> expectedTarget;
        std::vector<std::string> changes;
    };
    const auto phone = PlaybackTarget::iPhone17Pro;
    const std::vector<Row> rows{
        {Pref::sameAsInput(),
         Play::iPhone17Pro,
         std::nullopt,
         std::nullopt,
         OutputContainer::mp4,
         phone,
         {"Use the MP4 container.", "Check the tracks against iPhone 17 Pro playback."}},
        {Pref::named(OutputContainer::webm),
         Play::unchanged,
         OutputContainer::webm,
         phone,
         OutputContainer::webm,
         phone,
         {}},
        {Pref::unchanged(),
         Play::containerCompatibilityOnly,
         OutputContainer::mov,
         phone,
         OutputContainer::mov,
         std::nullopt,
         {"Check container compatibility only."}},
        {Pref::sameAsInput(),
         Play::unchanged,
         OutputContainer::m4v,
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {"Keep each input's own container."}},
        {Pref::named(OutputContainer::webm),
         Play::unchanged,
         std::nullopt,
         std::nullopt,
         OutputContainer::webm,
         std::nullopt,
         {"Use the WEBM container."}},
        {Pref::sameAsInput(),
         Play::unchanged,
         OutputContainer::mp4,
         phone,
         std::nullopt,
         phone,
         {"Keep each input's own container."}},
    };
    // A source still loading and one that failed have no streams: nothing is matched there.
    const std::vector<RemuxSource> sources{
        {"/media/loading.mkv", RemuxSource::Loading{}, {1}},
        {"/media/failed.mkv", RemuxSource::Failed{"broken"}, {}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.changes.empty() ? "no change" : row.changes.front());
        const RemuxIntentPlan plan{
            row.container, row.playback, {matching(Kind::video, Set::retainAll, {})}};
        const auto draft = resolver.resolve("x", plan, sources, row.current, row.currentTarget);
        EXPECT_EQ(draft.container, row.expected);
        EXPECT_EQ(draft.playbackTarget, row.expectedTarget);
        EXPECT_EQ(draft.changes, row.changes);
        EXPECT_EQ(draft.selectedStreamIndicesBySource.at("/media/loading.mkv"),
                  std::set<std::int64_t>{1});
        EXPECT_TRUE(draft.selectedStreamIndicesBySource.at("/media/failed.mkv").empty());
    }
    const auto unmatched =
        resolver.resolve("x", {{}, {}, {matching(Kind::audio, Set::retainOnly, languages({"de"}))}},
                         sources, std::nullopt, std::nullopt);
    EXPECT_EQ(unmatched.warnings,
              (std::vector<std::string>{
                  "loading.mkv: no German audio was found, so the current selection was "
                  "preserved.",
                  "failed.mkv: no German audio was found, so the current selection was "
                  "preserved."}));
}

TEST_F(RemuxIntentResolverTest, CardinalityPhrasesCountTheTracks) {
    struct Row {
        Card cardinality;
        std::optional<std::int64_t> count;
        const char* phrase;
    };
    const std::vector<Row> rows{
        {Card::all, 3, "the audio tracks"},         {Card::best, {}, "the best audio track"},
        {Card::best, 2, "the best 2 audio tracks"}, {Card::first, 1, "the first audio track"},
        {Card::last, 0, "the last audio track"},    {Card::exactly, {}, "exactly 0 audio tracks"},
        {Card::atMost, 1, "at most 1 audio track"}, {Card::atLeast, 4, "at least 4 audio tracks"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.phrase);
        EXPECT_EQ(resolver.cardinalityPhrase(
                      matching(Kind::audio, Set::include, {}, row.cardinality, row.count), "audio"),
                  row.phrase);
    }
}
