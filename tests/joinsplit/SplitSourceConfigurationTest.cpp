#include "joinsplit/SplitSourceConfiguration.h"

#include <gtest/gtest.h>

#include <limits>

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

constexpr double inf = std::numeric_limits<double>::infinity();

TEST(SplitSourceConfiguration, SecondsReaderTakesNumbersWithSpacesAround) {
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
        {"1e3", 1000},
        {" 1", 1},
        {" 12 ", 12},
        {"\t2.5\t", 2.5},
        {"  ", std::nullopt},
        {"1 2", std::nullopt},
        {"inf", inf},
        {"-inf", -inf},
        {"nan", std::nullopt},
        {"1,5", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
        {"0x10", std::nullopt},
        {"abc", std::nullopt},
        {"12:30", std::nullopt},
        {std::string(401, '9'), inf},  // past any double
        {"1e-400", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(parseSplitSeconds(row.text), row.seconds);
    }
}

// Keyframes every 2 s of a video that starts 0.08 s into its file and ends at 7 s.
const SplitKeyframes everyTwoSeconds{0.08, {0, 2, 4, 6}, 7.0, {}};
const SplitKeyframes* const known = &everyTwoSeconds;
// Audio alone: no keyframes, 10 s.
const SplitKeyframes audioOnly{0, {}, 10.0, {}};
// Audio alone in FLAC frames of 0.096 s.
const SplitKeyframes flacFrames = [] {
    SplitKeyframes frames{0, {}, 10.0, {}};
    for (int frame = 0; frame * 0.096 < 10; ++frame) {
        frames.audioFrames.push_back(frame * 0.096);
    }
    return frames;
}();
// The same with open groups: the keyframes at 4 s and 6 s have 2 and 1 leading pictures.
const SplitKeyframes openGroups{0.08, {0, 2, 4, 6}, 7.0, {{4, 2}, {6, 1}}};
// And with its 175 packets counted, 50 from each keyframe in decoding order.
const SplitKeyframes countedGroups{0.08, {0, 2, 4, 6},      7.0, {{4, 2}, {6, 1}},
                                   {},   {0, 50, 100, 150}, 175};
constexpr auto range = SplitOperationMode::range;
constexpr auto atPoint = SplitOperationMode::atPoint;

TEST(SplitSourceConfiguration, KeyframeReportsCountFromTheFirstFrame) {
    struct Row {
        const char* name;
        const char* report;
        std::optional<SplitKeyframes> keyframes;
        std::string codec = "";
        bool lacksPresentationTimes = false;
        bool reordered = false;
    };
    const Row rows[] = {
        // Times a binary fraction holds exactly, so that the differences compare equal.
        // AVI and VOB give a B-frame's reference no presentation time: its decoding time.
        {"decoding order, packets without a presentation time",
         "0.500000,0.500000,0.250000,900,K_\n1.000000,0.750000,0.250000,300,__\n"
         "0.750000,N/A,0.250000,200,__\nN/A,1.250000,0.250000,900,K_\nN/A,N/A,0.250000,300,__\n"
         "1.250000,1.500000,N/A,900,K_\nmpeg4,1,\n\n8.000000\n",
         SplitKeyframes{0.5, {0, 0.75}, 1.0, {}}, "mpeg4", true, true},
        {"open groups: pictures after a keyframe shown before it are its leading pictures",
         "0.000000,N/A,0.25,900,K_\n0.500000,N/A,0.25,300,__\n0.250000,N/A,0.25,200,__\n"
         "1.000000,N/A,0.25,900,K_\n0.750000,N/A,0.25,200,__\n1.250000,N/A,0.25,300,__\n",
         SplitKeyframes{0, {0, 1}, 1.5, {{1, 1}}}},
        // DivX and Xvid: the 6-byte packet after a packed keyframe is marked one too, and the
        // keyframe is shown at its time.
        {"packed B-frames: a placeholder is no keyframe",
         "N/A,0.000000,0.25,900,K_\n0.250000,0.250000,0.25,300,__\nN/A,0.500000,0.25,6,__\n"
         "N/A,0.750000,0.25,900,K_\nN/A,1.000000,0.25,6,K_\nmpeg4,1\n",
         SplitKeyframes{0, {0, 1}, 1.25, {}, {}, {}, 0, {1}, {{1, 0.75}}}, "mpeg4", true, true},
        // The hidden keyframe is where the first frame shown is decoded from.
        {"an edit list's hidden frames: times count from the first frame shown",
         "-0.500000,-0.750000,0.25,900,KD\n-0.250000,-0.500000,0.25,300,_D\n"
         "0.250000,-0.250000,0.25,300,__\n0.000000,0.000000,0.25,200,__\n"
         "0.750000,0.500000,0.25,900,K_\n0.500000,0.750000,0.25,200,__\nh264,2\n",
         SplitKeyframes{0, {0, 0.75}, 1.0, {{0.75, 1}}}, "h264", false, true},
        {"H.264 in AVI without B-frames: decoding times, nothing reordered",
         "N/A,0.000000,0.25,900,K_\nN/A,0.250000,0.25,300,__\nN/A,0.500000,0.25,900,K_\n"
         "h264,0\n",
         SplitKeyframes{0, {0, 0.5}, 0.75, {}}, "h264", true, false},
        {"audio only: cut anywhere up to the duration", "6.000000\n", SplitKeyframes{0, {}, 6, {}}},
        {"nothing to cut", "N/A\n", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(parseSplitKeyframes(row.report), row.keyframes);
        const SplitVideoTiming timing = splitVideoTiming(row.report);
        EXPECT_EQ(timing.codec, row.codec);
        EXPECT_EQ(timing.lacksPresentationTimes, row.lacksPresentationTimes);
        EXPECT_EQ(timing.reordered, row.reordered);
        EXPECT_FALSE(timing.playsEditedPieces);
    }
    // An edit list that hides packets between shown ones plays pieces of the media (an editor's
    // cut); one that trims the start or the end hides them only before or after what is shown,
    // a B-frame decoded after the first shown frame but shown before it included.
    const struct {
        const char* report;
        bool pieces;
    } edits[] = {
        {"-0.500000,-0.500000,0.25,900,KD\n0.250000,-0.250000,0.25,300,__\n"
         "-0.250000,0.000000,0.25,300,_D\n0.000000,0.250000,0.25,300,__\nh264,2\n",
         false},
        {"0.000000,0.000000,0.25,900,K_\n0.250000,0.250000,0.25,300,__\n"
         "0.500000,0.500000,0.25,900,KD\n0.750000,0.750000,0.25,300,_D\n"
         "0.500000,1.000000,0.25,900,K_\nh264,0\n",
         true},
        {"0.000000,0.000000,0.25,900,K_\n0.250000,0.250000,0.25,300,__\n"
         "0.500000,0.500000,0.25,300,_D\nh264,0\n",
         false},
    };
    for (const auto& [report, pieces] : edits) {
        SCOPED_TRACE(report);
        EXPECT_EQ(splitVideoTiming(report).playsEditedPieces, pieces);
    }
    // Every packet counts, in decoding order; keyframes that are not the times read count none.
    // A copy stops between a keyframe and the packet before it only by their decoding times.
    const auto none = std::optional<double>();
    const struct {
        const Row& row;
        std::vector<std::int64_t> before;
        std::int64_t packets;
        std::vector<std::optional<double>> stops;
    } counts[] = {{rows[1], {0, 3}, 6, {none, none}},
                  {rows[2], {0, 3}, 5, {none, none}},
                  {rows[3], {0, 4}, 6, {none, 0.25}}};
    for (const auto& [row, before, packets, stops] : counts) {
        SCOPED_TRACE(row.name);
        SplitKeyframes counted = *parseSplitKeyframes(row.report);
        countSplitPackets(row.report, counted);
        EXPECT_EQ(counted.packetsBefore, before);
        EXPECT_EQ(counted.packets, packets);
        EXPECT_EQ(counted.stopsBefore, stops);
    }
    SplitKeyframes one{0, {0}, 1.0, {}};
    countSplitPackets("0,0,0.5,900,K_,\n0.5,0.5,0.5,900,K_,\n1.000000\n", one);
    EXPECT_TRUE(one.packetsBefore.empty());
    EXPECT_EQ(one.packets, 2);
}

SplitSourceConfiguration configured(const char* file, SplitOperationMode mode, const char* start,
                                    const char* end, const char* point,
                                    const SplitKeyframes* keyframes) {
    SplitSourceConfiguration configuration{fs::path(file)};
    configuration.operationMode = mode;
    configuration.startText = start;
    configuration.endText = end;
    configuration.splitPointText = point;
    if (keyframes) {
        configuration.keyframes = *keyframes;
    }
    return configuration;
}

// The notes beside the fields say where each cut falls.
TEST(SplitSourceConfiguration, SummariesNotesAndValidation) {
    const std::string rangeMessage = "Enter an end time later than the start time.";
    const std::string pointMessage = "Choose a split point after the beginning of the video.";
    const std::string pointEndMessage =
        "Choose a split point before the end of the video (00:00:07.000).";
    const std::string startMessage = "Enter the start time in seconds, as in 12.5.";
    const std::string pointTooEarly =
        "Choose a split point at or after 00:00:02.000, the first keyframe after the beginning; an "
        "earlier one leaves the first part empty.";
    const std::string digits401(401, '9');
    const auto cutsAt = [](const char* time) {
        return std::string("Cuts at 00:00:0") + time + ", the keyframe at or before this time.";
    };
    struct Row {
        const char* name;
        SplitOperationMode mode;
        const char* start;
        const char* end;
        const char* point;
        const SplitKeyframes* keyframes;
        std::string selection;
        std::string list;
        std::optional<std::string> message;
        std::optional<std::string> startNote = std::nullopt;
        std::optional<std::string> endNote = std::nullopt;
    };
    const Row rows[] = {
        {"defaults, keyframes unknown", range, "0", "60", "", nullptr,
         "Start: 0s  \u00B7  End: 60s", "0s\u201360s", std::nullopt},
        {"a start in the first group is the beginning; the real end", range, "0.5", "60", "", known,
         "Start: 00:00:00.000  \u00B7  End: 00:00:07.000", "00:00:00.000\u201300:00:07.000",
         std::nullopt, "Starts at the beginning of the video.",
         "Runs to the end of the video (00:00:07.000)."},
        {"range on the keyframes before", range, "2.5", "5.96", "", known,
         "Start: 00:00:02.000  \u00B7  End: 00:00:04.000", "00:00:02.000\u201300:00:04.000",
         std::nullopt, cutsAt("2.000"), cutsAt("4.000")},
        {"equal times", range, "5", "5", "", nullptr, "Start: 5s  \u00B7  End: 5s", "5s\u20135s",
         rangeMessage},
        {"negative start", range, "-1", "4", "", nullptr, "Start: -1s  \u00B7  End: 4s",
         "-1s\u20134s", "Enter a start time of 0 or later."},
        {"start not a number", range, "abc", "4", "", known, "Start: abcs  \u00B7  End: 4s",
         "abcs\u20134s", startMessage},
        {"start nan", range, "nan", "4", "", known, "Start: nans  \u00B7  End: 4s", "nans\u20134s",
         startMessage},
        {"start in hexadecimal", range, "0x10", "4", "", nullptr, "Start: 0x10s  \u00B7  End: 4s",
         "0x10s\u20134s", startMessage},
        {"start with two points", range, "-1..3", "4", "", known, "Start: -1..3s  \u00B7  End: 4s",
         "-1..3s\u20134s", startMessage},
        {"end not a number keeps the start's note", range, "2.5", "later", "", known,
         "Start: 2.5s  \u00B7  End: laters", "2.5s\u2013laters",
         "Enter the end time in seconds, as in 60.", cutsAt("2.000")},
        {"spaces around every time", range, " 2.5 ", " 5.96 ", "", known,
         "Start: 00:00:02.000  \u00B7  End: 00:00:04.000", "00:00:02.000\u201300:00:04.000",
         std::nullopt, cutsAt("2.000"), cutsAt("4.000")},
        {"start at the end", range, "7", "20", "", known, "Start: 7s  \u00B7  End: 20s",
         "7s\u201320s", "Choose a start time before the end of the video (00:00:07.000)."},
        {"range within one group of pictures", range, "2.1", "3.9", "", known,
         "Start: 2.1s  \u00B7  End: 3.9s", "2.1s\u20133.9s",
         "Choose an end time at or after 00:00:04.000, the first keyframe after the start "
         "(00:00:02.000); an earlier end leaves the clip empty.",
         cutsAt("2.000")},
        {"range within the last group of pictures", range, "6.1", "6.9", "", known,
         "Start: 6.1s  \u00B7  End: 6.9s", "6.1s\u20136.9s",
         "No keyframe follows the start (00:00:06.000), so the clip runs to the end of the "
         "video: enter an end time of 7 or later.",
         cutsAt("6.000")},
        {"empty point", atPoint, "0", "60", "", known, "Split point: Not set", "Split at \u2014",
         pointMessage},
        {"point zero", atPoint, "0", "60", "0", nullptr, "Split point: 0s", "Split at 0s",
         pointMessage},
        {"point on its keyframe", atPoint, "0", "60", "4.04", known, "Split point: 00:00:04.000",
         "Split at 00:00:04.000", std::nullopt, cutsAt("4.000")},
        {"point before the second keyframe", atPoint, "0", "60", "1.96", known,
         "Split point: 1.96s", "Split at 1.96s", pointTooEarly},
        {"point a hair after the beginning", atPoint, "0", "60", "0.0000001", known,
         "Split point: 0.0000001s", "Split at 0.0000001s", pointTooEarly},
        {"point with a space before it", atPoint, "0", "60", " 5", known,
         "Split point: 00:00:04.000", "Split at 00:00:04.000", std::nullopt, cutsAt("4.000")},
        {"point nan", atPoint, "0", "60", "nan", known, "Split point: nans", "Split at nans",
         "Enter the split point in seconds, as in 12.5."},
        // Audio alone is cut where asked, and the sentences say audio.
        {"audio: a point", atPoint, "0", "60", "4.37", &audioOnly, "Split point: 00:00:04.370",
         "Split at 00:00:04.370", std::nullopt, "Cuts the audio at 00:00:04.370."},
        {"audio: a point between frames lands on the next", atPoint, "0", "60", "4.37", &flacFrames,
         "Split point: 00:00:04.370", "Split at 00:00:04.370", std::nullopt,
         "Cuts the audio at 00:00:04.416, where its first frame at or after 00:00:04.370 "
         "starts."},
        {"audio: a point on a frame", atPoint, "0", "60", "4.32", &flacFrames,
         "Split point: 00:00:04.320", "Split at 00:00:04.320", std::nullopt,
         "Cuts the audio at 00:00:04.320."},
        {"audio: a point at the beginning", atPoint, "0", "60", "0", &audioOnly, "Split point: 0s",
         "Split at 0s", "Choose a split point after the beginning of the audio."},
        {"audio: the whole range", range, "0", "60", "", &audioOnly,
         "Start: 00:00:00.000  \u00B7  End: 00:00:10.000", "00:00:00.000\u201300:00:10.000",
         std::nullopt, "Starts at the beginning of the audio.",
         "Runs to the end of the audio (00:00:10.000)."},
        {"audio: a point past the end", atPoint, "0", "60", "12", &audioOnly, "Split point: 12s",
         "Split at 12s", "Choose a split point before the end of the audio (00:00:10.000)."},
        {"point at the end", atPoint, "0", "60", "7", known, "Split point: 7s", "Split at 7s",
         "Choose a split point before the end of the video (00:00:07.000)."},
        {"point past an unknown end", atPoint, "0", "60", "9000", nullptr, "Split point: 9000s",
         "Split at 9000s", std::nullopt},
        // Open groups of pictures: a cut that ends a part says what it loses.
        {"range ending on an open group", range, "2.5", "5.96", "", &openGroups,
         "Start: 00:00:02.000  \u00B7  End: 00:00:04.000", "00:00:02.000\u201300:00:04.000",
         std::nullopt, cutsAt("2.000"),
         cutsAt("4.000") + " 2 frames before this keyframe can't be kept without re-encoding."},
        {"range starting on one loses nothing", range, "4.5", "60", "", &openGroups,
         "Start: 00:00:04.000  \u00B7  End: 00:00:07.000", "00:00:04.000\u201300:00:07.000",
         std::nullopt, cutsAt("4.000"), "Runs to the end of the video (00:00:07.000)."},
        {"point on an open group", atPoint, "0", "60", "6.5", &openGroups,
         "Split point: 00:00:06.000", "Split at 00:00:06.000", std::nullopt,
         cutsAt("6.000") + " 1 frame before this keyframe can't be kept without re-encoding."},
        // Texts past any end, and a decimal comma.
        {"point in exponent form past the end", atPoint, "0", "60", "1e3", known,
         "Split point: 1e3s", "Split at 1e3s", pointEndMessage},
        {"point past what a double holds", atPoint, "0", "60", "1e309", known,
         "Split point: 1e309s", "Split at 1e309s", pointEndMessage},
        {"401 digits", atPoint, "0", "60", digits401.c_str(), known,
         "Split point: " + digits401 + "s", "Split at " + digits401 + "s", pointEndMessage},
        {"infinity before the end is known", atPoint, "0", "60", "inf", nullptr,
         "Split point: infs", "Split at infs", "Choose a split point before the end of the video."},
        {"decimal comma in the point", atPoint, "0", "60", "5,5", known, "Split point: 5,5s",
         "Split at 5,5s", "Use a point for decimals, as in 5.5."},
        {"decimal comma in the end", range, "0", "2,25", "", known, "Start: 0s  \u00B7  End: 2,25s",
         "0s\u20132,25s", "Use a point for decimals, as in 2.25.",
         "Starts at the beginning of the video."},
        {"an end past any file runs to its end", range, "0", "1e309", "", known,
         "Start: 00:00:00.000  \u00B7  End: 00:00:07.000", "00:00:00.000\u201300:00:07.000",
         std::nullopt, "Starts at the beginning of the video.",
         "Runs to the end of the video (00:00:07.000)."},
        {"start past the end before an end past it", range, "1e3", "2e3", "", known,
         "Start: 1e3s  \u00B7  End: 2e3s", "1e3s\u20132e3s",
         "Choose a start time before the end of the video (00:00:07.000)."},
        {"infinite start before the end is known", range, "inf", "60", "", nullptr,
         "Start: infs  \u00B7  End: 60s", "infs\u201360s",
         "Choose a start time before the end of the video."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto configuration =
            configured("/m/a.mp4", row.mode, row.start, row.end, row.point, row.keyframes);
        EXPECT_EQ(configuration.selectionSummary(), row.selection);
        EXPECT_EQ(configuration.listSummary(), row.list);
        EXPECT_EQ(configuration.validationMessage(), row.message);
        const SplitCutPlan plan = planSplitCuts(configuration);
        EXPECT_EQ(plan.startNote, row.startNote);
        EXPECT_EQ(plan.endNote, row.endNote);
    }
    SplitSourceConfiguration reading(fs::path("/m/a.mp4"));
    reading.isReadingKeyframes = true;
    EXPECT_EQ(reading.validationMessage(), "Tavrolin is still reading where this file can be cut.");
    reading.keyframeError = "Tavrolin could not read where \u201Ca.mp4\u201D can be cut.";
    EXPECT_EQ(reading.validationMessage(), reading.keyframeError);
}

TEST(SplitSourceConfiguration, RequestsNameTheirOutputsAfterTheSource) {
    const fs::path out("/out");
    const auto clip = [&](const char* file, const char* name, double start,
                          std::optional<double> end,
                          std::optional<SplitFrameCount> frames = std::nullopt) {
        return std::vector<SplitRequest>{{file, out / name, start, end, frames}};
    };
    const auto parts = [&](const char* file, const char* first, const char* second, double point,
                           std::optional<SplitFrameCount> one = std::nullopt,
                           std::optional<SplitFrameCount> two = std::nullopt) {
        return std::vector<SplitRequest>{{file, out / first, -inf, point, one},
                                         {file, out / second, point, std::nullopt, two}};
    };
    struct Row {
        const char* name;
        const char* file;
        SplitOperationMode mode;
        const char* start;
        const char* end;
        const char* point;
        std::optional<OutputContainer> container;
        const SplitKeyframes* keyframes;
        std::vector<SplitRequest> requests;
    };
    const Row rows[] = {
        {"range keeps the extension's case", "/m/Trip.MOV", range, "1.5", "4", "", std::nullopt,
         nullptr, clip("/m/Trip.MOV", "Trip-clip.MOV", 1.5, 4.0)},
        {"chosen container", "/m/a.b.mp4", range, "0", "60", "", OutputContainer::mkv, nullptr,
         clip("/m/a.b.mp4", "a.b-clip.mkv", -inf, 60.0)},
        {"split point makes two parts", "/m/c.mkv", atPoint, "x", "y", "7.25", std::nullopt,
         nullptr, parts("/m/c.mkv", "c-part-1.mkv", "c-part-2.mkv", 7.25)},
        {"range on keyframes, in the file's own times", "/m/e.mp4", range, "2.5", "5", "",
         std::nullopt, known, clip("/m/e.mp4", "e-clip.mp4", 2.08, 4.08)},
        {"whole range from the beginning to the end", "/m/e.mp4", range, "0", "60", "",
         std::nullopt, known, clip("/m/e.mp4", "e-clip.mp4", -inf, std::nullopt)},
        {"split point on its keyframe", "/m/e.mp4", atPoint, "", "", "6.9", std::nullopt, known,
         parts("/m/e.mp4", "e-part-1.mp4", "e-part-2.mp4", 6.08)},
        // A part holds the packets decoded from its keyframe to the next part's, less its
        // keyframe's leading pictures; those of its end keyframe are lost.
        {"split point with the frames of each part", "/m/e.mp4", atPoint, "", "", "4.5",
         std::nullopt, &countedGroups,
         parts("/m/e.mp4", "e-part-1.mp4", "e-part-2.mp4", 4.08, SplitFrameCount{100, 2},
               SplitFrameCount{73, 0, 2, std::nullopt, 2.0})},
        {"range with its frames", "/m/e.mp4", range, "4.5", "6.5", "", std::nullopt, &countedGroups,
         clip("/m/e.mp4", "e-clip.mp4", 4.08, 6.08, SplitFrameCount{48, 1, 2, std::nullopt, 2.0})},
        {"unreadable range", "/m/d.mp4", range, "1", "later", "3", std::nullopt, nullptr, {}},
        {"unreadable point", "/m/d.mp4", atPoint, "1", "2", "soon", OutputContainer::webm, nullptr,
         std::vector<SplitRequest>{}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto configuration =
            configured(row.file, row.mode, row.start, row.end, row.point, row.keyframes);
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
    sources[0].isNotMedia = true;
    EXPECT_EQ(splitOutputCount(sources), 3);
    // A name that fits, whose part names would not: 245 + "-part-1.mkv" passes 255 bytes.
    sources[1].splitPointText = "5";
    sources[2].startText = "0";
    const std::string stem(245, 'n');
    sources[1].file = "/m/" + stem + ".mkv";
    EXPECT_EQ(splitWorkspaceValidationMessage(sources, fs::path("/out")),
              "An output of \u201C" + stem +
                  ".mkv\u201D would get a name longer than the 255 bytes a file name can have. "
                  "Rename the file to a shorter name, then add it again.");
    sources[1].file = "/m/" + stem.substr(1) + ".mkv";  // "-part-2.mkv" just fits
    EXPECT_EQ(splitWorkspaceValidationMessage(sources, fs::path("/out")), std::nullopt);
}

// Which containers a source's parts can be written in, beyond the real sources of the page's
// own test: the copy rules with the installed release, data tracks, cover art.
TEST(SplitSourceConfiguration, ContainerIsCheckedAgainstTheSourceStreams) {
    const auto stream = [](std::int64_t index, MediaStreamKind kind, const char* codec) {
        MediaStream made;
        made.index = index;
        made.kind = kind;
        made.codecName = codec;
        return made;
    };
    using enum MediaStreamKind;
    const SplitSourceStreams timecoded{
        {stream(0, video, "h264"), stream(1, audio, "aac")}, 0, 0, {{2, "tmcd"}}, std::nullopt};
    const SplitSourceStreams dataTrack{
        {stream(0, video, "h264"), stream(1, audio, "aac")}, 0, 0, {{2, "gpmd"}}, std::nullopt};
    const SplitSourceStreams dvd{{stream(1, video, "mpeg2video"), stream(2, audio, "ac3")},
                                 0,
                                 0,
                                 {{0, "", "dvd_nav_packet"}, {3, "", "klv"}},
                                 std::nullopt};
    // A recording whose program changes 5 s in, and one of two programs side by side.
    auto changing = timecoded;
    changing.videoSpans = {{0, 1.48, 6.52}, {2, 6.48, 12.48}};
    auto sideBySide = timecoded;
    sideBySide.videoSpans = {{0, 1.48, 12.52}, {2, 1.5, 12.48}};
    const SplitSourceStreams covered{
        {stream(0, video, "vp9"), stream(1, audio, "opus")}, 1, 0, {}, std::nullopt};
    const SplitSourceStreams lossless{
        {stream(0, video, "h264"), stream(1, audio, "flac")}, 0, 0, {}, FFmpegRelease{5, 1}};
    const FFmpegRelease debian{5, 1};
    const SplitSourceStreams bluray{
        {stream(0, video, "h264"), stream(1, audio, "pcm_bluray")}, 0, 0, {}, debian};
    auto untimedVideo = stream(0, video, "mpeg4");
    untimedVideo.lacksPresentationTimes = true;
    const SplitSourceStreams untimed{{untimedVideo, stream(1, audio, "mp3")}, 0, 0, {}, debian};
    const SplitSourceStreams apart{
        {stream(0, video, "h264"), stream(1, audio, "truehd"), stream(2, subtitle, "mov_text")},
        0,
        0,
        {},
        debian};
    const auto refused = [](const std::string& what, const char* file, const char* choice) {
        return what + " of \u201C" + file +
               "\u201D, and a split copies every stream unchanged. Choose " + choice +
               " for this file.";
    };
    struct Row {
        const char* name;
        const SplitSourceStreams* streams;
        const char* file;
        std::optional<OutputContainer> container;
        SplitOperationMode mode;
        std::optional<std::string> problem;
        std::optional<std::string> note = std::nullopt;
    };
    const Row rows[] = {
        {"H.264 into WebM", &lossless, "/m/l.mkv", OutputContainer::webm, range,
         refused("WEBM cannot hold the H264 video (stream 0) and the FLAC audio (stream 1)",
                 "l.mkv", "MKV")},
        {"a pair the installed release refuses", &lossless, "/m/l.mkv", OutputContainer::mov, range,
         refused("MOV cannot hold the FLAC audio (stream 1)", "l.mkv", "MKV")},
        {"a pair it writes when asked, as a split asks", &lossless, "/m/l.mkv",
         OutputContainer::mp4, range, std::nullopt},
        {"a timecode track is written anew, so MP4 takes it", &timecoded, "/m/t.mp4", std::nullopt,
         atPoint, std::nullopt},
        {"any other data track goes into MOV only, and is named when left out", &dataTrack,
         "/m/d.mov", OutputContainer::mkv, range, std::nullopt,
         "The parts of \u201Cd.mov\u201D leave out its data track (stream 2), which holds no "
         "picture or sound: only MOV keeps such tracks. Choose MOV to keep it."},
        {"in MOV it goes with the part", &dataTrack, "/m/d.mov", std::nullopt, range, std::nullopt},
        {"a DVD's navigation goes nowhere and unmentioned", &dvd, "/m/DVD.VOB", std::nullopt,
         atPoint, std::nullopt,
         "The parts of \u201CDVD.VOB\u201D leave out its data track (stream 3), which holds no "
         "picture or sound: only MOV keeps such tracks. Choose MOV to keep it."},
        {"a program that changes is refused whatever the times", &changing, "/m/p.ts", std::nullopt,
         atPoint,
         "The video of \u201Cp.ts\u201D goes on in another stream (stream 2) 5 s in, where its "
         "program or its PIDs change, and a split follows only the first video stream. Remux each "
         "program into a file of its own (choose its streams on the Remux page) and split those "
         "files."},
        {"programs side by side are split as they are", &sideBySide, "/m/p.ts", std::nullopt,
         atPoint, std::nullopt},
        {"Blu-ray LPCM goes into the source's own format only", &bluray, "/m/b.m2ts",
         OutputContainer::mkv, range,
         refused("MKV cannot hold the PCM_BLURAY audio (stream 1)", "b.m2ts", "Same as Input")},
        {"what no container holds is named", &bluray, "/m/b.mov", OutputContainer::mkv, range,
         "MKV cannot hold the PCM_BLURAY audio (stream 1) of \u201Cb.mov\u201D, and a split copies "
         "every stream unchanged. No output container can hold the PCM_BLURAY audio (stream 1). "
         "Remux \u201Cb.mov\u201D without it and split that."},
        {"streams that no one container holds together", &apart, "/m/t.mp4", std::nullopt, range,
         "MP4 cannot hold the TRUEHD audio (stream 1) of \u201Ct.mp4\u201D, and a split copies "
         "every "
         "stream unchanged. No output container can hold the TRUEHD audio (stream 1) together with "
         "the other streams of \u201Ct.mp4\u201D. Remux it without that stream and split that."},
        {"cover art in WebM", &covered, "/m/c.mkv", OutputContainer::webm, range, std::nullopt,
         "The parts of \u201Cc.mkv\u201D leave out its cover art: WEBM holds none."},
        {"AVI frames without presentation times go into another container", &untimed, "/m/a.AVI",
         std::nullopt, atPoint,
         "AVI cannot say when the first frame of a part of \u201Ca.AVI\u201D is shown, because "
         "its video frames have no presentation times. Choose MKV for this file."},
        {"a format with no container of its own is not checked", &timecoded, "/m/r.ts",
         std::nullopt, atPoint, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto configuration = configured(row.file, row.mode, "0", "60", "3", known);
        configuration.container = row.container;
        configuration.streams = *row.streams;
        EXPECT_EQ(configuration.validationMessage(), row.problem);
        EXPECT_EQ(configuration.streamNote(), row.note);
    }
}

}  // namespace
}  // namespace tavrolin
