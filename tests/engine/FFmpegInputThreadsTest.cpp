#include "engine/FFmpegInputThreads.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrolin {
namespace {

// ffmpeg 5.1 reads a second input on a thread of its own unless its queue is 0.
TEST(FFmpegInputThreads, SeveralInputsAreReadOnTheMainThreadOnlyBy51) {
    const std::vector<std::string> one{"-i", "/a.mkv", "/c.mkv"};
    const std::vector<std::string> two{"-i", "/a.mkv", "-f", "srt", "-i", "/b.srt", "/c.mkv"};
    EXPECT_EQ(readingInputsOnMainThread(two, FFmpegRelease{5, 1}),
              (std::vector<std::string>{"-thread_queue_size", "0", "-i", "/a.mkv", "-f", "srt",
                                        "-thread_queue_size", "0", "-i", "/b.srt", "/c.mkv"}));
    EXPECT_EQ(readingInputsOnMainThread(two, FFmpegRelease{6, 0}), two);
    EXPECT_EQ(readingInputsOnMainThread(two, std::nullopt), two);
    EXPECT_EQ(readingInputsOnMainThread(one, FFmpegRelease{5, 1}), one);
}

}  // namespace
}  // namespace tavrolin
