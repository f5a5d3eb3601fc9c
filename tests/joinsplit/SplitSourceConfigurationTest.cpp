#include "joinsplit/SplitSourceConfiguration.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

TEST(SplitSourceConfiguration, SecondsReaderIsStrict) {
    struct Row {
        std::string text;
        std::optional<double> seconds;
    };
    const Row rows[] = {
        {"12", 12},
        {"12.5", 12.5},
        {"0.041708", 0.041708},
        {"+3", 3},
        {"-1", -1},
        {".5", 0.5},
        {"5.", 5},
        {"", std::nullopt},
        {"-", std::nullopt},
        {".", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1e3", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {"1,5", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"0x10", std::nullopt},
        {"abc", std::nullopt},
        {"12:30", std::nullopt},
        {std::string(400, '9'), std::nullopt},  // overflows to infinity
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseSplitSeconds(row.text), row.seconds);
    }
}

TEST(SplitSourceConfiguration, SummariesAndValidation) {
    const std::string rangeMessage = "Enter an end time later than the start time.";
    const std::string pointMessage = "Choose a split point after the beginning of the video.";
    struct Row {
        const char* name;
        SplitOperationMode mode;
        const char* start;
        const char* end;
        const char* point;
        std::optional<double> duration;
        const char* selection;
        const char* list;
        std::optional<std::string> message;
    };
    const auto range = SplitOperationMode::range;
    const auto atPoint = SplitOperationMode::atPoint;
    const Row rows[] = {
        {"defaults, any length", range, "0", "60", "", std::nullopt, "Start: 0s  \u00B7  End: 60s",
         "0s\u201360s", std::nullopt},
        {"end past a known length is fine", range, "0", "60", "", 10.0,
         "Start: 0s  \u00B7  End: 60s", "0s\u201360s", std::nullopt},
        {"equal times", range, "5", "5", "", std::nullopt, "Start: 5s  \u00B7  End: 5s",
         "5s\u20135s", rangeMessage},
        {"negative start", range, "-1", "4", "", std::nullopt, "Start: -1s  \u00B7  End: 4s",
         "-1s\u20134s", rangeMessage},
        {"start not a number", range, "abc", "4", "", std::nullopt, "Start: abcs  \u00B7  End: 4s",
         "abcs\u20134s", rangeMessage},
        {"start at the known end", range, "10", "20", "", 10.0, "Start: 10s  \u00B7  End: 20s",
         "10s\u201320s", rangeMessage},
        {"start just before the end", range, "9.96", "20", "", 10.0,
         "Start: 9.96s  \u00B7  End: 20s", "9.96s\u201320s", std::nullopt},
        {"empty point", atPoint, "0", "60", "", std::nullopt, "Split point: Not set",
         "Split at \u2014", pointMessage},
        {"point zero", atPoint, "0", "60", "0", std::nullopt, "Split point: 0s", "Split at 0s",
         pointMessage},
        {"point inside", atPoint, "0", "60", "12.5", 30.0, "Split point: 12.5s", "Split at 12.5s",
         std::nullopt},
        {"point at the known end", atPoint, "0", "60", "30", 30.0, "Split point: 30s",
         "Split at 30s", pointMessage},
        {"point past an unknown end", atPoint, "0", "60", "9000", std::nullopt,
         "Split point: 9000s", "Split at 9000s", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SplitSourceConfiguration configuration(fs::path("/m/a.mp4"));
        configuration.operationMode = row.mode;
        configuration.startText = row.start;
        configuration.endText = row.end;
        configuration.splitPointText = row.point;
        configuration.duration = row.duration;
        EXPECT_EQ(configuration.selectionSummary(), row.selection);
        EXPECT_EQ(configuration.listSummary(), row.list);
        EXPECT_EQ(configuration.validationMessage(), row.message);
    }
}

TEST(SplitSourceConfiguration, RequestsNameTheirOutputsAfterTheSource) {
    struct Row {
        const char* name;
        const char* file;
        SplitOperationMode mode;
        const char* start;
        const char* end;
        const char* point;
        std::optional<OutputContainer> container;
        std::vector<SplitRequest> requests;
    };
    const fs::path out("/out");
    const Row rows[] = {
        {"range keeps the extension's case",
         "/m/Trip.MOV",
         SplitOperationMode::range,
         "1.5",
         "4",
         "",
         std::nullopt,
         {{"/m/Trip.MOV", out / "Trip-clip.MOV", 1.5, 4.0}}},
        {"chosen container",
         "/m/a.b.mp4",
         SplitOperationMode::range,
         "0",
         "60",
         "",
         OutputContainer::mkv,
         {{"/m/a.b.mp4", out / "a.b-clip.mkv", 0, 60.0}}},
        {"split point makes two parts",
         "/m/c.mkv",
         SplitOperationMode::atPoint,
         "x",
         "y",
         "7.25",
         std::nullopt,
         {{"/m/c.mkv", out / "c-part-1.mkv", 0, 7.25},
          {"/m/c.mkv", out / "c-part-2.mkv", 7.25, std::nullopt}}},
        {"unreadable range",
         "/m/d.mp4",
         SplitOperationMode::range,
         "1",
         "later",
         "3",
         std::nullopt,
         {}},
        {"unreadable point",
         "/m/d.mp4",
         SplitOperationMode::atPoint,
         "1",
         "2",
         "soon",
         OutputContainer::webm,
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SplitSourceConfiguration configuration{fs::path(row.file)};
        configuration.operationMode = row.mode;
        configuration.startText = row.start;
        configuration.endText = row.end;
        configuration.splitPointText = row.point;
        configuration.container = row.container;
        std::vector<ProcessingRequest> expected(row.requests.begin(), row.requests.end());
        EXPECT_EQ(makeSplitRequests(configuration, out), expected);
    }
}

TEST(SplitSourceConfiguration, WorkspaceValidationNamesTheFirstInvalidFile) {
    std::vector<SplitSourceConfiguration> sources;
    EXPECT_EQ(splitWorkspaceValidationMessage(sources, fs::path("/out")), "Add at least one file.");
    sources.emplace_back(fs::path("/m/a.mp4"));
    sources.emplace_back(fs::path("/m/b.mkv"));
    sources.emplace_back(fs::path("/m/c.mov"));
    EXPECT_EQ(splitWorkspaceValidationMessage(sources, std::nullopt), "Choose an output folder.");
    EXPECT_EQ(splitWorkspaceValidationMessage(sources, fs::path("/out")), std::nullopt);
    sources[1].operationMode = SplitOperationMode::atPoint;
    sources[2].startText = "70";
    EXPECT_EQ(splitWorkspaceValidationMessage(sources, fs::path("/out")),
              "b.mkv: Choose a split point after the beginning of the video.");
    EXPECT_EQ(splitOutputCount(sources), 4);
}

}  // namespace
}  // namespace tavrolin
