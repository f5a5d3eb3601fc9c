// Locale matching, conversation grouping, cue search and the timeline's ticks and zoom.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/TestStreams.h"
#include "transcription/TranscriptConversationGrouper.h"
#include "transcription/TranscriptCueSearch.h"
#include "transcription/TranscriptTimelineLayout.h"
#include "transcription/TranscriptionLocaleMatcher.h"
#include "transcription/TranscriptionLocales.h"

using namespace tavrolin;

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

MediaStream audio(std::optional<std::string> language, std::optional<std::string> title = {}) {
    return tavtest::makeStream(1, MediaStreamKind::audio, "aac", std::move(language),
                               std::move(title));
}

std::vector<TranscriptionLocale> locales(std::vector<std::string> identifiers) {
    std::vector<TranscriptionLocale> result;
    for (auto& identifier : identifiers) {
        result.push_back({identifier, identifier});
    }
    return result;
}

SubtitleCue cue(std::int64_t id, double start, double end, std::string text = "x") {
    return {id, start, end, std::move(text), std::nullopt};
}

}  // namespace

TEST(TranscriptRules, LanguageTagsAndTitlesGiveCodes) {
    const TranscriptionLocaleMatcher matcher;
    const struct {
        std::optional<std::string> tag;
        std::optional<std::string> code;
    } tags[] = {{"ENG", "en"},         {" en_US ", "en"},
                {"zh-Hant-TW", "zh"},  {"ger", "de"},
                {"es-419", "es"},      {"nb", "nb"},
                {"und", std::nullopt}, {"-", std::nullopt},
                {"", std::nullopt},    {std::nullopt, std::nullopt}};
    for (const auto& row : tags) {
        SCOPED_TRACE(row.tag.value_or("(none)"));
        EXPECT_EQ(matcher.normalizedLanguageCode(row.tag), row.code);
    }
    const struct {
        std::optional<MediaStream> stream;
        std::optional<std::string> code;
    } streams[] = {{audio("und", "English SDH"), "en"},
                   {audio("fre", "English"), "fr"},
                   {audio(std::nullopt), std::nullopt},
                   {audio(std::nullopt, "Director's Commentary"), std::nullopt},
                   {audio(std::nullopt, "Is it live"), "it"},
                   {std::nullopt, std::nullopt}};
    for (const auto& row : streams) {
        SCOPED_TRACE(row.stream ? row.stream->title.value_or("(no title)") : "(no stream)");
        EXPECT_EQ(matcher.languageCode(row.stream), row.code);
    }
}

TEST(TranscriptRules, BestLocaleFollowsTheStreamThenThePreferenceThenEnglish) {
    const struct {
        std::string name;
        std::optional<MediaStream> stream;
        std::vector<std::string> offered;
        std::optional<std::string> preferred;
        std::optional<std::string> expected;
    } rows[] = {
        {"English prefers en-US", audio("eng"), {"en-GB", "en-US"}, std::nullopt, "en-US"},
        {"en-GB stream still en-US", audio("en-GB"), {"en-GB", "en-US"}, std::nullopt, "en-US"},
        {"first English candidate", audio("eng"), {"en-GB", "en-AU"}, std::nullopt, "en-GB"},
        {"exact region", audio("fr_CA"), {"fr-FR", "fr-CA"}, std::nullopt, "fr-CA"},
        {"no Japanese: preference", audio("jpn"), {"en-US", "de-DE"}, "de_DE", "de-DE"},
        {"no Japanese: en-US", audio("jpn"), {"de-DE", "en-US"}, std::nullopt, "en-US"},
        {"no Japanese: first English", audio("jpn"), {"de-DE", "en-GB"}, std::nullopt, "en-GB"},
        {"no Japanese: first locale", audio("jpn"), {"de-DE", "fr-FR"}, std::nullopt, "de-DE"},
        {"identifier kept as listed", audio(std::nullopt), {"EN_us"}, std::nullopt, "EN_us"},
        {"empty list", audio("eng"), {}, "en-US", std::nullopt},
    };
    const TranscriptionLocaleMatcher matcher;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(matcher.bestLocaleIdentifier(row.stream, locales(row.offered), row.preferred),
                  row.expected);
    }
}

TEST(TranscriptRules, RecognizerLocalesAreCanonicalAndNamedInTheInterfaceLanguage) {
    const struct {
        std::string identifier;
        std::string canonical;
    } rows[] = {{"en-us", "en-US"}, {" EN_us ", "en-US"}, {"zh_hant_tw", "zh-Hant-TW"}, {"", ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.identifier);
        EXPECT_EQ(canonicalLocaleIdentifier(row.identifier), row.canonical);
    }
    EXPECT_EQ(transcriptionLocales({"fr-CA", "en-US", "de-DE", "xx-unknown"}, "de"),
              (std::vector<TranscriptionLocale>{{"de-DE", "Deutsch (Deutschland)"},
                                                {"en-US", "Englisch (Vereinigte Staaten)"},
                                                {"fr-CA", "Französisch (Kanada)"},
                                                {"xx-unknown", "xx (UNKNOWN)"}}));
    // Long enough that ICU's answer fills its usual fixed buffer exactly.
    std::string longTag = "en-x-abcdefgh";
    for (int i = 0; i < 16; ++i) {
        longTag += "-abcdefgh";
    }
    EXPECT_EQ(canonicalLocaleIdentifier(longTag), longTag);
    ASSERT_EQ(transcriptionLocales({longTag}, "en").size(), 1U);
    // Equal names keep the recogniser's order.
    EXPECT_EQ(transcriptionLocales({"en-us", "en-US"}, "en"),
              (std::vector<TranscriptionLocale>{{"en-us", "English (United States)"},
                                                {"en-US", "English (United States)"}}));
}

TEST(TranscriptRules, ConversationsBreakAtSilenceLengthAndSize) {
    const TranscriptConversationGrouper grouper;
    const auto spans = [&](const std::vector<SubtitleCue>& cues) {
        std::vector<std::vector<std::int64_t>> ids;
        for (const auto& conversation : grouper.group(cues)) {
            std::vector<std::int64_t> group;
            for (const auto& c : conversation.cues) {
                group.push_back(c.id);
            }
            ids.push_back(group);
        }
        return ids;
    };
    std::vector<SubtitleCue> fortyOne;
    for (int i = 0; i < 41; ++i) {
        fortyOne.push_back(cue(i + 1, i, i + 1));
    }
    std::vector<std::int64_t> firstForty;
    for (int i = 1; i <= 40; ++i) {
        firstForty.push_back(i);
    }
    const struct {
        std::string name;
        std::vector<SubtitleCue> cues;
        std::vector<std::vector<std::int64_t>> groups;
    } rows[] = {
        {"gap of exactly 8 s separates", {cue(1, 0, 10), cue(2, 18, 19)}, {{1}, {2}}},
        {"gap under 8 s joins", {cue(1, 0, 10), cue(2, 17.99, 19)}, {{1, 2}}},
        {"span of exactly 240 s fits", {cue(1, 0, 5), cue(2, 6, 240)}, {{1, 2}}},
        {"span over 240 s closes", {cue(1, 0, 5), cue(2, 6, 240.01)}, {{1}, {2}}},
        {"41 cues give 40 and 1", fortyOne, {firstForty, {41}}},
        {"out of order, ties by end", {cue(3, 5, 6), cue(1, 1, 3), cue(2, 1, 2)}, {{2, 1, 3}}},
        {"overlap never splits", {cue(1, 0, 10), cue(2, 5, 6), cue(3, 12, 13)}, {{1, 2, 3}}},
        {"empty", {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(spans(row.cues), row.groups);
    }
    const auto conversations = grouper.group(fortyOne);
    ASSERT_EQ(conversations.size(), 2u);
    EXPECT_EQ(conversations[1].ordinal, 2);
    EXPECT_EQ(conversations[1].id, 41);
    EXPECT_EQ(conversations[0].startTime, 0);
    EXPECT_EQ(conversations[0].endTime, 40);
    // The last cue in time order gives the end, not the greatest end.
    EXPECT_EQ(grouper.group({cue(1, 0, 20), cue(2, 5, 6)})[0].endTime, 6);
}

TEST(TranscriptRules, SearchIgnoresCaseAccentsAndWidth) {
    const TranscriptCueSearch search;
    const struct {
        std::string text;
        std::string query;
        bool matches;
    } rows[] = {{"Un Café noir", "  cafe ", true},
                {"naïve", "NAIVE", true},
                {"ＡＢＣ full width", "abc", true},
                {"Straße", "STRASSE", true},
                {"anything", "   ", true},
                {"cafe", "café au lait", false},
                {"hello", "help", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text + " / " + row.query);
        EXPECT_EQ(search.matches(row.text, row.query), row.matches);
    }
    const std::vector<SubtitleCue> cues{cue(1, 0, 1, "Café"), cue(2, 1, 2, "tea"),
                                        cue(3, 2, 3, "CAFE")};
    EXPECT_EQ(search.filter(cues, "cafe"), (std::vector<SubtitleCue>{cues[0], cues[2]}));
    EXPECT_EQ(search.filter(cues, " "), cues);
}

TEST(TranscriptRules, TimelineTicksAndZoom) {
    const TranscriptTimelineLayout layout;
    const struct {
        double pointsPerSecond;
        double tick;
    } ticks[] = {{0, 60},  {-3, 60}, {notANumber, 60}, {infinity, 60}, {90, 1},
                 {10, 10}, {4, 30},  {0.02, 7200},     {0.025, 3600}};
    for (const auto& row : ticks) {
        SCOPED_TRACE(row.pointsPerSecond);
        EXPECT_EQ(layout.tickInterval(row.pointsPerSecond), row.tick);
    }
    const struct {
        double magnification;
        double start;
        double zoom;
    } zooms[] = {{1.5, 2, 3},          {3, 20, 32},      {0.5, 1, 1},      {0, 5, 5},
                 {notANumber, 40, 32}, {infinity, 2, 2}, {2, infinity, 1}, {-1, 0.5, 1}};
    for (const auto& row : zooms) {
        SCOPED_TRACE(std::to_string(row.magnification) + " x " + std::to_string(row.start));
        EXPECT_EQ(layout.clampedZoom(row.magnification, row.start), row.zoom);
    }
}
