#include "probe/PacketCensus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrolin;

TEST(PacketCensus, ReadsCountsEndsAndTheOutline) {
    // Counts and the duration, with lines of another shape.
    const std::string counts =
        "stream,0,180000\nstream,1,337560\nstream,2,0\nstream,x,4\nstream,3\nstream,4,-1\n"
        "5,7\n\nformat,7200.040000\n";
    EXPECT_EQ(parsePacketCounts(counts),
              (PacketCensus{{0, {180000, 0}}, {1, {337560, 0}}, {2, {0, 0}}}));
    EXPECT_EQ(parseCountedDuration(counts), 7200.04);
    EXPECT_EQ(parseCountedDuration("stream,0,1\nformat,N/A\n"), std::nullopt);

    // Packets out of order, a pts missing (the dts counts), no duration, no time at all, a
    // trailing side-data field, and lines of another shape; with and without a first time.
    const std::string listing =
        "0,0.080000,0.000000,0.040000\n"
        "0,0.000000,-0.040000,0.040000\n"
        "1,N/A,1.000000,0.021333\n"
        "1,0.500000,0.500000,N/A\n"
        "3,N/A,N/A,N/A\n"
        "1,-0.023220,-0.023220,0.023220,\n"
        "2,0.250000,0.250000,5.000000\n"
        "\n"
        "x,1,2,3\n"
        "2,5\n";
    EXPECT_EQ(parsePacketEnds(listing),
              (std::map<std::int64_t, double>{{0, 0.12}, {1, 1.021333}, {2, 5.25}}));
    EXPECT_EQ(parsePacketEnds(listing, 0.4), (std::map<std::int64_t, double>{{1, 1.021333}}));

    const auto outline = parseCensusOutline(
        R"({"streams":[{"index":0,"codec_type":"video","disposition":{"attached_pic":0}},)"
        R"({"index":1,"codec_type":"video","disposition":{"attached_pic":1}},)"
        R"({"index":2,"codec_type":"attachment"}],)"
        R"("format":{"start_time":"10.000000","duration":"7201.260000"}})");
    ASSERT_TRUE(outline);
    EXPECT_EQ(*outline, (CensusOutline{7211.26, {1, 2}}));
    EXPECT_EQ(parseCensusOutline("not json"), std::nullopt);
}

TEST(PacketCensus, ACopyHoldsEveryPacketOnlyWithTheSameCountsAndEnds) {
    // A copy whose stream 0 is the source's stream 1 and stream 1 the source's stream 0; the
    // source's stream 2 is not compared.
    const PacketCensus source{{0, {200, 8.0}}, {1, {375, 8.02}}, {2, {1, 2.0}}};
    struct Row {
        const char* name;
        PacketCensus copy;
        bool whole;
    };
    const std::vector<Row> rows{
        {"every packet", {{0, {375, 8.02}}, {1, {200, 8.021}}, {3, {4, 4.0}}}, true},
        {"last packets timed a little apart", {{0, {375, 7.6}}, {1, {200, 8.4}}}, true},
        {"a packet short", {{0, {374, 8.0}}, {1, {200, 8.0}}}, false},
        {"ending too early", {{0, {375, 7.4}}, {1, {200, 8.0}}}, false},
        {"a stream missing", {{0, {375, 8.02}}}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(holdsEveryPacket(source, row.copy, {{1, 0}, {0, 1}}), row.whole);
    }
}
