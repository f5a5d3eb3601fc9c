#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/SubtitleCueSegmenter.h"

using namespace tavrolin;

namespace {

TranscriptFragment fragment(std::string text, double start, double end,
                            std::optional<double> confidence = std::nullopt) {
    return TranscriptFragment{std::move(text), start, end, confidence};
}

const SubtitleCueSegmenter workspace{84, 6.0, 1.2};

std::vector<std::string> texts(const std::vector<SubtitleCue>& cues) {
    std::vector<std::string> result;
    for (const auto& cue : cues) {
        result.push_back(cue.text);
    }
    return result;
}

}  // namespace

TEST(SubtitleCueSegmenter, UnusableFragmentsLeaveNoTrace) {
    EXPECT_TRUE(workspace.segment({}).empty());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(workspace
                    .segment({fragment("", 0, 1), fragment(" \t\n\u00A0", 0, 1),
                              fragment("a", 1, 1), fragment("b", -0.5, 1), fragment("c", nan, 1),
                              fragment("d", 0, inf), fragment("e", 2, 1)})
                    .empty());

    const auto cues = workspace.segment({fragment("skip", 3, 3), fragment("one", 0, 0.5),
                                         fragment("neg", -1, 0.2), fragment("two", 0.6, 0.9)});
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].text, "one two");
    EXPECT_EQ(cues[0].startTime, 0);
    EXPECT_EQ(cues[0].endTime, 0.9);
}

TEST(SubtitleCueSegmenter, SortsByStartThenEnd) {
    const auto cues = SubtitleCueSegmenter{84, 6.0, 1.2}.segment(
        {fragment("third", 2, 2.5), fragment("long", 1, 1.8), fragment("short", 1, 1.2),
         fragment("first", 0, 0.5)});
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].text, "first short long third");
}

TEST(SubtitleCueSegmenter, GapAndDurationLimitsWithWorkspaceValues) {
    // 1.0 s of silence joins, 1.5 s starts a new cue.
    EXPECT_EQ(texts(workspace.segment({fragment("a", 0, 1), fragment("b", 2, 2.5)})),
              (std::vector<std::string>{"a b"}));
    EXPECT_EQ(texts(workspace.segment({fragment("a", 0, 1), fragment("b", 2.5, 3)})),
              (std::vector<std::string>{"a", "b"}));
    // A fragment that would make the cue span 6.5 s starts a new cue.
    EXPECT_EQ(texts(workspace.segment(
                  {fragment("a", 0, 2), fragment("b", 2.5, 4.5), fragment("c", 5, 6.5)})),
              (std::vector<std::string>{"a b", "c"}));
}

TEST(SubtitleCueSegmenter, EachLimitAdmitsItsOwnValue) {
    // Limits and times exact in binary, so "equal" really is equal.
    const SubtitleCueSegmenter segmenter{10, 4.0, 0.5};
    EXPECT_EQ(texts(segmenter.segment({fragment("a", 0, 1), fragment("b", 1.5, 2)})),
              (std::vector<std::string>{"a b"}));
    EXPECT_EQ(texts(segmenter.segment({fragment("a", 0, 1), fragment("b", 1.5625, 2)})),
              (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(texts(segmenter.segment({fragment("a", 0, 1), fragment("b", 1.25, 4)})),
              (std::vector<std::string>{"a b"}));
    EXPECT_EQ(texts(segmenter.segment({fragment("a", 0, 1), fragment("b", 1.25, 4.0625)})),
              (std::vector<std::string>{"a", "b"}));
    // "abcd efghi" is exactly 10 characters; one more letter closes the cue.
    EXPECT_EQ(texts(segmenter.segment({fragment("abcd", 0, 0.25), fragment("efghi", 0.25, 0.5)})),
              (std::vector<std::string>{"abcd efghi"}));
    EXPECT_EQ(texts(segmenter.segment({fragment("abcd", 0, 0.25), fragment("efghij", 0.25, 0.5)})),
              (std::vector<std::string>{"abcd", "efghij"}));
}

TEST(SubtitleCueSegmenter, CountsCharactersAsGraphemeClusters) {
    const std::string thumbs = "\U0001F44D\U0001F3FD\U0001F44D\U0001F3FD";  // 2 characters
    const SubtitleCueSegmenter segmenter{5, 6.0, 1.2};
    EXPECT_EQ(segmenter.segment({fragment(thumbs, 0, 0.25), fragment(thumbs, 0.25, 0.5)}).size(),
              1u);
    EXPECT_EQ(
        segmenter.segment({fragment(thumbs, 0, 0.25), fragment(thumbs + "e\u0301", 0.25, 0.5)})
            .size(),
        2u);
}

TEST(SubtitleCueSegmenter, OverlongFragmentFormsItsOwnCue) {
    const std::string hundred(100, 'x');
    const auto cues = workspace.segment({fragment(hundred, 0, 1), fragment("next", 1.1, 1.3)});
    EXPECT_EQ(texts(cues), (std::vector<std::string>{hundred, "next"}));
}

TEST(SubtitleCueSegmenter, CleansTextAndAttachesPunctuation) {
    EXPECT_EQ(texts(workspace.segment({fragment("Hello", 0, 0.2), fragment(".", 0.2, 0.3),
                                       fragment("world", 0.3, 0.5), fragment("!", 0.5, 0.6)})),
              (std::vector<std::string>{"Hello. world!"}));
    EXPECT_EQ(texts(workspace.segment({fragment("so ,", 0, 0.2), fragment("then", 0.2, 0.4)})),
              (std::vector<std::string>{"so, then"}));
    EXPECT_EQ(texts(workspace.segment({fragment(" a\t b  c ", 0, 0.2), fragment("?", 0.2, 0.3),
                                       fragment(";", 0.3, 0.4), fragment(":", 0.4, 0.5)})),
              (std::vector<std::string>{"a b c?;:"}));
    // Only the listed marks attach.
    EXPECT_EQ(texts(workspace.segment({fragment("wait", 0, 0.2), fragment("-", 0.2, 0.3)})),
              (std::vector<std::string>{"wait -"}));
}

TEST(SubtitleCueSegmenter, SentenceEndClosesOnlyAfterMinimumSpan) {
    // 0.8 s with a full stop stays open.
    EXPECT_EQ(texts(workspace.segment({fragment("Hi.", 0, 0.8), fragment("There", 0.9, 1.2)})),
              (std::vector<std::string>{"Hi. There"}));
    // 2.0 s closes; the next fragment starts a new cue although it would fit.
    EXPECT_EQ(texts(workspace.segment({fragment("Hello.", 0, 2), fragment("There", 2.1, 2.4)})),
              (std::vector<std::string>{"Hello.", "There"}));
    // Exactly 1.2 s is enough; "!", "?" and "…" end sentences too, "," does not.
    EXPECT_EQ(texts(workspace.segment({fragment("Yes!", 0, 1.2), fragment("b", 1.3, 1.4)})),
              (std::vector<std::string>{"Yes!", "b"}));
    EXPECT_EQ(texts(workspace.segment({fragment("Well\u2026", 0, 2), fragment("b", 2, 2.1)})),
              (std::vector<std::string>{"Well\u2026", "b"}));
    EXPECT_EQ(texts(workspace.segment(
                  {fragment("Why", 0, 1), fragment("?", 1, 1.5), fragment("b", 1.5, 1.6)})),
              (std::vector<std::string>{"Why?", "b"}));
    EXPECT_EQ(texts(workspace.segment({fragment("So,", 0, 2), fragment("b", 2, 2.1)})),
              (std::vector<std::string>{"So, b"}));
}

TEST(SubtitleCueSegmenter, NumbersCuesAndWeighsConfidenceByDuration) {
    const auto cues = workspace.segment({fragment("c", 10, 11, 0.2), fragment("a", 0, 3, 0.9),
                                         fragment("b", 3, 4, 0.5), fragment("d", 20, 21)});
    ASSERT_EQ(cues.size(), 3u);
    EXPECT_EQ(cues[0].id, 1);
    EXPECT_EQ(cues[1].id, 2);
    EXPECT_EQ(cues[2].id, 3);
    EXPECT_EQ(cues[0].text, "a b");
    ASSERT_TRUE(cues[0].confidence);
    EXPECT_DOUBLE_EQ(*cues[0].confidence, 0.8);
    EXPECT_DOUBLE_EQ(*cues[1].confidence, 0.2);
    EXPECT_FALSE(cues[2].confidence);

    // Fragments without confidence do not count; tiny fragments weigh at least 1 ms.
    const auto mixed =
        workspace.segment({fragment("a", 0, 0.0001, 1.0), fragment("b", 0.0001, 0.0011, 0.0),
                           fragment("c", 0.0011, 0.5)});
    ASSERT_EQ(mixed.size(), 1u);
    EXPECT_DOUBLE_EQ(*mixed[0].confidence, 0.5);

    const auto notANumber = workspace.segment(
        {fragment("a", 0, 1, std::numeric_limits<double>::quiet_NaN()), fragment("b", 1, 2, 0.25)});
    EXPECT_DOUBLE_EQ(*notANumber[0].confidence, 0.25);
}
