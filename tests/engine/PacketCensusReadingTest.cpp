#include "engine/PacketCensusReading.h"

#include <gtest/gtest.h>

#include <sstream>

#include "process/FFmpegToolchain.h"
#include "support/TestMedia.h"

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

// A 50 s Matroska file, longer than the listed tail: video and audio to the end, a second audio
// track that stops at 15 s and subtitles within the first 3 s, which end before the tail.
fs::path longerThanTheTail() {
    std::vector<std::string> arguments{"-f", "lavfi",
                                       "-i", "testsrc=size=160x120:rate=25:duration=50",
                                       "-f", "lavfi",
                                       "-i", "sine=duration=50:sample_rate=48000",
                                       "-f", "lavfi",
                                       "-t", "15",
                                       "-i", "sine=frequency=880:sample_rate=48000",
                                       "-i", tavtest::TestMedia::shared().matroska.string()};
    arguments.insert(arguments.end(), {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-map", "3:s:0",
                                       "-c:v", "libx264", "-preset", "ultrafast", "-g", "50",
                                       "-c:a", "aac", "-c:s", "copy"});
    return tavtest::TestMedia::generate("census.mkv", arguments);
}

// What ffprobe's listing of every packet gives: each stream's count and latest end.
PacketCensus listedCensus(const fs::path& ffprobe, const fs::path& file) {
    std::string text;
    EXPECT_EQ(tavtest::runTool({ffprobe.string(), "-v", "error", "-show_entries",
                                "packet=stream_index,pts_time,dts_time,duration_time", "-of",
                                "csv=p=0", file.string()},
                               &text),
              0);
    PacketCensus census;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, ',');) {
            fields.push_back(field);
        }
        fields.resize(4, "N/A");
        auto& stream = census[std::stoll(fields[0])];
        ++stream.count;
        const std::string& start = fields[1] != "N/A" ? fields[1] : fields[2];
        if (start != "N/A") {
            stream.end = std::max(
                stream.end, std::stod(start) + (fields[3] != "N/A" ? std::stod(fields[3]) : 0.0));
        }
    }
    return census;
}

TEST(PacketCensusReading, ReadsWhatAFullListingReadsAndCatchesACopyMissingPackets) {
    const auto [ffmpeg, ffprobe] = FFmpegToolchain::resolve(ToolLocations{});
    const fs::path source = longerThanTheTail();
    const auto census = readPacketCensusOrNone(source, {});
    ASSERT_TRUE(census);
    const auto expected = listedCensus(ffprobe, source);
    ASSERT_EQ(expected.size(), 4u);
    ASSERT_EQ(census->size(), 4u);
    for (const auto& [stream, packets] : expected) {
        SCOPED_TRACE(stream);
        EXPECT_EQ(census->at(stream).count, packets.count);
        // ffprobe prints microseconds.
        EXPECT_NEAR(census->at(stream).end, packets.end, 2e-6);
    }
    EXPECT_GT(census->at(0).end, 49.5);
    EXPECT_LT(census->at(2).end, 16);
    EXPECT_LT(census->at(3).end, 4);

    struct Row {
        const char* copyName;
        std::vector<std::string> options;
        bool whole;
    };
    const std::vector<Row> rows{
        {"whole.mkv", {"-map", "0"}, true},
        {"no-subtitles.mp4", {"-map", "0:0", "-map", "0:1", "-map", "0:2"}, true},
        {"last-5s-cut.mkv", {"-map", "0", "-t", "45"}, false},
        {"early-audio-cut.mkv", {"-map", "0", "-bsf:a:1", "noise=drop=gte(pts*tb\\,10)"}, false},
    };
    const std::vector<CopiedStream> copied{{0, 0}, {1, 1}, {2, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.copyName);
        const fs::path copy = source.parent_path() / (std::string("census-") + row.copyName);
        fs::remove(copy);
        std::vector<std::string> command{ffmpeg.string(), "-v", "error", "-i", source.string()};
        command.insert(command.end(), row.options.begin(), row.options.end());
        command.insert(command.end(), {"-c", "copy", copy.string()});
        ASSERT_EQ(tavtest::runTool(command), 0);
        const auto read = readPacketCensusOrNone(copy, {});
        ASSERT_TRUE(read);
        EXPECT_EQ(holdsEveryPacket(*census, *read, copied), row.whole);
        fs::remove(copy);
    }
    EXPECT_FALSE(readPacketCensusOrNone(tavtest::TestMedia::shared().randomBytes, {}));
}

}  // namespace
}  // namespace tavrolin
