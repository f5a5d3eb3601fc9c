#include "engine/FFmpegProgressTracker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include <thread>
#include "support/TestMedia.h"

using namespace tavrolin;
using ::testing::DoubleEq;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A report as ffmpeg 5.1 writes it for a 10 s output, two blocks and the final one.
const std::string recordedReport =
    "frame=0\nfps=0.00\nstream_0_0_q=-1.0\nbitrate=N/A\ntotal_size=48\nout_time_us=N/A\n"
    "out_time_ms=N/A\nout_time=N/A\ndup_frames=0\ndrop_frames=0\nspeed=N/A\nprogress=continue\n"
    "frame=120\nfps=0.00\nbitrate=N/A\ntotal_size=1048576\nout_time_us=2500000\n"
    "out_time_ms=2500000\nout_time=00:00:02.500000\nspeed=5.0x\nprogress=continue\n"
    "frame=90\nout_time_us=2000000\nprogress=continue\n"
    "frame=250\nout_time_us=10400000\nout_time_ms=10400000\nprogress=end\n";

std::vector<double> feedInPieces(const std::string& report, const std::vector<std::size_t>& cuts) {
    std::vector<double> seen;
    FFmpegProgressTracker tracker(10.0, [&](double fraction) { seen.push_back(fraction); });
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        tracker.consume(std::string_view(report).substr(start, cut - start));
        start = cut;
    }
    tracker.consume(std::string_view(report).substr(start));
    return seen;
}

}  // namespace

TEST(FFmpegProgressParser, ReadsOnlyCompleteOutTimeLines) {
    FFmpegProgressParser parser;
    EXPECT_THAT(parser.consume("out_time_us=60000000\nframe=3\n", 120), ElementsAre(0.5));
    EXPECT_EQ(parser.pendingText(), "");

    EXPECT_THAT(parser.consume("out_time_us=600", 120), IsEmpty());
    EXPECT_THAT(parser.consume("00000\n", 120), ElementsAre(0.5));

    EXPECT_THAT(parser.consume("out_time_us=12000000\nout_time_us=24000000\nout_time_us=0\n", 120),
                ElementsAre(DoubleEq(0.1), DoubleEq(0.2), 0.0));

    // Not a number, empty, trailing text, a lookalike key, and values outside the duration.
    EXPECT_THAT(parser.consume("out_time_us=N/A\nout_time_us=\nout_time_us=5x\n"
                               "out_time=00:00:01.0\nout_time_ms=5000000\n"
                               "out_time_us=-30\nout_time_us=999000000\n",
                               120),
                ElementsAre(0.0, 1.0));

    // A last line without a line feed is never reported.
    EXPECT_THAT(parser.consume("out_time_us=60000000", 120), IsEmpty());
    EXPECT_EQ(parser.pendingText(), "out_time_us=60000000");
}

TEST(FFmpegProgressParser, DropsEverythingWithoutAPositiveDuration) {
    FFmpegProgressParser parser;
    EXPECT_THAT(parser.consume("out_time_us=1000000\n", 0), IsEmpty());
    EXPECT_THAT(parser.consume("out_time_us=1000000\n", -5), IsEmpty());
    EXPECT_THAT(parser.consume("out_time_us=1000000\n", std::nan("")), IsEmpty());
    EXPECT_EQ(parser.pendingText(), "");
    EXPECT_THAT(parser.consume("out_time_us=1000000\n", 2), ElementsAre(0.5));
}

TEST(FFmpegProgressTracker, GivesTheSameFractionsWhereverTheChunksAreCut) {
    const std::vector<double> expected{0.25, 0.25, 1.0};  // 0.2 lies behind 0.25
    EXPECT_EQ(feedInPieces(recordedReport, {}), expected);

    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < recordedReport.size(); ++i) {
        everyByte.push_back(i);
    }
    EXPECT_EQ(feedInPieces(recordedReport, everyByte), expected);

    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i < recordedReport.size(); ++i) {
            if (random() % 9 == 0) {
                cuts.push_back(i);
            }
        }
        EXPECT_EQ(feedInPieces(recordedReport, cuts), expected);
    }
}

TEST(FFmpegProgressTracker, SerialisesChunksAndCallsTheHandlerOutsideItsLock) {
    std::vector<double> seen;
    std::mutex seenMutex;
    FFmpegProgressTracker* self = nullptr;
    FFmpegProgressTracker tracker(4.0, [&](double fraction) {
        // Feeding the tracker from its own handler would deadlock if the lock were held.
        if (fraction == 0.5) {
            self->consume("out_time_us=3000000\n");
        }
        std::lock_guard lock(seenMutex);
        seen.push_back(fraction);
    });
    self = &tracker;
    tracker.consume("out_time_us=2000000\n");
    EXPECT_THAT(seen, ElementsAre(0.75, 0.5));

    seen.clear();
    std::thread other([&] { tracker.consume("out_time_us=4000000\n"); });
    other.join();
    EXPECT_THAT(seen, ElementsAre(1.0));
}

TEST(FFmpegProgressTracker, FollowsARealFFmpegReportCutAnywhere) {
    // About twenty report blocks from one second of output.
    std::string report;
    ASSERT_EQ(tavtest::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-nostats", "-re", "-f",
                                "lavfi", "-i", "testsrc=size=64x36:rate=25:duration=1",
                                "-stats_period", "0.05", "-progress", "pipe:1", "-f", "null", "-"},
                               &report),
              0);
    const auto whole = feedInPieces(report, {});
    ASSERT_GE(whole.size(), 5u);
    EXPECT_TRUE(std::is_sorted(whole.begin(), whole.end()));
    EXPECT_GE(whole.front(), 0.0);
    EXPECT_LE(whole.back(), 1.0);
    EXPECT_GT(whole.back(), 0.09);  // 1 s of the tracker's 10 s

    std::mt19937 random(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t i = 1; i < report.size(); ++i) {
            if (random() % (round + 2) == 0) {
                cuts.push_back(i);
            }
        }
        EXPECT_EQ(feedInPieces(report, cuts), whole);
    }
}
