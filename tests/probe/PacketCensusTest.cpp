#include "probe/PacketCensus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrolin;

TEST(PacketCensus, CountsEveryPacketAndEndsAtTheLatest) {
    // Packets out of order, a pts missing (the dts counts), no duration, no time at all; at
    // ticks of 1/1000 s and 1/90000 s.
    const TimeBase milliseconds{1, 1000};
    const TimeBase clock{1, 90000};
    const auto packet = [](int stream, std::optional<std::int64_t> pts,
                           std::optional<std::int64_t> dts, std::int64_t duration) {
        ReadPacket read;
        read.stream = stream;
        read.pts = pts;
        read.dts = dts;
        read.duration = duration;
        return read;
    };
    PacketCensus census;
    countPacket(census, packet(0, 80, 0, 40), milliseconds);
    countPacket(census, packet(0, 0, -40, 40), milliseconds);
    countPacket(census, packet(1, std::nullopt, 90000, 1920), clock);
    countPacket(census, packet(1, 45000, 45000, 0), clock);
    countPacket(census, packet(2, std::nullopt, std::nullopt, 0), clock);
    EXPECT_EQ(census, (PacketCensus{{0, {2, 0.12}}, {1, {2, 91920.0 / 90000}}, {2, {1, 0}}}));
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
