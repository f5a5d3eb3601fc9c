#include <gtest/gtest.h>

#include <fstream>
#include <limits>

#include "engine/SubtitleDocumentRenderer.h"
#include "model/Transcription.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;

namespace {

SubtitleCue cue(std::int64_t id, double start, double end, std::string text) {
    return SubtitleCue{id, start, end, std::move(text), std::nullopt};
}

std::string srt(const std::vector<SubtitleCue>& cues) {
    return SubtitleDocumentRenderer{}.render(cues, SubtitleFileFormat::srt);
}

std::string vtt(const std::vector<SubtitleCue>& cues) {
    return SubtitleDocumentRenderer{}.render(cues, SubtitleFileFormat::webVTT);
}

// The TranscriptionError that rendering throws, as case and message.
std::pair<TranscriptionError::Case, std::string> failure(const std::vector<SubtitleCue>& cues) {
    try {
        srt(cues);
    } catch (const TranscriptionError& error) {
        return {error.errorCase(), error.what()};
    }
    ADD_FAILURE() << "rendering succeeded";
    return {};
}

const std::vector<SubtitleCue> twoCues{cue(7, 1, 3.5, "Hello there."),
                                       cue(8, 4.25, 6, "How are you?")};

const std::string validTimes = "Every subtitle cue needs a valid start and end time.";

}  // namespace

TEST(SubtitleDocumentRenderer, WritesTheSubRipAndWebVTTExamples) {
    EXPECT_EQ(srt(twoCues),
              "1\n00:00:01,000 --> 00:00:03,500\nHello there.\n\n"
              "2\n00:00:04,250 --> 00:00:06,000\nHow are you?\n");
    EXPECT_EQ(vtt(twoCues),
              "WEBVTT\n\n"
              "00:00:01.000 --> 00:00:03.500\nHello there.\n\n"
              "00:00:04.250 --> 00:00:06.000\nHow are you?\n");
}

TEST(SubtitleDocumentRenderer, StampsRoundHalvesUpAndHoursGrow) {
    EXPECT_EQ(srt({cue(1, 3725.5, 3726, "x")}), "1\n01:02:05,500 --> 01:02:06,000\nx\n");
    EXPECT_EQ(vtt({cue(1, 3725.5, 3726, "x")}), "WEBVTT\n\n01:02:05.500 --> 01:02:06.000\nx\n");
    EXPECT_EQ(srt({cue(1, 0.0004, 0.0005, "x")}), "1\n00:00:00,000 --> 00:00:00,001\nx\n");
    EXPECT_EQ(srt({cue(1, 359999.999, 360000, "x")}), "1\n99:59:59,999 --> 100:00:00,000\nx\n");
    EXPECT_EQ(srt({cue(1, -0.0, 0.25, "x")}), "1\n00:00:00,000 --> 00:00:00,250\nx\n");
}

TEST(SubtitleDocumentRenderer, NumbersBlocksByPositionNotId) {
    const std::string document = srt({cue(42, 0, 1, "a"), cue(3, 1, 2, "b")});
    EXPECT_EQ(document,
              "1\n00:00:00,000 --> 00:00:01,000\na\n\n2\n00:00:01,000 --> "
              "00:00:02,000\nb\n");
}

TEST(SubtitleDocumentRenderer, NormalisesLineBreaksAndDropsEmptyLines) {
    const std::string text =
        "  one\r\ntwo\rthree\u2028four\u2029five\u0085six\vseven\feight\n\n"
        "  \n\u00A0\nnine  \n";
    const std::string lines = "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine";
    EXPECT_EQ(srt({cue(1, 0, 1, text)}), "1\n00:00:00,000 --> 00:00:01,000\n" + lines + "\n");
    EXPECT_EQ(vtt({cue(1, 0, 1, text)}),
              "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\n" + lines + "\n");
}

TEST(SubtitleDocumentRenderer, EscapesMarkupCharactersInWebVTTOnly) {
    const auto cues = std::vector<SubtitleCue>{cue(1, 0, 1, "Tom & Jerry <3 --> a>b &amp;")};
    EXPECT_EQ(vtt(cues),
              "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\n"
              "Tom &amp; Jerry &lt;3 --&gt; a&gt;b &amp;amp;\n");
    EXPECT_EQ(srt(cues), "1\n00:00:00,000 --> 00:00:01,000\nTom & Jerry <3 --\u2060> a>b &amp;\n");
}

// Text that would change the cue list or be cut short by a reader, and a cue too short to write.
TEST(SubtitleDocumentRenderer, TextNeverEndsOrStartsACue) {
    struct Row {
        std::string name;
        SubtitleCue given;
        std::string subRipText;  // none expected: the cue is refused
    };
    const std::vector<Row> rows{
        {"timing line", cue(1, 0, 1, "00:00:05,000 --> 00:00:06,000"),
         "00:00:05,000 --\u2060> 00:00:06,000"},
        {"arrows", cue(1, 0, 1, "a--->b -- > c"), "a---\u2060>b -- > c"},
        {"NUL bytes", cue(1, 0, 1, std::string("cut\0 here\0", 11)), "cut here"},
        {"only a NUL", cue(1, 0, 1, std::string("\0", 1)), ""},
        {"NUL inside a next-line", cue(1, 0, 1, std::string("one\xC2\0\x85two", 9)), "one\ntwo"},
        {"NUL inside a line separator", cue(1, 0, 1, std::string("a\xE2\0\x80\xA8", 5) + "b"),
         "a\nb"},
        {"shorter than a millisecond", cue(1, 1, 1.0004, "x"), ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.subRipText.empty()) {
            EXPECT_EQ(failure({row.given}).first, TranscriptionError::Case::invalidCues);
            continue;
        }
        EXPECT_EQ(srt({row.given}), "1\n00:00:00,000 --> 00:00:01,000\n" + row.subRipText + "\n");
    }
}

TEST(SubtitleDocumentRenderer, ValidationFailuresInListOrder) {
    using Case = TranscriptionError::Case;
    EXPECT_EQ(failure({}),
              std::make_pair(
                  Case::noSpeech,
                  std::string("No recognizable speech was found in the selected audio track.")));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& bad :
         {cue(1, -1, 1, "x"), cue(1, 1, 1, "x"), cue(1, 2, 1, "x"), cue(1, nan, 1, "x"),
          cue(1, 0, inf, "x"), cue(1, 1e16, 2.5, "x"), cue(1, 0, 1e16, "x")}) {
        EXPECT_EQ(failure({bad}), std::make_pair(Case::invalidCues, validTimes));
    }
    EXPECT_EQ(
        failure({cue(1, 0, 2, "a"), cue(2, 1.5, 3, "b")}),
        std::make_pair(Case::invalidCues,
                       std::string("Subtitle cue times cannot overlap or run out of order.")));
    EXPECT_EQ(failure({cue(1, 0, 2, "a"), cue(2, 2, 3, " \n\t")}),
              std::make_pair(Case::invalidCues, std::string("Subtitle cue text cannot be empty.")));
    // The first failure in list order wins: the overlap comes before the bad time.
    EXPECT_EQ(failure({cue(1, 0, 2, "a"), cue(2, 1, 3, "b"), cue(3, -1, 0, "c")}).second,
              "Subtitle cue times cannot overlap or run out of order.");
    // A cue may start exactly where the previous one ends.
    EXPECT_NO_THROW(srt({cue(1, 0, 2, "a"), cue(2, 2, 3, "b")}));
}

class SubtitleRoundTrip : public ::testing::TestWithParam<SubtitleFileFormat> {};

// ffmpeg reads the document, muxes it into Matroska, and gives back the same times and text.
TEST_P(SubtitleRoundTrip, FfmpegReadsBackTimesAndText) {
    const SubtitleFileFormat format = GetParam();
    const bool isWebVTT = format == SubtitleFileFormat::webVTT;
    // SubRip has no escape for "<", which its readers take for markup; only WebVTT carries it.
    const std::string special = isWebVTT ? "Tom & Jerry <3 a>b" : "Tom & Jerry = 3; #2";
    const std::vector<SubtitleCue> cues{cue(1, 0.5, 1.25, special + "\r\n\r\nsecond line"),
                                        cue(2, 1.25, 2.0005, "Caf\u00E9 \U0001F3AC"),
                                        cue(3, 2.5, 2.9, std::string("Bye.\0!", 6)),
                                        cue(4, 2.9, 2.95, "00:00:05,000 --> 00:00:06,000")};
    tavtest::TempDir dir;
    const auto document = dir / (isWebVTT ? "in.vtt" : "in.srt");
    std::ofstream(document, std::ios::binary) << SubtitleDocumentRenderer{}.render(cues, format);
    const auto output = dir / "out.mkv";
    ASSERT_EQ(tavtest::runTool({"ffmpeg",
                                "-nostdin",
                                "-hide_banner",
                                "-loglevel",
                                "error",
                                "-f",
                                "lavfi",
                                "-t",
                                "3",
                                "-i",
                                "anullsrc=r=8000:cl=mono",
                                "-i",
                                document.string(),
                                "-map",
                                "0:a",
                                "-map",
                                "1:s",
                                "-c:a",
                                "pcm_s16le",
                                "-c:s",
                                "copy",
                                output.string()}),
              0);
    std::string readBack;
    ASSERT_EQ(tavtest::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i",
                                output.string(), "-map", "0:s:0", "-f", "srt", "-"},
                               &readBack),
              0);
    // ffmpeg's SubRip writer ends inner lines with CR LF.
    std::erase(readBack, '\r');
    EXPECT_EQ(readBack, "1\n00:00:00,500 --> 00:00:01,250\n" + special +
                            "\nsecond line\n\n"
                            "2\n00:00:01,250 --> 00:00:02,001\nCaf\u00E9 \U0001F3AC\n\n"
                            "3\n00:00:02,500 --> 00:00:02,900\nBye.!\n\n"
                            "4\n00:00:02,900 --> 00:00:02,950\n00:00:05,000 --" +
                            (isWebVTT ? "" : "\u2060") + "> 00:00:06,000\n\n");
}

INSTANTIATE_TEST_SUITE_P(BothFormats, SubtitleRoundTrip,
                         ::testing::Values(SubtitleFileFormat::srt, SubtitleFileFormat::webVTT),
                         [](const auto& info) {
                             return info.param == SubtitleFileFormat::srt ? "SubRip" : "WebVTT";
                         });
