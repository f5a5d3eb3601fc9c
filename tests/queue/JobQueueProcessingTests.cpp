#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "engine/FFmpegProcessor.h"
#include "model/Uuid.h"
#include "process/FoundationProcessRunner.h"
#include "queue/JobQueueViewModel.h"
#include "queue/QueueTestSupport.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
using tavtest::ensureApplication;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = ProcessingJob::Status::Kind;

namespace {

int lineCount(const fs::path& file) {
    std::ifstream in(file);
    int lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines;
}

// The real processor and runner behind the queue, with stand-in tools: the source "slow.mp4"
// makes the stand-in hang (ffmpeg after creating its output, or ffprobe);
// everything else goes to the real tools.
class JobQueueProcessingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        fs::create_directories(tools());
        writeTool("ffmpeg", ffmpegLog(), "touch \"${@: -1}\"\n  exec sleep 30");
        writeTool("ffprobe", ffprobeLog(), "exec sleep 30");
        slowSource_ = scratch_ / "slow.mp4";
        fs::copy_file(tavtest::TestMedia::shared().mp4ClipA, slowSource_);

        auto preferences = std::make_shared<InMemoryPreferencesStore>();
        preferences->setString("customFFmpegPath", (tools() / "ffmpeg").string());
        ToolLocations locations;
        locations.preferences = preferences;
        queue_ = std::make_unique<JobQueueViewModel>(std::make_shared<FFmpegProcessor>(
            std::make_shared<FoundationProcessRunner>(), locations));
    }
    void TearDown() override {
        if (queue_) {
            EXPECT_TRUE(queue_->shutdown(10s));
        }
    }

    void writeTool(const std::string& name, const fs::path& log, const std::string& slowPart) {
        std::ofstream(tools() / name)
            << "#!/bin/bash\n"
            << "echo \"$*\" >> '" << log.string() << "'\n"
            << "if [[ \"$*\" == *slow.mp4* ]]; then\n  " << slowPart << "\nfi\n"
            << "exec /usr/bin/" << name << " \"$@\"\n";
        fs::permissions(tools() / name, fs::perms::owner_all);
    }

    fs::path tools() const { return scratch_ / "tools"; }
    fs::path outputs() const { return outputs_.path(); }
    fs::path ffmpegLog() const { return scratch_ / "ffmpeg.log"; }
    fs::path ffprobeLog() const { return scratch_ / "ffprobe.log"; }

    RemuxRequest remux(const fs::path& input, const std::string& outputName) const {
        MediaStream video;
        video.index = 0;
        video.kind = MediaStreamKind::video;
        video.codecName = "h264";
        return RemuxRequest{input, outputs() / outputName, {video}, {}, {}};
    }

    tavtest::TempDir scratch_, outputs_;
    fs::path slowSource_;
    std::unique_ptr<JobQueueViewModel> queue_;
};

}  // namespace

TEST_F(JobQueueProcessingTest, CancelCurrentLeavesNoWorkingFileAndTheNextJobRuns) {
    queue_->enqueueNext({remux(slowSource_, "slow-converted.mkv"),
                         remux(tavtest::TestMedia::shared().mp4ClipA, "fast-converted.mkv")});
    // The stand-in has created its working output and hangs.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lineCount(ffmpegLog()) == 1 && !outputs_.entries().empty(); }, 10000));
    ASSERT_TRUE(queue_->hasRunningJob());

    queue_->cancelRunningJob();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !queue_->hasRunningJob() && !queue_->isWorkerActive(); }, 20000));
    EXPECT_EQ(queue_->jobs()[0].status.kind, Kind::cancelled);
    EXPECT_EQ(queue_->jobs()[1].status, ProcessingJob::Status::completed());
    EXPECT_EQ(queue_->jobs()[1].fractionCompleted, 1.0);
    EXPECT_EQ(outputs_.entries(), (std::vector<std::string>{"fast-converted.mkv"}));
    EXPECT_EQ(lineCount(ffmpegLog()), 2);
}

TEST_F(JobQueueProcessingTest, CancellingDuringTheDurationProbeWritesNothing) {
    // A chapter job needs the source's duration before ffmpeg can start.
    queue_->enqueueNext({ChapterRequest{slowSource_,
                                        outputs() / "slow-chapters.mp4",
                                        {ChapterMarker{Uuid::random(), 0, "Start"}}}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return lineCount(ffprobeLog()) >= 1; }, 10000));
    queue_->cancelRunningJob();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !queue_->isWorkerActive(); }, 20000));
    EXPECT_EQ(queue_->jobs()[0].status.kind, Kind::cancelled);
    EXPECT_FALSE(fs::exists(ffmpegLog()));
    EXPECT_TRUE(outputs_.entries().empty());
}

TEST_F(JobQueueProcessingTest, AFailedJobShowsFFmpegsMessageAndTheQueueGoesOn) {
    const auto& media = tavtest::TestMedia::shared();
    // The second output already exists: the processor refuses to overwrite it.
    std::ofstream(outputs() / "taken.mkv") << "keep me";
    queue_->enqueue({remux(media.randomBytes, "random-converted.mkv"),
                     remux(media.mp4ClipA, "taken.mkv"), remux(media.mp4ClipB, "b.mkv")});
    queue_->startWorkerIfNeeded();
    ASSERT_TRUE(QTest::qWaitFor([&] { return queue_->activeJobCount() == 0; }, 20000));
    EXPECT_EQ(queue_->jobs()[0].status.kind, Kind::failed);
    EXPECT_FALSE(queue_->jobs()[0].status.message.empty());
    EXPECT_EQ(queue_->jobs()[1].status.kind, Kind::failed);
    EXPECT_NE(queue_->jobs()[1].status.message.find("taken.mkv"), std::string::npos)
        << queue_->jobs()[1].status.message;
    EXPECT_EQ(queue_->jobs()[2].status.kind, Kind::completed);
    EXPECT_EQ(outputs_.entries(), (std::vector<std::string>{"b.mkv", "taken.mkv"}));
    std::ifstream kept(outputs() / "taken.mkv");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
}

TEST_F(JobQueueProcessingTest, ShutdownStopsTheRunningJobAndCleansUp) {
    queue_->enqueueNext({remux(slowSource_, "slow-converted.mkv"),
                         remux(tavtest::TestMedia::shared().mp4ClipA, "never.mkv")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lineCount(ffmpegLog()) == 1 && !outputs_.entries().empty(); }, 10000));
    EXPECT_TRUE(queue_->shutdown(10s));
    EXPECT_TRUE(outputs_.entries().empty());
    queue_.reset();
    QTest::qWait(20);
    EXPECT_EQ(lineCount(ffmpegLog()), 1);
}
