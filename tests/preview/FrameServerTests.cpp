#include "preview/FrameServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "preview/LibavFrameDecoder.h"
#include "preview/PreviewMediaError.h"
#include "support/IndexedClips.h"
#include "support/TestMedia.h"

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

int shown(const VideoFrame& picture) {
    return tavtest::indexShownIn(picture.bgra.data(), picture.width, picture.height,
                                 picture.width * 4);
}

// Every frame in shuffled order, a full forward pass of single steps and a full backward pass
// of single steps (crossing every keyframe backwards), with no tolerance.
TEST(LibavFrameDecoder, ShowsExactlyTheRequestedFrameOnEveryClip) {
    for (const auto& clip : tavtest::indexedClips()) {
        SCOPED_TRACE(clip.name);
        LibavFrameDecoder decoder(clip.file);
        const VideoFrameIndex& index = decoder.index();
        ASSERT_EQ(index.count(), tavtest::ffprobeFrameCount(clip.file));
        EXPECT_GT(index.keyframes.size(), 1u);

        std::vector<std::size_t> order(index.count());
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        for (std::size_t wanted : order) {
            ASSERT_EQ(shown(decoder.decode(wanted)), static_cast<int>(wanted)) << "shuffled";
        }
        for (std::size_t wanted = 0; wanted < index.count(); ++wanted) {
            ASSERT_EQ(shown(decoder.decode(wanted)), static_cast<int>(wanted)) << "forward";
        }
        for (std::size_t wanted = index.count(); wanted-- > 0;) {
            ASSERT_EQ(shown(decoder.decode(wanted)), static_cast<int>(wanted)) << "backward";
        }
        // Past the end clamps to the last frame.
        EXPECT_EQ(shown(decoder.decode(index.count() + 5)), static_cast<int>(index.count() - 1));

        // Every time on the nominal grid names its own frame, also where the container rounds
        // frame times to milliseconds; a time inside a frame's interval names that frame.
        for (std::size_t frame = 0; frame < index.count(); ++frame) {
            const double start = static_cast<double>(frame) / index.frameRate;
            ASSERT_EQ(index.frameCovering(start), frame);
            ASSERT_EQ(index.frameCovering(start + 0.6 / index.frameRate), frame);
        }
        EXPECT_EQ(index.frameCovering(-1), 0u);
        EXPECT_EQ(index.frameCovering(index.duration + 1), index.count() - 1);
        EXPECT_NEAR(index.duration, index.count() / index.frameRate, 0.05);
    }
}

TEST(LibavFrameDecoder, OpensOddNamesAndRefusesWhatItCannotShow) {
    const auto& media = tavtest::TestMedia::shared();
    for (const auto& file : media.oddNames) {
        SCOPED_TRACE(file.filename().string());
        LibavFrameDecoder decoder(file);
        EXPECT_EQ(decoder.index().count(), tavtest::ffprobeFrameCount(media.mp4ClipA));
    }
    struct Row {
        std::filesystem::path file;
        PreviewMediaError::Case expected;
    };
    const std::vector<Row> rows = {
        {media.randomBytes, PreviewMediaError::Case::cannotOpen},
        {media.empty, PreviewMediaError::Case::cannotOpen},
        {media.folder / "missing.mp4", PreviewMediaError::Case::cannotOpen},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.filename().string());
        try {
            LibavFrameDecoder decoder(row.file);
            ADD_FAILURE() << "opened";
        } catch (const PreviewMediaError& error) {
            EXPECT_EQ(error.errorCase(), row.expected);
            EXPECT_NE(std::string(error.what()).find(row.file.filename().string()),
                      std::string::npos);
        }
    }
    // Audio alone opens with its duration and an empty grid; asking it for a picture fails.
    const auto audio = tavtest::TestMedia::generate(
        "tone.m4a", {"-f", "lavfi", "-i", "sine=d=1.5", "-c:a", "aac"});
    LibavFrameDecoder decoder(audio);
    EXPECT_EQ(decoder.index().count(), 0u);
    EXPECT_NEAR(decoder.index().duration, 1.5, 0.05);
    EXPECT_THROW(decoder.decode(0), PreviewMediaError);
}

// A phone's video, stored on its side with a display matrix, comes upright: the picture is
// turned the way the probe names the turn, and its size is the size shown.
TEST(LibavFrameDecoder, ShowsATurnedVideoUpright) {
    const auto stored = tavtest::indexedClip("indexed-to-turn.mp4", "25", 10,
                                             {"-c:v", "libx264", "-g", "5", "-bf", "0"});
    struct Row {
        const char* tag;  // ffmpeg's rotate tag, which it writes as a display matrix
        int clockwise;    // the turn as the probe reads that matrix
    };
    const std::vector<Row> rows{{"0", 0}, {"270", 90}, {"180", 180}, {"90", 270}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.clockwise);
        const auto file =
            tavtest::TestMedia::generate(std::string("turned-") + row.tag + ".mp4",
                                         {"-i", stored.string(), "-c", "copy", "-metadata:s:v:0",
                                          std::string("rotate=") + row.tag});
        LibavFrameDecoder decoder(file);
        EXPECT_EQ(decoder.index().rotation, row.clockwise);
        const VideoFrame picture = decoder.decode(7);
        const bool sideways = row.clockwise % 180 != 0;
        ASSERT_EQ(picture.width, sideways ? 48 : 320);
        ASSERT_EQ(picture.height, sideways ? 320 : 48);
        // The stored picture's blocks run left to right; turned, they run down (90), right to
        // left (180) or up (270).
        int shownIndex = 0;
        for (int bit = 0; bit < 16; ++bit) {
            const int along = (2 * bit + 1) * (sideways ? picture.height : picture.width) / 32;
            const int reversed = (sideways ? picture.height : picture.width) - 1 - along;
            const int x = sideways ? picture.width / 2 : (row.clockwise == 180 ? reversed : along);
            const int y =
                !sideways ? picture.height / 2 : (row.clockwise == 270 ? reversed : along);
            const auto green =
                picture.bgra[(static_cast<std::size_t>(y) * picture.width + x) * 4 + 1];
            shownIndex |= (green > 128 ? 1 : 0) << bit;
        }
        EXPECT_EQ(shownIndex, 7);
    }
}

// A burst of requests ends on the last one; superseded requests are skipped, not queued.
TEST(FrameServer, ServesTheNewestRequestOfABurst) {
    const auto& clip = tavtest::indexedClips()[0];
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<int> delivered;
    FrameServer server(std::make_unique<LibavFrameDecoder>(clip.file), [&](VideoFrame picture) {
        std::lock_guard lock(mutex);
        delivered.push_back(shown(picture));
        arrived.notify_all();
    });
    std::mt19937 random(3);
    int last = 0;
    for (int i = 0; i < 30; ++i) {
        last = static_cast<int>(random() % server.index().count());
        server.request(static_cast<std::size_t>(last));
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, 10s,
                                 [&] { return !delivered.empty() && delivered.back() == last; }));
    lock.unlock();
    std::this_thread::sleep_for(200ms);
    lock.lock();
    EXPECT_EQ(delivered.back(), last);
    EXPECT_LE(delivered.size(), 3u);
}

}  // namespace
