#include <gtest/gtest.h>

#include <string>

#include "probe/FFprobeChapterParser.h"
#include "probe/FFprobeDurationParser.h"
#include "probe/MediaProbeError.h"

namespace {

using tavrolin::ChapterMarker;
using tavrolin::FFprobeChapterParser;
using tavrolin::FFprobeDurationParser;
using tavrolin::MediaProbeError;

std::vector<ChapterMarker> chapters(const std::string& elements) {
    return FFprobeChapterParser{}.parse(R"({"chapters":[)" + elements + "]}");
}

std::string untitled(const std::string& start) {
    return R"({"start_time":")" + start + R"("})";
}

TEST(FFprobeChapterParserTest, SkipsUnusableStartsAndNumbersByDocumentPosition) {
    auto result = chapters(untitled("12.5") + "," + untitled("N/A") + "," + untitled("-1.0") + "," +
                           untitled("0.0"));
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].startTime, 0.0);
    EXPECT_EQ(result[0].title, "Chapter 4");
    EXPECT_EQ(result[1].startTime, 12.5);
    EXPECT_EQ(result[1].title, "Chapter 1");
    EXPECT_NE(result[0].id, result[1].id);
}

TEST(FFprobeChapterParserTest, StartTextsFollowThePosixNumberGrammar) {
    struct Case {
        const char* text;
        std::optional<double> start;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"+2", 2.0}, {"1e1", 10.0},    {"1E+1", 10.0},  {".5", 0.5}, {"5.", 5.0},
             {"-0", 0.0}, {"007", 7.0},     {"1e-400", 0.0}, {"inf", {}}, {"-inf", {}},
             {"nan", {}}, {"infinity", {}}, {"1e400", {}},   {" 5", {}},  {"5 ", {}},
             {"5s", {}},  {"5\\n", {}},     {"", {}},        {"+", {}},   {"+-1", {}},
             {"--1", {}}, {"0x10", {}},     {"1,5", {}},     {"e5", {}},  {"1e", {}},
             {"N/A", {}}, {"\u0665", {}},   {"1.5.2", {}},
         }) {
        auto result = chapters(untitled(c.text));
        if (c.start) {
            ASSERT_EQ(result.size(), 1u) << c.text;
            EXPECT_EQ(result[0].startTime, *c.start) << c.text;
        } else {
            EXPECT_TRUE(result.empty()) << c.text;
        }
    }
}

TEST(FFprobeChapterParserTest, TitlesAreTrimmedAndEqualStartsKeepDocumentOrder) {
    auto result = chapters(R"(
        {"start_time":"3.0","tags":{"title":"  Intro \n"}},
        {"start_time":"3.0","tags":{"title":" \t "}},
        {"start_time":"3.0","tags":{"title":"\u3000\u00a0Outro\u2029"}},
        {"start_time":"1.0","tags":{"title":null}},
        {"start_time":"2.0","tags":{"other":"x"}},
        {"start_time":"3.0","tags":{"title":"Mid dle"}})");
    ASSERT_EQ(result.size(), 6u);
    EXPECT_EQ(result[0].title, "Chapter 4");
    EXPECT_EQ(result[1].title, "Chapter 5");
    EXPECT_EQ(result[2].title, "Intro");
    EXPECT_EQ(result[3].title, "Chapter 2");
    EXPECT_EQ(result[4].title, "Outro");
    EXPECT_EQ(result[5].title, "Mid dle");
}

TEST(FFprobeChapterParserTest, DocumentShapes) {
    EXPECT_TRUE(FFprobeChapterParser{}.parse("{}").empty());
    EXPECT_TRUE(FFprobeChapterParser{}.parse(R"({"chapters":null})").empty());
    EXPECT_TRUE(FFprobeChapterParser{}.parse(R"({"chapters":[]})").empty());
    for (const std::string& text : {
             std::string(R"({"chapters":[{"start_time":1.5}]})"),
             std::string(R"({"chapters":[{"tags":{"title":"x"}}]})"),
             std::string(R"({"chapters":[{"start_time":"1","tags":{"title":1}}]})"),
             std::string(R"({"chapters":[{"start_time":"N/A","tags":"x"}]})"),
             std::string(R"({"chapters":{}})"),
             std::string(R"({"chapters":[1]})"),
             std::string("[]"),
             std::string(""),
         }) {
        EXPECT_THROW(FFprobeChapterParser{}.parse(text), MediaProbeError) << text;
    }
}

TEST(FFprobeDurationParserTest, TakesTheLongestUsableCandidate) {
    FFprobeDurationParser parser;
    EXPECT_EQ(parser.parse(R"({"format":{"duration":"N/A"},
        "streams":[{"duration":"12.5"},{"duration":"13.0"},{}]})"),
              13.0);
    EXPECT_EQ(parser.parse(R"({"format":{"duration":"10.0"},"streams":[{"duration":"12"}]})"),
              12.0);
    EXPECT_EQ(parser.parse(R"({"format":{"duration":"10.0"},"streams":[{"duration":"3"}]})"), 10.0);
    EXPECT_EQ(parser.parse(R"({"format":{"duration":"0"}})"), std::nullopt);
    EXPECT_EQ(parser.parse(R"({"format":{"duration":"inf"},"streams":[{"duration":"-4"},
        {"duration":"nan"},{"duration":" 5"},{"duration":"1e400"},{"duration":null}]})"),
              std::nullopt);
    EXPECT_EQ(parser.parse("{}"), std::nullopt);
    EXPECT_EQ(parser.parse(R"({"format":{},"streams":null})"), std::nullopt);
    EXPECT_EQ(parser.parse(R"({"streams":[{"duration":"+2.5e0"}]})"), 2.5);
}

TEST(FFprobeDurationParserTest, WrongShapesAreInvalid) {
    for (const char* text :
         {R"({"format":{"duration":3.0}})", R"({"format":[]})", R"({"streams":{"duration":"3"}})",
          R"({"streams":["3"]})", R"({"streams":[{"duration":3}]})", "null", "{", ""}) {
        try {
            FFprobeDurationParser{}.parse(text);
            ADD_FAILURE() << "parsed: " << text;
        } catch (const MediaProbeError& error) {
            EXPECT_EQ(error.errorCase(), MediaProbeError::Case::invalidResponse) << text;
        }
    }
}

}  // namespace
