#include "engine/PacketCensusReading.h"

#include <gtest/gtest.h>

#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"
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

// What a count of every stream's packets and a listing of the whole file give.
PacketCensus fullCensus(const fs::path& ffprobe, const fs::path& file) {
    const auto report = [&ffprobe](std::vector<std::string> command) {
        command.insert(command.begin(), ffprobe.string());
        std::string text;
        EXPECT_EQ(tavtest::runTool(command, &text), 0);
        return text;
    };
    PacketCensus census = parsePacketCounts(report(packetCountArguments(file)));
    for (const auto& [stream, end] : parsePacketEnds(report(packetListArguments(file, {}, {})))) {
        census[stream].end = end;
    }
    return census;
}

TEST(PacketCensusReading, ReadsWhatAFullListingReadsAndCatchesACopyMissingPackets) {
    const auto [ffmpeg, ffprobe] = FFmpegToolchain::resolve(ToolLocations{});
    FoundationProcessRunner runner;
    const fs::path source = longerThanTheTail();
    const std::vector<std::int64_t> streams{0, 1, 2, 3};
    const auto census = readPacketCensus(runner, source, streams, ffprobe, {});
    ASSERT_TRUE(census);
    const auto expected = fullCensus(ffprobe, source);
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(census->packets, expected);
    EXPECT_GT(census->packets.at(0).end, 49.5);
    EXPECT_LT(census->packets.at(2).end, 16);
    EXPECT_LT(census->packets.at(3).end, 4);
    ASSERT_TRUE(census->duration);
    EXPECT_NEAR(*census->duration, 50, 0.1);

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
        const auto read = readPacketCensus(runner, copy, {0, 1, 2}, ffprobe, {});
        ASSERT_TRUE(read);
        EXPECT_EQ(holdsEveryPacket(census->packets, read->packets, copied), row.whole);
        fs::remove(copy);
    }
    EXPECT_FALSE(
        readPacketCensus(runner, tavtest::TestMedia::shared().randomBytes, streams, ffprobe, {}));
}

}  // namespace
}  // namespace tavrolin
