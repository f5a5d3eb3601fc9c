#include "engine/split/SplitStreamCuts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tavrolin {
namespace {

TEST(SplitStreamCuts, TimecodesCountOnFromTheCut) {
    const StreamTimeBase pal{25, 1};
    const StreamTimeBase ntsc{30000, 1001};
    const StreamTimeBase ntsc60{60000, 1001};
    const struct {
        const char* timecode;
        StreamTimeBase rate;
        double seconds;
        std::optional<std::string> shifted;
    } rows[] = {
        {"01:00:00:00", pal, 4, "01:00:04:00"},
        {"10:59:59:24", pal, 0.04, "11:00:00:00"},
        {"23:59:59:20", pal, 0.4, "00:00:00:05"},  // a day wraps
        {"00:00:10:00", {24000, 1001}, 3.5035, "00:00:13:12"},
        // Drop-frame labels skip ;00 and ;01 of every minute but each tenth.
        {"00:00:59;29", ntsc, 1001.0 / 30000, "00:01:00;02"},
        {"00:09:59;29", ntsc, 1001.0 / 30000, "00:10:00;00"},
        {"01:00:00;00", ntsc, 600, "01:10:00;00"},
        {"00:00:59;59", ntsc60, 1001.0 / 60000, "00:01:00;04"},
        {"00:00:00:00", pal, 0, "00:00:00:00"},
        // Not a timecode, or not one at that rate.
        {"00:00:00:25", pal, 1, std::nullopt},
        {"00:61:00:00", pal, 1, std::nullopt},
        {"00:00:00;00", pal, 1, std::nullopt},
        {"1:00:00:00", pal, 1, std::nullopt},
        {"01:00:00:00", {0, 1}, 1, std::nullopt},
        {"01:00:00:0x", pal, 1, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.timecode);
        EXPECT_EQ(shiftedTimecode(row.timecode, row.rate, row.seconds), row.shifted);
    }
}

}  // namespace
// An MP3 part starts half a frame before the first of its warm-up frames: as many as its
// source's reservoir needs, never more than the 12 bits of its header's delay can hide (four
// MPEG-1 frames, eight MPEG-2), four when it was not measured.
TEST(SplitStreamCuts, Mp3WarmUpStartsHalfAFrameBeforeItsFrames) {
    const struct {
        std::int64_t rate;
        std::optional<int> measured;
        int frames;
    } rows[] = {
        {44100, std::nullopt, 4}, {44100, 2, 2}, {44100, 6, 4}, {22050, 6, 6}, {22050, 12, 8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.rate) + " " + std::to_string(row.measured.value_or(-1)));
        SplitStream stream(0, SplitStreamRole::timed);
        stream.kind = "audio";
        stream.codec = "mp3";
        stream.sampleRate = row.rate;
        stream.mp3WarmUpFrames = row.measured;
        const double frame = (row.rate > 32000 ? 1152.0 : 576.0) / static_cast<double>(row.rate);
        // 100.3 frames in: the part starts with frame 101.
        EXPECT_NEAR(splitAudioWarmUpStart(stream, "part.mp3", 100.3 * frame),
                    (101 - row.frames - 0.5) * frame, 1e-9);
    }
}

}  // namespace tavrolin
