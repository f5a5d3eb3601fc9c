#include <gtest/gtest.h>

#include "model/TextMetrics.h"
#include "model/Transcription.h"

using namespace tavrolin;

namespace {

TranscriptConversation conversationOf(const std::vector<std::string>& texts) {
    TranscriptConversation conversation;
    conversation.id = 1;
    conversation.ordinal = 1;
    std::int64_t id = 1;
    double time = 0;
    for (const auto& text : texts) {
        conversation.cues.push_back(SubtitleCue{id++, time, time + 1, text, 0.5});
        time += 1;
    }
    return conversation;
}

const std::string thumbsUp = "\U0001F44D\U0001F3FD";  // with a skin-tone modifier
const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // one ZWJ sequence

}  // namespace

TEST(ConversationPreview, UpTo118CharactersIsShownWhole) {
    const std::string text118(118, 'a');
    EXPECT_EQ(conversationOf({text118}).previewText(), text118);

    // Two cues joined with one space: 60 + 1 + 57.
    EXPECT_EQ(conversationOf({std::string(60, 'b'), std::string(57, 'c')}).previewText(),
              std::string(60, 'b') + " " + std::string(57, 'c'));
}

TEST(ConversationPreview, LongerTextKeeps117CharactersAndAnEllipsis) {
    for (std::size_t length : {119, 120, 121, 500}) {
        SCOPED_TRACE(length);
        const std::string preview = conversationOf({std::string(length, 'a')}).previewText();
        EXPECT_EQ(preview, std::string(117, 'a') + "\u2026");
        EXPECT_EQ(graphemeCount(preview), 118u);
    }
}

TEST(ConversationPreview, CountsEmojiAndAccentsAsOneCharacterAndNeverCutsThem) {
    // 117 letters and one emoji sequence of five code points: 118 characters, shown whole.
    const std::string whole = std::string(117, 'x') + family;
    EXPECT_EQ(conversationOf({whole}).previewText(), whole);

    // 116 letters, then emoji: the 117th character is a whole emoji with its modifier.
    std::string longer = std::string(116, 'x');
    for (int i = 0; i < 5; ++i) {
        longer += thumbsUp;
    }
    EXPECT_EQ(conversationOf({longer}).previewText(), std::string(116, 'x') + thumbsUp + "\u2026");

    // "e" with a combining acute accent is one character.
    std::string accents;
    for (int i = 0; i < 121; ++i) {
        accents += "e\u0301";
    }
    std::string expected;
    for (int i = 0; i < 117; ++i) {
        expected += "e\u0301";
    }
    EXPECT_EQ(conversationOf({accents}).previewText(), expected + "\u2026");
}

TEST(ConversationPreview, WhiteSpaceCollapsesToSingleSpaces) {
    EXPECT_EQ(conversationOf({"  Hello\n\nthere\t", "\u00A0how\u2028are   you  "}).previewText(),
              "Hello there how are you");
    EXPECT_EQ(conversationOf({" ", "\n\t", "\u3000"}).previewText(), "");
    EXPECT_EQ(conversationOf({}).previewText(), "");
    // Collapsing happens before counting: 177 characters with doubled spaces become 117.
    std::string spaced;
    for (int i = 0; i < 59; ++i) {
        spaced += "a  ";
    }
    EXPECT_EQ(conversationOf({spaced}).previewText(), collapseWhitespace(spaced));
}

TEST(ConversationFingerprint, FollowsTextTimesAndIdsButNotConfidence) {
    const auto base = conversationOf({"one", "two"});
    const auto fingerprint = base.contentFingerprint();
    EXPECT_EQ(fingerprint, conversationOf({"one", "two"}).contentFingerprint());

    auto changed = base;
    changed.cues[1].text = "too";
    EXPECT_NE(changed.contentFingerprint(), fingerprint);
    changed = base;
    changed.cues[0].startTime = 0.001;
    EXPECT_NE(changed.contentFingerprint(), fingerprint);
    changed = base;
    changed.cues[1].endTime += 1;
    EXPECT_NE(changed.contentFingerprint(), fingerprint);
    changed = base;
    changed.cues[0].id = 9;
    EXPECT_NE(changed.contentFingerprint(), fingerprint);
    changed = base;
    std::swap(changed.cues[0].text, changed.cues[1].text);
    EXPECT_NE(changed.contentFingerprint(), fingerprint);

    changed = base;
    changed.cues[0].confidence = std::nullopt;
    changed.cues[1].confidence = 0.99;
    changed.ordinal = 7;
    changed.startTime = 100;
    EXPECT_EQ(changed.contentFingerprint(), fingerprint);
}

TEST(ConversationFingerprint, NegativeZeroIsZeroAndTextBoundariesMatter) {
    auto positive = conversationOf({"a"});
    auto negative = positive;
    negative.cues[0].startTime = -0.0;
    positive.cues[0].startTime = 0.0;
    EXPECT_EQ(negative.contentFingerprint(), positive.contentFingerprint());

    // The same letters split differently between cues are different content.
    auto ab = conversationOf({"ab", "c"});
    auto ac = conversationOf({"a", "bc"});
    EXPECT_NE(ab.contentFingerprint(), ac.contentFingerprint());
}

TEST(TranscriptionValues, SearchResultIdentityAndCueEquality) {
    const Uuid source = Uuid::random();
    BatchTranscriptSearchResult result{source, "/m/a.mkv", SubtitleCue{12, 1, 2, "x", {}}};
    EXPECT_EQ(result.id(), source.toString() + "-12");

    const SubtitleCue withConfidence{1, 0, 1, "x", 0.5};
    SubtitleCue without = withConfidence;
    without.confidence = std::nullopt;
    EXPECT_NE(withConfidence, without);

    EXPECT_NE(TranscriptionProgress::transcribing(0.5), TranscriptionProgress::transcribing({}));
    EXPECT_NE(TranscriptionProgress::preparingAudio(0.5), TranscriptionProgress::transcribing(0.5));
    EXPECT_EQ(TranscriptionProgress::preparingLanguageModel(),
              TranscriptionProgress::preparingLanguageModel());
    EXPECT_NE(BatchTranscriptionSourceStatus::failed("a"),
              BatchTranscriptionSourceStatus::failed("b"));
    EXPECT_EQ(ConversationSummaryAvailability::unavailable("m"),
              ConversationSummaryAvailability::unavailable("m"));
    EXPECT_NE(ConversationSummaryAvailability::available(),
              ConversationSummaryAvailability::unavailable(""));
    EXPECT_STREQ(fileExtension(SubtitleFileFormat::srt), "srt");
    EXPECT_STREQ(fileExtension(SubtitleFileFormat::webVTT), "vtt");

    const TranscriptionLocale us{"en-US", "English (United States)"};
    EXPECT_EQ(
        std::hash<TranscriptionLocale>{}(us),
        std::hash<TranscriptionLocale>{}(TranscriptionLocale{"en-US", "English (United States)"}));
    EXPECT_NE(us, (TranscriptionLocale{"en-US", "English"}));
}

TEST(TranscriptionErrors, DescriptionsAreTheUserMessages) {
    EXPECT_STREQ(TranscriptionError::invalidCues("Cue 3 is wrong.").what(), "Cue 3 is wrong.");
    EXPECT_EQ(TranscriptionError::invalidCues("x").errorCase(),
              TranscriptionError::Case::invalidCues);
    EXPECT_STREQ(TranscriptionError::audioExtractionFailed("no audio").what(), "no audio");
    EXPECT_STREQ(TranscriptionError::invalidChapters("bad").what(), "bad");
    EXPECT_STREQ(TranscriptionError::noSpeech().what(),
                 "No recognizable speech was found in the selected audio track.");
    EXPECT_STREQ(TranscriptionError::outputExists().what(),
                 "A file already exists at that location. Choose a new filename.");
    EXPECT_STREQ(TranscriptionError::unsupportedHardware().what(),
                 "Audio transcription is not available on this computer.");
    EXPECT_STREQ(TranscriptionError::unsupportedLanguage().what(),
                 "The selected language is not supported by the on-device transcriber.");
    EXPECT_EQ(TranscriptionError::outputExists().errorCase(),
              TranscriptionError::Case::outputExists);
}
