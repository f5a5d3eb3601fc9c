#include "planning/StreamSemanticMatcher.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

#include <algorithm>

using namespace tavrolin;

namespace {

class StreamSemanticMatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en_US"), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

    StreamSemanticMatcher matcher;
};

MediaStream stream(std::int64_t index, MediaStreamKind kind, std::string codec,
                   std::optional<std::string> language = std::nullopt,
                   std::optional<std::string> title = std::nullopt) {
    MediaStream result;
    result.index = index;
    result.kind = kind;
    result.codecName = std::move(codec);
    result.language = std::move(language);
    result.title = std::move(title);
    return result;
}

MediaStream audio(std::int64_t index, std::optional<std::string> language,
                  std::optional<std::string> title = std::nullopt, std::int64_t channels = 2,
                  std::string codec = "aac") {
    auto result = stream(index, MediaStreamKind::audio, std::move(codec), std::move(language),
                         std::move(title));
    result.channelCount = channels;
    return result;
}

}  // namespace

TEST_F(StreamSemanticMatcherTest, LanguageTagsNormaliseToShortCodes) {
    const std::vector<std::pair<std::optional<std::string>, std::optional<std::string>>> cases{
        {"eng", "en"},      {"EN", "en"},         {"en-GB", "en"},
        {"en_US", "en"},    {" ger ", "de"},      {"pt-BR", "pt"},
        {"French", "fr"},   {"tlh", "tlh"},       {"und", std::nullopt},
        {"", std::nullopt}, {"-_", std::nullopt}, {std::nullopt, std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(matcher.normalizedLanguage(text), expected) << text.value_or("<none>");
    }
    EXPECT_EQ(splitLanguageTag("-en--GB_x-"), (std::vector<std::string>{"en", "GB", "x"}));
}

TEST_F(StreamSemanticMatcherTest, TitlesAreCutAtEveryNonAlphanumericCharacter) {
    EXPECT_EQ(matcher.normalizedTitle("Director's Commentary (2.0)"), "director s commentary 2 0");
    EXPECT_EQ(matcher.normalizedTitle(std::nullopt), "");
    EXPECT_EQ(matcher.normalizedTitle("  --  "), "");
    // Letters outside ASCII are kept and lower-cased in full.
    EXPECT_EQ(matcher.normalizedTitle("FRANÇAIS — Ελληνικά"), "français ελληνικά");
}

TEST_F(StreamSemanticMatcherTest, LanguageKeyFallsBackToTitleWordsAndRolesComeFromTitle) {
    const auto sdh = stream(3, MediaStreamKind::subtitle, "subrip", "und", "English SDH");
    EXPECT_EQ(matcher.languageKey(sdh), "en");
    EXPECT_EQ(matcher.roleTokens(sdh), (std::set<std::string>{"sdh"}));

    EXPECT_EQ(matcher.languageKey(stream(1, MediaStreamKind::audio, "aac", "", "Deutsch")), "de");
    EXPECT_EQ(matcher.languageKey(stream(1, MediaStreamKind::audio, "aac", "fre", "English")),
              "fr");
    EXPECT_EQ(matcher.languageKey(stream(1, MediaStreamKind::audio, "aac")), std::nullopt);

    auto forcedFlag = stream(4, MediaStreamKind::subtitle, "ass");
    forcedFlag.isForced = true;
    EXPECT_EQ(matcher.roleTokens(forcedFlag), (std::set<std::string>{"forced"}));
    EXPECT_TRUE(
        matcher.roleTokens(stream(1, MediaStreamKind::subtitle, "ass", "en", "Signs")).empty());
    EXPECT_EQ(
        matcher.roleTokens(stream(1, MediaStreamKind::subtitle, "ass", "en", "Signs & Songs")),
        (std::set<std::string>{"signs-songs"}));
    EXPECT_EQ(matcher.roleTokens(stream(1, MediaStreamKind::audio, "aac", "en",
                                        "Descriptive Commentary, hearing-impaired, Forced")),
              (std::set<std::string>{"commentary", "description", "forced", "sdh"}));
    EXPECT_EQ(
        matcher.roleTokens(stream(1, MediaStreamKind::audio, "aac", "en", "Audio Description")),
        (std::set<std::string>{"description"}));
}

TEST_F(StreamSemanticMatcherTest, PredicatesCombineTheirListsByMatchMode) {
    const auto englishAAC = audio(1, "eng", "Main", 2, "aac");
    RemuxStreamPredicate empty;
    EXPECT_TRUE(matcher.matches(englishAAC, MediaStreamKind::audio, empty));
    EXPECT_FALSE(matcher.matches(englishAAC, MediaStreamKind::subtitle, empty));

    RemuxStreamPredicate undetermined;
    undetermined.languages = {"und"};
    EXPECT_FALSE(matcher.matches(englishAAC, MediaStreamKind::audio, undetermined));
    EXPECT_FALSE(matcher.matches(audio(2, std::nullopt), MediaStreamKind::audio, undetermined));

    RemuxStreamPredicate languageOrCodec;
    languageOrCodec.languages = {"en"};
    languageOrCodec.codecs = {"ac3"};
    languageOrCodec.matchMode = RemuxStreamMatchMode::any;
    EXPECT_TRUE(matcher.matches(englishAAC, MediaStreamKind::audio, languageOrCodec));
    languageOrCodec.matchMode = RemuxStreamMatchMode::all;
    EXPECT_FALSE(matcher.matches(englishAAC, MediaStreamKind::audio, languageOrCodec));

    RemuxStreamPredicate codecs;
    codecs.codecs = {"E-AC-3", "AAC"};
    EXPECT_TRUE(matcher.matches(englishAAC, MediaStreamKind::audio, codecs));
    EXPECT_FALSE(matcher.matches(audio(2, "en", {}, 6, "eac3"), MediaStreamKind::audio,
                                 RemuxStreamPredicate{{}, {}, {}, {"E-AC-3"}, {}, {}}));

    RemuxStreamPredicate channels;
    channels.channelCounts = {6, 8};
    EXPECT_TRUE(matcher.matches(audio(2, "en", {}, 6), MediaStreamKind::audio, channels));
    auto unknownChannels = audio(2, "en");
    unknownChannels.channelCount.reset();
    EXPECT_FALSE(matcher.matches(unknownChannels, MediaStreamKind::audio, channels));

    RemuxStreamPredicate roles;
    roles.roles = {RemuxStreamRole::main};
    EXPECT_TRUE(matcher.matches(englishAAC, MediaStreamKind::audio, roles));
    EXPECT_FALSE(matcher.matches(audio(2, "en", "Commentary"), MediaStreamKind::audio, roles));
    roles.roles = {RemuxStreamRole::signsAndSongs, RemuxStreamRole::commentary};
    EXPECT_TRUE(matcher.matches(audio(2, "en", "Commentary"), MediaStreamKind::audio, roles));

    RemuxStreamPredicate titles;
    titles.titleTerms = {"  ", "Director's"};
    EXPECT_TRUE(
        matcher.matches(audio(2, "en", "The Director's Cut"), MediaStreamKind::audio, titles));
    titles.titleTerms = {"!!"};
    EXPECT_FALSE(matcher.matches(audio(2, "en", "!!"), MediaStreamKind::audio, titles));
}

TEST_F(StreamSemanticMatcherTest, DescriptionsUseLocaleNamesAndFixedWords) {
    EXPECT_EQ(
        matcher.predicateDescription({"English", "fre"}, {6}, {}, {}, {}, MediaStreamKind::audio),
        "English or French 5.1 audio");
    EXPECT_EQ(matcher.predicateDescription({}, {}, {}, {}, {}, MediaStreamKind::subtitle),
              "subtitle");
    EXPECT_EQ(matcher.predicateDescription(
                  {"qqx"}, {1, 2, 3, 8}, {RemuxStreamRole::sdh, RemuxStreamRole::signsAndSongs},
                  {"ac3", "dts"}, {"Cut", "Final"}, MediaStreamKind::audio),
              "QQX mono or stereo or 3-channel or 7.1 SDH or signs and songs AC3 or DTS "
              "title matching \u2018Cut\u2019 or \u2018Final\u2019 audio");
    EXPECT_EQ(matcher.predicateDescription({}, {},
                                           {RemuxStreamRole::main, RemuxStreamRole::commentary,
                                            RemuxStreamRole::descriptive, RemuxStreamRole::forced},
                                           {}, {}, MediaStreamKind::subtitle),
              "main or commentary or descriptive or forced subtitle");
    // Words the model made up are quoted short and without control characters.
    EXPECT_EQ(matcher.predicateDescription({}, {}, {}, {"h264\x1B[31m" + std::string(500, 'x')},
                                           {"Cut\n\r" + std::string(100000, 'y')},
                                           MediaStreamKind::video),
              "H264 [31M" + std::string(15, 'X') + "\u2026 title matching \u2018Cut " +
                  std::string(26, 'y') + "\u2026\u2019 video");

    EXPECT_EQ(matcher.streamDescription(audio(1, "eng", "Director Commentary")),
              "English commentary audio");
    auto forcedFrench = stream(2, MediaStreamKind::subtitle, "subrip", "fra");
    forcedFrench.isForced = true;
    EXPECT_EQ(matcher.streamDescription(forcedFrench), "French forced subtitle");
    EXPECT_EQ(matcher.streamDescription(stream(0, MediaStreamKind::video, "h264")), "video");
    EXPECT_EQ(matcher.streamDescription(
                  stream(5, MediaStreamKind::subtitle, "ass", "jpn", "Signs & Songs SDH")),
              "Japanese SDH subtitle");
}

TEST_F(StreamSemanticMatcherTest, GroupSignaturesAndRankScores) {
    auto commentary = audio(3, "ger", "Commentary Forced", 6, "AC3");
    EXPECT_EQ(matcher.groupSignature(commentary, RemuxStreamGrouping::none), "all");
    EXPECT_EQ(matcher.groupSignature(commentary, RemuxStreamGrouping::language), "de");
    EXPECT_EQ(matcher.groupSignature(commentary, RemuxStreamGrouping::role), "commentary,forced");
    EXPECT_EQ(matcher.groupSignature(commentary, RemuxStreamGrouping::languageAndRole),
              "de|commentary,forced");
    EXPECT_EQ(matcher.groupSignature(commentary, RemuxStreamGrouping::languageRoleAndChannels),
              "de|commentary,forced|6");
    EXPECT_EQ(matcher.groupSignature(commentary, RemuxStreamGrouping::codec), "ac3");
    auto bare = audio(1, std::nullopt);
    bare.channelCount.reset();
    EXPECT_EQ(matcher.groupSignature(bare, RemuxStreamGrouping::languageRoleAndChannels), "und||0");

    auto atmos = audio(2, "en", "Main", 8, "truehd");
    atmos.isDefault = true;
    atmos.profile = "Dolby TrueHD + Dolby ATMOS";
    EXPECT_EQ(matcher.rankScore(atmos, RemuxStreamRanking::defaultAtmosChannels),
              10000 + 800 + 50 + 40 - 2);
    EXPECT_EQ(matcher.rankScore(atmos, RemuxStreamRanking::sourceOrder), -2);
    EXPECT_EQ(matcher.rankScore(atmos, RemuxStreamRanking::defaultFirst), 10000 - 2);
    EXPECT_EQ(matcher.rankScore(atmos, RemuxStreamRanking::highestChannelCount), 800 - 2);
    EXPECT_EQ(matcher.rankScore(atmos, RemuxStreamRanking::codecQuality), 4000 - 2);
    // "Atmos" in the title is not looked at.
    EXPECT_EQ(matcher.rankScore(audio(1, "en", "Atmos", 0, "x"),
                                RemuxStreamRanking::defaultAtmosChannels),
              -1);

    // Equal scores order by index, whatever the argument order.
    const auto a = audio(4, "en", {}, 2, "aac");
    const auto b = audio(5, "en", {}, 3, "aac");
    EXPECT_TRUE(matcher.ranksBefore(b, a, RemuxStreamRanking::highestChannelCount));
    auto c = audio(6, "en", {}, 2, "aac");
    auto d = audio(7, "en", {}, 2, "aac");
    EXPECT_FALSE(matcher.ranksBefore(c, d, RemuxStreamRanking::sourceOrder) ==
                 matcher.ranksBefore(d, c, RemuxStreamRanking::sourceOrder));
    MediaStream tiedLow = audio(1, "en", {}, 0, "opus");   // 2000 - 1
    MediaStream tiedHigh = audio(21, "en", {}, 0, "aac");  // 1500 - 21: lower
    EXPECT_TRUE(matcher.ranksBefore(tiedLow, tiedHigh, RemuxStreamRanking::codecQuality));
}

TEST_F(StreamSemanticMatcherTest, SimilarityAddsTitleTechnicalAndFlagAgreement) {
    auto reference = audio(1, "en", "Director Commentary", 2, "aac");
    reference.channelLayout = "stereo";
    // Equal two-word title: 10 + 2 words, plus codec 2, channels 4, both flags 3.
    auto sameTitle = audio(5, "en", "director commentary", 1, "mp3");
    EXPECT_EQ(matcher.similarityScore(sameTitle, reference), 12 + 1 + 2);
    auto sameTechnical = audio(6, "en", "Other", 2, "AAC");
    sameTechnical.channelLayout = "stereo";
    EXPECT_EQ(matcher.similarityScore(sameTechnical, reference), 4 + 3 + 2 + 1 + 2);
    auto repeated = audio(7, "en", "Commentary commentary", 3, "ac3");
    repeated.isDefault = true;
    repeated.isForced = true;
    EXPECT_EQ(matcher.similarityScore(repeated, reference), 1);
}

TEST_F(StreamSemanticMatcherTest, CrossFileMatchFiltersByKindLanguageAndRoles) {
    const std::vector<MediaStream> other{
        stream(0, MediaStreamKind::video, "h264"),
        audio(1, "eng", "Main"),
        audio(2, "eng", "Commentary with director", 2),
        audio(3, "eng", "Commentary with cast and crew", 2),
        audio(4, "fre"),
        stream(5, MediaStreamKind::subtitle, "subrip", "eng"),
        stream(6, MediaStreamKind::subtitle, "subrip", "eng", "SDH"),
    };
    // The title sharing more words wins.
    auto commentary = audio(7, "en", "Cast and crew commentary", 2);
    EXPECT_EQ(matcher.matchingStream(commentary, other)->index, 3);
    // Equal scores: the lower index.
    EXPECT_EQ(matcher.matchingStream(audio(7, "en", "Commentary", 2), other)->index, 2);
    // A main reference prefers main candidates.
    EXPECT_EQ(matcher.matchingStream(audio(1, "eng"), other)->index, 1);
    EXPECT_EQ(
        matcher.matchingStream(stream(2, MediaStreamKind::subtitle, "ass", "en"), other)->index, 5);
    // No candidate of the language, or none with the exact roles.
    EXPECT_FALSE(matcher.matchingStream(audio(1, "ger"), other));
    EXPECT_FALSE(matcher.matchingStream(audio(1, "fre", "Commentary"), other));
    // Without kind candidates.
    const std::vector<MediaStream> audioOnly{audio(0, "en")};
    EXPECT_FALSE(matcher.matchingStream(stream(0, MediaStreamKind::video, "h264"), audioOnly));
    // A main reference whose language has only role-tagged candidates keeps them all.
    const std::vector<MediaStream> onlyCommentary{audio(0, "de", "Commentary"),
                                                  audio(1, "de", "Kommentar Forced")};
    EXPECT_EQ(matcher.matchingStream(audio(9, "de", "Commentary x"), onlyCommentary)->index, 0);
    EXPECT_EQ(matcher.matchingStream(audio(9, "deu"), onlyCommentary)->index, 0);
}

TEST_F(StreamSemanticMatcherTest, ReferenceWithoutLanguageOrTitleNeedsASingleCandidate) {
    const auto video = stream(0, MediaStreamKind::video, "h264");
    const std::vector<MediaStream> oneVideo{stream(0, MediaStreamKind::video, "hevc"),
                                            audio(1, "en")};
    EXPECT_EQ(matcher.matchingStream(video, oneVideo)->index, 0);
    const std::vector<MediaStream> twoVideos{stream(0, MediaStreamKind::video, "hevc"),
                                             stream(1, MediaStreamKind::video, "h264")};
    EXPECT_FALSE(matcher.matchingStream(video, twoVideos));
    // A title is enough to choose.
    EXPECT_EQ(
        matcher.matchingStream(stream(0, MediaStreamKind::video, "h264", {}, "Main"), twoVideos)
            ->index,
        1);
}

TEST_F(StreamSemanticMatcherTest, EqualTitleWeighsAsMuchAsFullTechnicalAgreement) {
    auto reference = audio(0, "en", "Main Mix", 6, "ac3");
    reference.channelLayout = "5.1(side)";
    reference.isDefault = true;
    // Title 10 + 2 shared words; forced agrees (2); everything else differs.
    auto byTitle = audio(2, "en", "main mix", 2, "aac");
    // Channels 4 + layout 3 + codec 2 + both flags 3; one word shared each way.
    auto byTechnical = audio(1, "en", "Main Alt Mix", 6, "AC3");
    byTechnical.channelLayout = "5.1(side)";
    byTechnical.isDefault = true;
    ASSERT_EQ(matcher.similarityScore(byTitle, reference), 12 + 2);
    ASSERT_EQ(matcher.similarityScore(byTechnical, reference), 12 + 2);
    EXPECT_EQ(matcher.matchingStream(reference, {byTitle, byTechnical})->index, 1);
}
