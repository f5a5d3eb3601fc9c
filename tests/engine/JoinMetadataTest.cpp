#include "engine/JoinMetadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/FFmpegProcessor.h"
#include "process/FoundationProcessRunner.h"
#include "support/CountingRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// "title start[-end]; ", to the hundredth of a second.
std::string mark(const std::string& title, double start, std::optional<double> end = {}) {
    char text[128];
    std::snprintf(text, sizeof text, end ? "%s %.2f-%.2f; " : "%s %.2f; ", title.c_str(), start,
                  end.value_or(0));
    return text;
}

TEST(JoinMetadata, PlacesEachFilesChaptersAfterTheFilesBeforeIt) {
    const SourceChapter whole{0, 2, {{"title", "A"}}};
    // A recording's timestamps start late; its chapters count from there.
    const JoinedFileFacts late{
        2.0, 1.4,          {}, {{1.4, 2.4, {{"title", "L1"}}}, {2.4, 9, {{"title", "L2"}}}},
        {},  std::nullopt, {}};
    const JoinedFileFacts plain{2.5, 0, {}, {whole}, {}, std::nullopt, {}};
    const JoinedFileFacts unknown{std::nullopt, 0, {}, {whole}, {}, std::nullopt, {}};
    const JoinedFileFacts bare{2.5, 0, {}, {}, {}, std::nullopt, {}};
    // Parts that mark the chapter cut at their end and start: `end` at 2 s, `start` at 0.
    const auto marked = [&](std::uint8_t start, std::uint8_t end) {
        return JoinedFileFacts{2.0, 0, {}, {whole}, {}, std::nullopt, {start, end}};
    };
    const auto withUid = [&](std::uint64_t uid) {
        SourceChapter chapter = whole;
        chapter.uid = uid;
        return JoinedFileFacts{2.0, 0, {}, {chapter}, {}, std::nullopt, {}};
    };
    const struct {
        const char* name;
        std::vector<JoinedFileFacts> facts;
        std::string expected;  // or the error
    } rows[] = {
        {"a late start, a chapter past its file's end clipped to it",
         {plain, late, plain},
         "A 0.00-2.00; L1 2.50-3.50; L2 3.50-4.50; A 4.50-6.50; "},
        {"a file without chapters still moves the next", {bare, plain}, "A 2.50-4.50; "},
        {"a chapter both parts mark cut at the seam is one again",
         {marked(0, 3), marked(3, 0)},
         "A 0.00-4.00; "},
        {"the same chapter ID on both sides is one again",
         {withUid(7), withUid(7)},
         "A 0.00-4.00; "},
        {"other IDs stay two", {withUid(7), withUid(8)}, "A 0.00-2.00; A 2.00-4.00; "},
        {"chapters without IDs or marks stay two",
         {withUid(0), withUid(0)},
         "A 0.00-2.00; A 2.00-4.00; "},
        {"a mark on one side only stays two",
         {marked(0, 3), marked(0, 0)},
         "A 0.00-2.00; A 2.00-4.00; "},
        {"marks of other chapters stay two",
         {marked(0, 3), marked(4, 0)},
         "A 0.00-2.00; A 2.00-4.00; "},
        {"no length last: nothing after it to place",
         {plain, unknown},
         "A 0.00-2.00; A 2.50-4.50; "},
        {"no length before chapters",
         {unknown, bare, plain},
         "Tavrolin could not read the length of \u201Cb.mkv\u201D, so it cannot place the chapters "
         "of the files after it. Join it last or remove it from the list."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            std::string joined;
            for (const auto& chapter :
                 joinedChapters({"/m/b.mkv", "/m/c.mkv", "/m/d.mkv"}, row.facts)) {
                joined += mark(chapter.tags.at(0).second, chapter.start, chapter.end);
            }
            EXPECT_EQ(joined, row.expected);
        } catch (const MediaProcessingError& error) {
            EXPECT_EQ(error.what(), row.expected);
        }
    }
}

json probe(const fs::path& file, const std::string& entries) {
    std::string output;
    EXPECT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                entries, "-of", "json", file.string()},
                               &output),
              0)
        << file;
    return json::parse(output.empty() ? "{}" : output);
}

// A join keeps every file's chapters where the join places them, the first file's title, the
// first file's default and forced flags wherever the container holds them (MOV holds no forced
// flag), and every packet of every stream.
TEST(JoinMetadata, JoinedFilesKeepChaptersTitleAndFlags) {
    const auto& media = tavtest::TestMedia::shared();
    const std::string title = "Erster Teil \u2014 a;b=c #1 [x]\\";
    const fs::path titled = tavtest::TestMedia::generate(
        "titled.mkv",
        {"-i", media.matroska.string(), "-map", "0", "-c", "copy", "-metadata", "title=" + title});
    const auto mp4 = [&](const std::string& name, const std::string& fileTitle,
                         const std::string& flags) {
        auto arguments = tavtest::words("-i " + media.matroska.string() +
                                        " -map 0:v -map 0:a:0 -map 0:a:0 -map 0:s:0 -c copy "
                                        "-c:s mov_text " +
                                        flags);
        arguments.insert(arguments.end(), {"-metadata", "title=" + fileTitle});
        return tavtest::TestMedia::generate(name, arguments);
    };
    const fs::path flagsA =
        mp4("flags-a.mp4", title,
            "-disposition:a:0 0 -disposition:a:1 default -disposition:s:0 forced");
    const fs::path flagsB = mp4("flags-b.mp4", "Second",
                                "-disposition:a:0 default -disposition:a:1 0 -disposition:s:0 0");
    const struct {
        const char* output;
        std::vector<fs::path> inputs;
        std::string flags;  // each stream's, as ffprobe reads them back
        // MP4 and MOV fill the gap between one file's last cue and the next's first with an
        // empty one.
        long gapCues;
        // One inspection a file: the first file's end, where the second's pictures go, the
        // packet counts and the output's check are read in-process.
        int probes;
    } rows[] = {
        // The first file's subtitle is marked default, the second's is not.
        {"joined.mkv", {titled, media.matroska}, "D D - D F", 0, 2},
        {"joined.mp4", {flagsA, flagsB}, "D - D DF", 1, 2},
        {"joined.mov", {flagsA, flagsB}, "D - D D", 1, 2},
    };
    const std::string entries =
        "format=duration:format_tags=title:chapter=start_time:chapter_tags=title:"
        "stream=codec_type,nb_read_packets:stream_disposition=default,forced";
    tavtest::TempDir folder;
    const auto runner = std::make_shared<tavtest::CountingRunner>();
    FFmpegProcessor processor(runner, ToolLocations{});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.output);
        const fs::path output = folder / row.output;
        const int before = runner->probes;
        processor.process(JoinRequest{row.inputs, output}, {}, {});
        EXPECT_EQ(runner->probes - before, row.probes);

        json read = probe(output, entries);
        const json first = probe(row.inputs[0], entries);
        const json second = probe(row.inputs[1], entries);
        EXPECT_EQ(read["format"]["tags"]["title"], title);
        const double at = std::stod(first["format"]["duration"].get<std::string>());
        std::string chapters;
        for (const auto& chapter : read["chapters"]) {
            chapters += mark(chapter.value("tags", json::object()).value("title", ""),
                             std::stod(chapter["start_time"].get<std::string>()));
        }
        EXPECT_EQ(chapters, mark("Opening", 0) + mark("Finale", 1.5) + mark("Opening", at) +
                                mark("Finale", at + 1.5));
        std::string flags;
        std::vector<long> packets;
        std::vector<long> expected;
        for (std::size_t i = 0; i < read["streams"].size(); ++i) {
            const auto& stream = read["streams"][i];
            if (stream["codec_type"] == "data") {
                continue;  // MP4's chapter track
            }
            const auto& disposition = stream["disposition"];
            const std::string flag = std::string(disposition["default"] == 1 ? "D" : "") +
                                     (disposition["forced"] == 1 ? "F" : "");
            flags += (flags.empty() ? "" : " ") + (flag.empty() ? "-" : flag);
            const auto count = [&](const json& file) {
                return std::stol(file["streams"][i]["nb_read_packets"].get<std::string>());
            };
            packets.push_back(count(read) - (stream["codec_type"] == "subtitle" ? row.gapCues : 0));
            expected.push_back(count(first) + count(second));
        }
        EXPECT_EQ(flags, row.flags);
        EXPECT_EQ(packets, expected);
    }
}

}  // namespace
