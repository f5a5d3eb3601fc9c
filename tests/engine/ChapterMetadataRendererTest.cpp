#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <tuple>

#include "engine/ChapterMetadataRenderer.h"
#include "model/MediaProcessingError.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;

namespace {

ChapterMarker marker(double start, std::string title) {
    return ChapterMarker{Uuid::random(), start, std::move(title)};
}

std::string render(const std::vector<ChapterMarker>& chapters, double duration) {
    return ChapterMetadataRenderer{}.render(chapters, duration);
}

// The message of the invalidRequest that rendering throws, or "" when it succeeds.
std::string failure(const std::vector<ChapterMarker>& chapters, double duration) {
    try {
        render(chapters, duration);
    } catch (const MediaProcessingError& error) {
        EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::invalidRequest);
        return error.what();
    }
    return "";
}

std::string block(const std::string& start, const std::string& end, const std::string& title) {
    return "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + start + "\nEND=" + end + "\ntitle=" + title +
           "\n";
}

const std::string durationMessage =
    "Tavrolin could not determine the source duration needed to write chapters.";
const std::string orderMessage = "Chapter markers must have distinct, increasing times.";
const std::string endMessage = "Every chapter marker must be earlier than the end of the source.";

}  // namespace

TEST(ChapterMetadataRenderer, WritesTheTwoChapterExample) {
    EXPECT_EQ(render({marker(0, "Intro"), marker(65.432, "Part 2")}, 120.5),
              ";FFMETADATA1\n"
              "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=65432\ntitle=Intro\n"
              "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=65432\nEND=120500\ntitle=Part 2\n");
}

TEST(ChapterMetadataRenderer, OrdersMarkersAndChainsTheirEnds) {
    EXPECT_EQ(render({marker(0, "Only")}, 10), ";FFMETADATA1\n" + block("0", "10000", "Only"));

    const std::vector<ChapterMarker> given{marker(30, "C"), marker(2.5, "A"), marker(10, "B")};
    const auto copy = given;
    EXPECT_EQ(render(given, 40), ";FFMETADATA1\n" + block("2500", "10000", "A") +
                                     block("10000", "30000", "B") + block("30000", "40000", "C"));
    EXPECT_EQ(given, copy);  // the caller's list is not reordered

    // Negative zero is zero; exact halves of a millisecond round up.
    EXPECT_EQ(render({marker(-0.0, "Z"), marker(1.0625, "R")}, 2.0625),
              ";FFMETADATA1\n" + block("0", "1063", "Z") + block("1063", "2063", "R"));
}

TEST(ChapterMetadataRenderer, EscapesTitlesAndTrimsThem) {
    EXPECT_EQ(render({marker(0, "Q&A = part 1; #2")}, 1),
              ";FFMETADATA1\n" + block("0", "1000", "Q&A \\= part 1\\; \\#2"));
    EXPECT_EQ(render({marker(0, "C:\\clips")}, 1),
              ";FFMETADATA1\n" + block("0", "1000", "C:\\\\clips"));
    EXPECT_EQ(render({marker(0, "  \n Two\nlines\r\nhere \t")}, 1),
              ";FFMETADATA1\n" + block("0", "1000", "Two lines  here"));
    EXPECT_EQ(render({marker(0, "\\=")}, 1), ";FFMETADATA1\n" + block("0", "1000", "\\\\\\="));
    // ffmpeg would end the title at a NUL byte.
    EXPECT_EQ(render({marker(0, std::string(" A\0B\0", 6))}, 1),
              ";FFMETADATA1\n" + block("0", "1000", "AB"));
    EXPECT_EQ(failure({marker(0, std::string("\0 ", 2))}, 10), "Every chapter needs a title.");
    EXPECT_EQ(render({marker(0, "Caf\u00E9 \U0001F3AC")}, 1),
              ";FFMETADATA1\n" + block("0", "1000", "Caf\u00E9 \U0001F3AC"));
}

TEST(ChapterMetadataRenderer, DurationIsCheckedFirst) {
    const double bad[] = {0, -1, std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(), 1e300};
    for (double duration : bad) {
        EXPECT_EQ(failure({}, duration), durationMessage) << duration;
        EXPECT_EQ(failure({marker(0, "A")}, duration), durationMessage) << duration;
    }
    EXPECT_EQ(failure({}, 10), "Add at least one chapter marker.");
}

TEST(ChapterMetadataRenderer, RefusesBadMarkers) {
    EXPECT_EQ(failure({marker(0, " \n\t ")}, 10), "Every chapter needs a title.");
    EXPECT_EQ(failure({marker(-0.5, "A")}, 10), "Chapter times must be zero or later.");
    EXPECT_EQ(failure({marker(std::nan(""), "A"), marker(1, "B")}, 10),
              "Chapter times must be zero or later.");
    EXPECT_EQ(failure({marker(1, "A"), marker(std::numeric_limits<double>::infinity(), "B")}, 10),
              "Chapter times must be zero or later.");
    EXPECT_EQ(failure({marker(5.0001, "A"), marker(5.0003, "B")}, 10), orderMessage);
    EXPECT_EQ(failure({marker(3, "A"), marker(3, "B")}, 10), orderMessage);
    EXPECT_EQ(failure({marker(1, "A"), marker(12, "B")}, 10), endMessage);
    EXPECT_EQ(failure({marker(1e300, "A")}, 10), endMessage);
}

TEST(ChapterMetadataRenderer, LastMarkerMustEndBeforeTheSource) {
    EXPECT_EQ(failure({marker(10, "A")}, 10), endMessage);
    EXPECT_EQ(failure({marker(10.0004, "A")}, 10), endMessage);  // same millisecond
    EXPECT_EQ(render({marker(9.999, "A")}, 10), ";FFMETADATA1\n" + block("9999", "10000", "A"));
}

// A part keeps the chapters it overlaps, shifted to its start and clipped to its ends.
TEST(ChapterMetadataRenderer, APartKeepsTheChaptersItOverlapsFromItsStart) {
    const std::vector<SourceChapter> chapters = {{0, 3, {{"title", "One"}}},
                                                 {3, 7, {{"artist", "A=B;C"}, {"title", "Two"}}},
                                                 {7, 10, {{"title", "Three"}}}};
    const auto chapter = [](const char* start, const char* end, const std::string& tags) {
        return std::string("\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=") + start + "\nEND=" + end + "\n" +
               tags;
    };
    const std::string two = "artist=A\\=B\\;C\ntitle=Two\n";
    const struct {
        double from;
        std::optional<double> to;
        std::optional<std::string> text;
    } parts[] = {
        {0, 5.0,
         ";FFMETADATA1\n" + chapter("0", "3000", "title=One\n") + chapter("3000", "5000", two)},
        {5.0005, std::nullopt,
         ";FFMETADATA1\n" + chapter("0", "1999", two) + chapter("1999", "4999", "title=Three\n")},
        {3, 7.0, ";FFMETADATA1\n" + chapter("0", "4000", two)},
        {10, std::nullopt, std::nullopt},
    };
    for (const auto& [from, to, text] : parts) {
        EXPECT_EQ(ChapterMetadataRenderer{}.renderPart(chapters, from, to), text) << from;
    }
}

// ffmpeg's own reader gets back exactly what was written: the markers' titles, and source
// chapter tags whatever they hold (NUL bytes, which no tag can hold, left out). No tag opens a
// section, hides as a comment or swallows the line after it.
TEST(ChapterMetadataRenderer, FfmpegReadsBackExactlyWhatWasWritten) {
    const auto readBack = [](const std::string& text) {
        tavtest::TempDir dir;
        std::ofstream(dir / "chapters.ffmetadata", std::ios::binary) << text;
        std::string json;
        EXPECT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-f", "ffmetadata", "-show_chapters",
                                    "-of", "json", (dir / "chapters.ffmetadata").string()},
                                   &json),
                  0);
        std::vector<std::tuple<std::string, std::string, std::map<std::string, std::string>>> read;
        const auto report = nlohmann::json::parse(json);
        for (const auto& chapter : report.at("chapters")) {
            read.emplace_back(chapter.at("start_time").get<std::string>(),
                              chapter.at("end_time").get<std::string>(),
                              chapter.at("tags").get<std::map<std::string, std::string>>());
        }
        return read;
    };
    using Read = decltype(readBack(""));
    EXPECT_EQ(readBack(render({marker(0, "Q&A = part 1; #2"), marker(1.25, "C:\\clips\\"),
                               marker(2.5, "Caf\u00E9 \U0001F3AC\nnext")},
                              4)),
              (Read{{"0.000000", "1.250000", {{"title", "Q&A = part 1; #2"}}},
                    {"1.250000", "2.500000", {{"title", "C:\\clips\\"}}},
                    {"2.500000", "4.000000", {{"title", "Caf\u00E9 \U0001F3AC next"}}}}));

    // Each tag as written and as read.
    const struct {
        std::string key;
        std::string value;
        std::string readKey;
        std::string readValue;
    } tags[] = {
        {"[CHAPTER]", "x", "[CHAPTER]", "x"},
        {"[STREAM]", "", "[STREAM]", ""},
        {";comment", "1", ";comment", "1"},
        {"#hash", "#2", "#hash", "#2"},
        {"k=ey", "v=al;ue", "k=ey", "v=al;ue"},
        {"multi", "a\nb\r\nc\n", "multi", "a\nb\r\nc\n"},
        {"back\\slash\\", "\\\\", "back\\slash\\", "\\\\"},
        {"START", "5", "START", "5"},
        {"lead", " [x] ;#\\n", "lead", " [x] ;#\\n"},
        {std::string("n\0ul", 4), std::string("a\0b", 3), "nul", "ab"},
        {std::string("\0", 1), "a tag without a name", "", ""},
        {"title", "Two ends in \\", "title", "Two ends in \\"},
    };
    SourceChapter hostile{4, 8, {}};
    std::map<std::string, std::string> expected;
    for (const auto& tag : tags) {
        hostile.tags.emplace_back(tag.key, tag.value);
        if (!tag.readKey.empty()) {
            expected[tag.readKey] = tag.readValue;
        }
    }
    const auto text = ChapterMetadataRenderer{}.renderPart(
        {{0, 4, {{"title", "One"}}}, hostile, {8, 12, {{"title", "Three"}}}}, 2, 10.0);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(readBack(*text), (Read{{"0.000000", "2.000000", {{"title", "One"}}},
                                     {"2.000000", "6.000000", expected},
                                     {"6.000000", "8.000000", {{"title", "Three"}}}}));
}
