#include "engine/PreviewProbeParser.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "engine/FFmpegPreviewCommandBuilder.h"
#include "engine/PreviewPreparationError.h"

using namespace tavrolin;

TEST(PreviewProbeParserTest, ReadsTheFirstVideoCodecAndTheDuration) {
    const PreviewProbeParser parser;
    EXPECT_EQ(
        parser.parse(R"({"programs":[],"streams":[{"codec_name":"hevc"},{"codec_name":"h264"}],
                              "format":{"duration":"3.040000","size":"1"}})"),
        (PreviewProbeResult{3.04, "hevc"}));
    EXPECT_EQ(
        parser.parse(R"({"streams":[{"codec_name":"vp9","index":0}],"format":{"duration":"1e1"}})"),
        (PreviewProbeResult{10.0, "vp9"}));
}

TEST(PreviewProbeParserTest, NumbersAreReadTheSameUnderADecimalCommaLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    }
    const auto result = PreviewProbeParser().parse(
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"2.5"}})");
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(result.duration, 2.5);
}

TEST(PreviewProbeParserTest, UnusableAnswersAreInspectionFailures) {
    const std::vector<std::string> documents{
        "",
        "not json",
        "[]",
        R"({"format":{"duration":"3.0"}})",                                  // no streams key
        R"({"streams":[],"format":{"duration":"3.0"}})",                     // no video stream
        R"({"streams":[{"codec_name":"h264"}]})",                            // no format
        R"({"streams":[{"codec_name":"h264"}],"format":{}})",                // no duration
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":3.0}})",  // not a text
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"N/A"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"0"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"0.000000"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"-2.0"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":" 3.0"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"3.0s"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"inf"}})",
        R"({"streams":[{"codec_name":"h264"}],"format":{"duration":"nan"}})",
        R"({"streams":[{"index":0}],"format":{"duration":"3.0"}})",  // no codec_name
        R"({"streams":[{"codec_name":7}],"format":{"duration":"3.0"}})",
        R"({"streams":{"codec_name":"h264"},"format":{"duration":"3.0"}})",
    };
    for (const auto& document : documents) {
        SCOPED_TRACE(document);
        try {
            PreviewProbeParser().parse(document);
            ADD_FAILURE() << "parsed";
        } catch (const PreviewPreparationError& error) {
            EXPECT_EQ(error.errorCase(), PreviewPreparationError::Case::inspectionFailed);
            EXPECT_STREQ(error.what(),
                         "The source could not be inspected for preview compatibility.");
        }
    }
}

TEST(PreviewProbeParserTest, GenerationFailureFallsBackToAFixedText) {
    EXPECT_STREQ(PreviewPreparationError::generationFailed("").what(),
                 "A compatible local preview could not be generated.");
    EXPECT_STREQ(PreviewPreparationError::generationFailed("line 1\nline 2").what(),
                 "line 1\nline 2");
}

TEST(PreviewCommandBuilderTest, AttemptsCopyTheVideoAndTagHevc) {
    const FFmpegPreviewCommandBuilder builder;
    EXPECT_EQ(builder.probeArguments("/m/a b.mkv"),
              (std::vector<std::string>{"-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "format=duration:stream=codec_name", "-of", "json",
                                        "/m/a b.mkv"}));
    EXPECT_EQ(builder.attemptArguments(1, "/m/a b.mkv", "/p/X.mp4", "hevc"),
              (std::vector<std::string>{
                  "-nostdin",  "-hide_banner", "-n",      "-nostats", "-progress", "pipe:1",
                  "-i",        "/m/a b.mkv",   "-map",    "0:v:0",    "-map",      "0:a:0?",
                  "-c",        "copy",         "-tag:v",  "hvc1",     "-sn",       "-dn",
                  "-movflags", "+faststart",   "/p/X.mp4"}));
    EXPECT_EQ(builder.attemptArguments(2, "/m/a.mkv", "/p/X.mp4", "h264"),
              (std::vector<std::string>{
                  "-nostdin", "-hide_banner", "-n",        "-nostats",   "-progress", "pipe:1",
                  "-i",       "/m/a.mkv",     "-map",      "0:v:0",      "-map",      "0:a:0?",
                  "-c:v",     "copy",         "-c:a",      "aac",        "-b:a",      "192k",
                  "-sn",      "-dn",          "-movflags", "+faststart", "/p/X.mp4"}));
    EXPECT_EQ(builder.attemptArguments(3, "/m/a.mkv", "/p/X.mp4", "HEVC"),
              (std::vector<std::string>{"-nostdin", "-hide_banner", "-n", "-nostats", "-progress",
                                        "pipe:1", "-i", "/m/a.mkv", "-map", "0:v:0", "-c", "copy",
                                        "-sn", "-dn", "-movflags", "+faststart", "/p/X.mp4"}));
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const auto hevc = builder.attemptArguments(attempt, "/a", "/b", "hevc");
        EXPECT_NE(std::find(hevc.begin(), hevc.end(), "hvc1"), hevc.end());
        const auto h264 = builder.attemptArguments(attempt, "/a", "/b", "h264");
        EXPECT_EQ(std::find(h264.begin(), h264.end(), "-tag:v"), h264.end());
    }
    EXPECT_THROW(builder.attemptArguments(4, "/a", "/b", "h264"), std::invalid_argument);
}
