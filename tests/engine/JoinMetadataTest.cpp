#include "engine/JoinMetadata.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "engine/FFmpegProcessor.h"
#include "model/MediaProcessingError.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// A chapter read back: its title and start, to the millisecond.
using Mark = std::pair<std::string, double>;

std::vector<Mark> marks(const std::vector<SourceChapter>& chapters) {
    std::vector<Mark> read;
    for (const auto& chapter : chapters) {
        read.emplace_back(chapter.tags.empty() ? "" : chapter.tags.front().second, chapter.start);
    }
    return read;
}

TEST(JoinMetadata, PlacesEachFilesChaptersAfterTheFilesBeforeIt) {
    const SourceChapter whole{0, 2, {{"title", "A"}}};
    // A recording's timestamps start late; its chapters count from there.
    const JoinedFileFacts late{
        2.0, 1.4, {}, {{1.4, 2.4, {{"title", "L1"}}}, {2.4, 9, {{"title", "L2"}}}}, {}};
    const JoinedFileFacts plain{2.5, 0, {}, {whole}, {}};
    const JoinedFileFacts unknown{std::nullopt, 0, {}, {whole}, {}};
    const JoinedFileFacts bare{2.5, 0, {}, {}, {}};
    struct Row {
        const char* name;
        std::vector<JoinedFileFacts> facts;
        std::vector<Mark> expected;
        std::vector<double> ends;
        std::optional<std::string> error = std::nullopt;
    };
    const Row rows[] = {
        {"a late start, and a chapter past its file's end clipped to it",
         {plain, late, plain},
         {{"A", 0}, {"L1", 2.5}, {"L2", 3.5}, {"A", 4.5}},
         {2, 3.5, 4.5, 6.5}},
        {"a file without chapters still moves the next", {bare, plain}, {{"A", 2.5}}, {4.5}},
        {"no length last: nothing after it to place",
         {plain, unknown},
         {{"A", 0}, {"A", 2.5}},
         {2, 4.5}},
        {"no length before chapters",
         {unknown, bare, plain},
         {},
         {},
         "Tavrolin could not read the length of \u201Cb.mkv\u201D, so it cannot place the chapters "
         "of the files after it. Join it last or remove it from the list."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<fs::path> files{"/m/b.mkv", "/m/c.mkv", "/m/d.mkv"};
        if (row.error) {
            const auto error = tavtest::processingError([&] { joinedChapters(files, row.facts); });
            EXPECT_EQ(error.what(), *row.error);
            continue;
        }
        const auto joined = joinedChapters(files, row.facts);
        EXPECT_EQ(marks(joined), row.expected);
        std::vector<double> ends;
        for (const auto& chapter : joined) {
            ends.push_back(chapter.end);
        }
        EXPECT_EQ(ends, row.ends);
    }
}

nlohmann::json probe(const fs::path& file, const std::string& entries, bool count = false) {
    std::string output;
    std::vector<std::string> command{"ffprobe", "-v",  "error", "-show_entries",
                                     entries,   "-of", "json"};
    if (count) {
        command.push_back("-count_packets");
    }
    command.push_back(file.string());
    EXPECT_EQ(tavtest::runTool(command, &output), 0) << file;
    return nlohmann::json::parse(output.empty() ? "{}" : output);
}

// Each video, audio and subtitle stream's packets, in order.
std::vector<long> packetCounts(const fs::path& file) {
    std::vector<long> counts;
    for (const auto& stream : probe(file, "stream=codec_type,nb_read_packets", true)["streams"]) {
        if (stream["codec_type"] != "data" && stream["codec_type"] != "attachment") {
            counts.push_back(std::stol(stream["nb_read_packets"].get<std::string>()));
        }
    }
    return counts;
}

// A join keeps the chapters of every file where the join places them, the first file's title,
// and the first file's default and forced flags wherever the container holds them (MOV holds
// no forced flag), and every packet of every stream.
TEST(JoinMetadata, JoinedFilesKeepChaptersTitleAndFlags) {
    const auto& media = tavtest::TestMedia::shared();
    const std::string title = "Erster Teil \u2014 a;b=c #1 [x]\\";
    const fs::path titled = tavtest::TestMedia::generate(
        "titled.mkv",
        {"-i", media.matroska.string(), "-map", "0", "-c", "copy", "-metadata", "title=" + title});
    const auto mp4 = [&](const std::string& name, const std::string& fileTitle,
                         const char* firstAudio, const char* secondAudio, const char* subtitle) {
        return tavtest::TestMedia::generate(name, {"-i",
                                                   media.matroska.string(),
                                                   "-map",
                                                   "0:v",
                                                   "-map",
                                                   "0:a:0",
                                                   "-map",
                                                   "0:a:0",
                                                   "-map",
                                                   "0:s:0",
                                                   "-c",
                                                   "copy",
                                                   "-c:s",
                                                   "mov_text",
                                                   "-metadata",
                                                   "title=" + fileTitle,
                                                   "-disposition:a:0",
                                                   firstAudio,
                                                   "-disposition:a:1",
                                                   secondAudio,
                                                   "-disposition:s:0",
                                                   subtitle});
    };
    const fs::path flagsA = mp4("flags-a.mp4", title, "0", "default", "forced");
    const fs::path flagsB = mp4("flags-b.mp4", "Second", "default", "0", "0");
    struct Row {
        const char* output;
        std::vector<fs::path> inputs;
        // Each stream's flags as ffprobe reads them back.
        std::vector<std::string> flags;
    };
    const Row rows[] = {
        // The first file's subtitle is marked default, the second's is not.
        {"joined.mkv", {titled, media.matroska}, {"default", "default", "", "default", "forced"}},
        {"joined.mp4", {flagsA, flagsB}, {"default", "", "default", "default+forced"}},
        {"joined.mov", {flagsA, flagsB}, {"default", "", "default", "default"}},
    };
    tavtest::TempDir folder;
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.output);
        const fs::path output = folder.path() / row.output;
        processor.process(JoinRequest{row.inputs, output}, {}, {});

        auto read = probe(output,
                          "format_tags=title:chapter=start_time:chapter_tags=title:stream="
                          "codec_type:stream_disposition=default,forced");
        EXPECT_EQ(read["format"]["tags"]["title"], title);
        const double first = std::stod(
            probe(row.inputs[0], "format=duration")["format"]["duration"].get<std::string>());
        std::vector<Mark> chapters;
        for (const auto& chapter : read["chapters"]) {
            chapters.emplace_back(
                chapter.value("tags", nlohmann::json::object()).value("title", std::string()),
                std::round(std::stod(chapter["start_time"].get<std::string>()) * 100) / 100);
        }
        const double second = std::round((first + 1.5) * 100) / 100;
        EXPECT_EQ(chapters, (std::vector<Mark>{{"Opening", 0},
                                               {"Finale", 1.5},
                                               {"Opening", std::round(first * 100) / 100},
                                               {"Finale", second}}));
        std::vector<std::string> flags;
        for (const auto& stream : read["streams"]) {
            if (stream["codec_type"] == "data") {
                continue;  // MP4's chapter track
            }
            const auto& disposition = stream["disposition"];
            std::string text = disposition["default"] == 1 ? "default" : "";
            if (disposition["forced"] == 1) {
                text += text.empty() ? "forced" : "+forced";
            }
            flags.push_back(text);
        }
        EXPECT_EQ(flags, row.flags);

        auto expected = packetCounts(row.inputs[0]);
        const auto secondCounts = packetCounts(row.inputs[1]);
        ASSERT_EQ(expected.size(), secondCounts.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            expected[i] += secondCounts[i];
        }
        EXPECT_EQ(packetCounts(output), expected);
    }
}

}  // namespace
