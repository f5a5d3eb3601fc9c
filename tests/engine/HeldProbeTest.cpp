#include "engine/split/HeldProbe.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/FFmpegInputThreads.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

// A probe held before its input is written reads it once released, as a probe run then would;
// one that cannot read, cannot hold or is stopped never leaves its caller waiting or its FIFO
// behind.
TEST(HeldProbe, ReadsTheFileWrittenMeanwhileAndNeverWaitsForARunThatEnded) {
    const auto ffprobe = FFmpegToolchain::resolve(ToolLocations{}).ffprobe;
    FoundationProcessRunner runner;
    tavtest::TempDir folder;
    const fs::path written = folder / "copy.mkv";
    const std::vector<std::string> header{
        "-v",  "error",   "-show_entries", "stream=index,codec_type",
        "-of", "csv=p=0", written.string()};
    const std::vector<std::string> refused{"-no-such-option", written.string()};
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        fs::path fifo;
        bool writeFile = true;
        bool stop = false;
        int status = 0;  // below 0: any failure
    };
    const std::vector<Row> rows{
        {"released once the file is written", header, folder / "a.fifo"},
        {"its FIFO cannot be made: it runs when asked", header, folder / "none" / "b.fifo"},
        {"the file never came", header, folder / "c.fifo", false, false, -1},
        {"arguments ffprobe refuses before it opens the FIFO", refused, folder / "d.fifo", true,
         false, -1},
        {"stopped while held", header, folder / "e.fifo", true, true, 128 + SIGTERM},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(written);
        std::stop_source stop;
        ProcessResult result;
        {
            HeldProbe probe(runner, ffprobe, row.arguments, row.fifo, stop.get_token());
            if (row.writeFile) {
                fs::copy_file(tavtest::TestMedia::shared().matroska, written);
            }
            if (row.stop) {
                stop.request_stop();
            }
            result = probe.finish();
        }
        EXPECT_FALSE(fs::exists(row.fifo));
        if (row.status < 0) {
            EXPECT_NE(result.terminationStatus, 0);
        } else {
            EXPECT_EQ(result.terminationStatus, row.status) << result.standardError;
        }
        if (row.status == 0) {
            EXPECT_EQ(result.standardOutput, "0,video\n1,audio\n2,audio\n3,subtitle\n4,subtitle\n");
        }
    }
}

// ffmpeg 5.1 reads a second input on a thread of its own unless its queue is 0.
TEST(HeldProbe, SeveralInputsAreReadOnTheMainThreadOnlyBy51) {
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
