#include "engine/JobLeftovers.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/FFmpegProcessor.h"
#include "engine/FileOperations.h"
#include "model/Uuid.h"
#include "process/FoundationProcessRunner.h"
#include "support/StandInTools.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

// Polls the disk until `condition` holds, for at most ten seconds.
bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(JobLeftovers, AKilledHostTakesItsFFmpegAlongAndTheNextStartRemovesOnlyWhatItRecorded) {
    const fs::path clip = tavtest::TestMedia::generate(
        "ten-seconds.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=10:duration=10", "-c:v",
                            "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    tavtest::TempDir scratch;
    for (const char* name : {"out", "tmp", "state"}) {
        fs::create_directory(scratch / name);
    }
    const fs::path out = scratch / "out";
    const fs::path pidFile = scratch / "ffmpeg.pid";
    // The real ffmpeg, reading its input in real time: the join takes twenty seconds.
    const auto tools = tavtest::standInTools(
        scratch / "tools", "echo $$ > '" + pidFile.string() + ".new'\nmv '" + pidFile.string() +
                               ".new' '" + pidFile.string() +
                               "'\nexec /usr/bin/ffmpeg -re \"$@\"\n");
    std::ofstream(out / ".clip-clip.tmp-notes.mkv") << "the user's own";

    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        ::setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
        try {
            FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), tools,
                                      scratch / "state");
            processor.process(JoinRequest{{clip, clip}, out / "clip-clip.mkv"}, {}, {});
        } catch (...) {
        }
        ::_exit(0);
    }
    const auto working = [&] {
        for (const auto& name : namesIn(out)) {
            if (name.starts_with(".clip-clip.tmp-tavrolin-")) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor([&] { return fs::exists(pidFile) && working(); }));
    pid_t ffmpeg = 0;
    std::ifstream(pidFile) >> ffmpeg;
    ASSERT_GT(ffmpeg, 0);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, ffmpeg, 0));
    ASSERT_GE(pidfd, 0);
    ASSERT_EQ(::kill(host, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(host, &status, 0), host);
    pollfd exited{pidfd, POLLIN, 0};
    EXPECT_EQ(::poll(&exited, 1, 2000), 1) << "ffmpeg outlived the process that started it";
    ::close(pidfd);

    // A job of a running instance holds its record: it is left alone.
    JobRecord running(scratch / "state");
    const fs::path runningCopy =
        hiddenSiblingName(out / "other.mkv", ".tmp-tavrolin-", Uuid::random());
    running.addWorkingOutput(runningCopy, out / "other.mkv");
    std::ofstream(runningCopy) << "being written";
    ASSERT_EQ(namesIn(scratch / "state").size(), 2u);

    EXPECT_EQ(
        removeJobLeftovers(scratch / "state"),
        std::vector<std::string>{
            "Removed an unfinished copy of \u201Cclip-clip.mkv\u201D left by an earlier run."});
    EXPECT_EQ(namesIn(out), (std::vector<std::string>{".clip-clip.tmp-notes.mkv",
                                                      runningCopy.filename().string()}));
    EXPECT_TRUE(fs::is_empty(scratch / "tmp"));
    EXPECT_EQ(namesIn(scratch / "state").size(), 1u);
    EXPECT_TRUE(removeJobLeftovers(scratch / "state").empty());
}

}  // namespace
}  // namespace tavrolin
