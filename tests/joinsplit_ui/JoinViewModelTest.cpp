// The Join workspace over the real ffprobe and ffmpeg: layout checks and a real join.
#include <gtest/gtest.h>

#include <QThread>

#include <algorithm>

#include "engine/FFmpegProcessor.h"
#include "joinsplit/JoinViewModel.h"
#include "probe/ProbeText.h"
#include "remux/RemuxTestSupport.h"
#include "support/GatedProcessor.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// Two seconds of H.264 and AAC like the shared clips, with other audio settings.
fs::path clipWithAudio(const std::string& name, const std::string& sampleRate,
                       const std::string& channels) {
    return tavtest::TestMedia::generate(
        name, {"-f",       "lavfi",
               "-i",       "testsrc2=size=64x36:rate=25:duration=2",
               "-f",       "lavfi",
               "-i",       "sine=frequency=440:sample_rate=" + sampleRate + ":duration=2",
               "-t",       "2",
               "-c:v",     "libx264",
               "-preset",  "ultrafast",
               "-pix_fmt", "yuv420p",
               "-c:a",     "aac",
               "-ac",      channels,
               "-b:a",     "64k"});
}

class JoinViewModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        makeModel(std::make_shared<tavtest::UnusedProcessor>(), tavtest::realProbe());
    }
    void makeModel(std::shared_ptr<MediaProcessing> processor,
                   std::shared_ptr<MediaProbing> probe) {
        model.reset();
        queue = std::make_unique<JobQueueViewModel>(std::move(processor));
        model = std::make_unique<JoinViewModel>(*queue, std::move(probe));
        model->setOutputFileChooser([this](const std::string& name, OutputContainer container,
                                           const std::optional<fs::path>& start) {
            panelCalls.push_back(name + " " + std::string(rawValue(container)) + " " +
                                 start.value_or("none").string());
            return panelAnswer;
        });
    }
    // Copies the media into the test folder under the given names, adds them and waits.
    void addAndWait(const std::vector<std::pair<fs::path, std::string>>& media) {
        std::vector<fs::path> files;
        for (const auto& [source, name] : media) {
            files.push_back(tavtest::copyMedia(source, folder, name));
        }
        ASSERT_TRUE(model->addFiles(files));
        ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
    }

    tavtest::TempDir folder;
    std::unique_ptr<JobQueueViewModel> queue;
    std::unique_ptr<JoinViewModel> model;
    std::optional<fs::path> panelAnswer;
    std::vector<std::string> panelCalls;
};

}  // namespace

TEST_F(JoinViewModelTest, RealProbesExplainEveryMismatch) {
    const auto& media = tavtest::TestMedia::shared();
    const auto rate44 = clipWithAudio("join-44k.mp4", "44100", "2");
    const auto mono = clipWithAudio("join-mono.mp4", "48000", "1");
    const auto videoOnly = tavtest::TestMedia::generate(
        "join-video-only.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=2",
                                "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    struct Row {
        const char* name;
        std::vector<std::pair<fs::path, std::string>> files;
        OutputContainer container;
        std::string status;
    };
    const Row rows[] = {
        {"matching clips",
         {{media.mp4ClipA, "a.mp4"}, {media.mp4ClipB, "b.mp4"}},
         OutputContainer::mov,
         "Ready for a lossless join: stream order, codecs, dimensions, channels, and MOV "
         "compatibility match."},
        {"sample rate",
         {{media.mp4ClipA, "a.mp4"}, {media.mp4ClipB, "b.mp4"}, {rate44, "c.mp4"}},
         OutputContainer::mp4,
         "#1 Audio stream 1 in \u201Cc.mp4\u201D has a sample rate of 44100 Hz; \u201Ca.mp4\u201D "
         "has 48000 Hz. Lossless Join requires the same sample rate: remove \u201Cc.mp4\u201D "
         "from the list, or resample its audio to 48000 Hz in another program first."},
        {"channels",
         {{media.mp4ClipA, "a.mp4"}, {mono, "b.mp4"}},
         OutputContainer::mp4,
         "#1 Audio stream 1 in \u201Cb.mp4\u201D does not match \u201Ca.mp4\u201D: mono against "
         "stereo. Remove \u201Cb.mp4\u201D from the list, or join it with files made alike."},
        {"count",
         {{media.mp4ClipA, "a.mp4"}, {videoOnly, "b.mp4"}},
         OutputContainer::mp4,
         "\u201Cb.mp4\u201D has 1 stream; \u201Ca.mp4\u201D has 2. #1 Audio stream 1 in "
         "\u201Ca.mp4\u201D has no match in \u201Cb.mp4\u201D. Lossless Join requires the same "
         "stream count and order. Remove \u201Cb.mp4\u201D from the list, or remux "
         "\u201Ca.mp4\u201D in Remux without that stream and join the remuxed file."},
        {"container before comparison",
         {{media.mp4ClipA, "a.mp4"}, {videoOnly, "b.mp4"}},
         OutputContainer::webm,
         "H264 video cannot be written to WEBM by FFmpeg. Choose MP4, MOV, MKV or M4V as the "
         "output container."},
        {"unreadable file",
         {{media.mp4ClipA, "a.mp4"}, {media.randomBytes, "noise.mkv"}},
         OutputContainer::mp4,
         "\u201Cnoise.mkv\u201D is not a video or audio file that "
         "FFmpeg can read (Invalid data found when processing input). Remove it, then add a "
         "media file."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& file : std::vector<fs::path>(model->files())) {
            model->remove(file);
        }
        model->setContainer(row.container);
        addAndWait(row.files);
        EXPECT_EQ(model->statusText().substr(0, row.status.size()), row.status);
        EXPECT_EQ(model->hasBlockingIssue(), row.status.rfind("Ready", 0) != 0);
        model->chooseOutputAndQueue();  // refused when blocked; the panel stays shut here
        ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
    }
    // Only the matching clips opened the panel (cancelled here).
    EXPECT_EQ(panelCalls.size(), 1u);
    EXPECT_TRUE(queue->jobs().empty());
    model->remove(folder / "noise.mkv");
    EXPECT_EQ(model->statusText(),
              "Add at least two files. Tavrolin will inspect their stream "
              "layouts before queueing.");
    addAndWait({{videoOnly, "b.mp4"}});
    // The container is judged before the streams, and the streams again once it fits.
    model->setContainer(OutputContainer::webm);
    EXPECT_EQ(model->compatibilityMessage(), rows[4].status);
    model->setContainer(OutputContainer::mkv);
    EXPECT_EQ(model->compatibilityMessage(), rows[3].status);
}

TEST_F(JoinViewModelTest, ListChangesDropStaleInspections) {
    tavtest::TempDir scripts;
    tavtest::GatedFFprobe gated(scripts);
    makeModel(std::make_shared<tavtest::UnusedProcessor>(), tavtest::realProbe(gated.script()));
    const auto& media = tavtest::TestMedia::shared();
    const auto a = tavtest::copyMedia(media.mp4ClipA, folder, "a.mp4");
    const auto b = tavtest::copyMedia(media.mp4ClipB, folder, "b.mp4");
    const auto c = tavtest::copyMedia(media.mp4ClipA, folder, "c.mp4");
    EXPECT_FALSE(model->addFiles({folder / "no-extension", "relative.mp4"}));
    EXPECT_TRUE(model->addFiles({a, b, a, c}));
    EXPECT_FALSE(model->addFiles({b}));
    EXPECT_EQ(model->files(), (std::vector<fs::path>{a, b, c}));
    EXPECT_EQ(model->statusText(), "Inspecting codecs and stream layouts\u2026");
    EXPECT_FALSE(model->hasBlockingIssue());

    model->move(a, -1);
    model->move(c, +1);
    model->move(c, -1);
    EXPECT_EQ(model->files(), (std::vector<fs::path>{a, c, b}));
    // As many run at once as the machine has cores for: on two, c waits its turn.
    const int running = std::min(3, QThread::idealThreadCount());
    ASSERT_TRUE(tavtest::waitUntil([&] { return gated.runningCount() == running; }));
    // c goes for good; a comes back with a new inspection that the old one's end must not drop.
    model->remove(c);
    model->remove(a);
    model->addFiles({a});
    EXPECT_EQ(model->runningInspectionCount(), 2u);
    tavtest::processEventsFor(std::chrono::milliseconds(300));
    EXPECT_EQ(model->runningInspectionCount(), 2u);
    EXPECT_TRUE(std::holds_alternative<RemuxSource::Loading>(model->inspectionStates().at(a)));
    gated.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
    tavtest::processEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(model->files(), (std::vector<fs::path>{b, a}));
    EXPECT_EQ(model->inspectionStates().size(), 2u);
    EXPECT_FALSE(model->inspectionStates().contains(c));
    EXPECT_FALSE(model->hasBlockingIssue());
    EXPECT_EQ(model->compatibilityMessage(), std::nullopt);
}

TEST_F(JoinViewModelTest, RealJoinLastsAsLongAsItsInputs) {
    makeModel(std::make_shared<FFmpegProcessor>(std::make_shared<FoundationProcessRunner>(),
                                                ToolLocations{}),
              tavtest::realProbe());
    const auto& media = tavtest::TestMedia::shared();
    model->setContainer(OutputContainer::mkv);
    addAndWait({{media.mp4ClipA, "a.mp4"}, {media.mp4ClipB, "b.mp4"}, {media.mp4ClipA, "c.mp4"}});
    model->chooseOutputAndQueue();  // cancelled: nothing changes
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
    EXPECT_EQ(model->files().size(), 3u);
    tavtest::TempDir output;
    panelAnswer = output / "joined.mkv";
    model->chooseOutputAndQueue();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
    EXPECT_EQ(panelCalls, std::vector<std::string>(2, "joined.mkv mkv " + folder.path().string()));
    EXPECT_TRUE(model->files().empty());
    EXPECT_TRUE(model->inspectionStates().empty());
    EXPECT_EQ(model->container(), OutputContainer::mkv);
    ASSERT_EQ(queue->jobs().size(), 1u);
    EXPECT_EQ(*queue->jobs()[0].request.as<JoinRequest>(),
              (JoinRequest{{folder / "a.mp4", folder / "b.mp4", folder / "c.mp4"}, *panelAnswer}));
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue->jobs()[0].status.isFinished(); },
                                   std::chrono::seconds(60)));
    EXPECT_EQ(queue->jobs()[0].status, ProcessingJob::Status::completed())
        << queue->jobs()[0].status.message;
    std::string text;
    ASSERT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                                "csv=p=0", panelAnswer->string()},
                               &text),
              0);
    text.erase(text.find_last_not_of("\r\n") + 1);
    EXPECT_NEAR(parsePosixNumber(text).value_or(0), 6.0, 0.1);
    EXPECT_EQ(output.entries(), std::vector<std::string>{"joined.mkv"});
}

// While a join to a name waits or runs, a second join to that name is refused on the page;
// once the first has ended, the name is free again.
TEST_F(JoinViewModelTest, ASecondJoinToAQueuedOutputIsRefusedOnThePage) {
    auto processor = std::make_shared<tavtest::GatedProcessor>();
    makeModel(processor, tavtest::realProbe());
    const auto& media = tavtest::TestMedia::shared();
    tavtest::TempDir output;
    panelAnswer = output / "jj.mp4";
    addAndWait({{media.mp4ClipA, "a.mp4"}, {media.mp4ClipB, "b.mp4"}});
    model->chooseOutputAndQueue();
    ASSERT_TRUE(tavtest::waitUntil([&] { return processor->startedCount() == 1; }));

    addAndWait({{media.mp4ClipB, "c.mp4"}, {media.mp4ClipA, "d.mp4"}});
    panelAnswer = output.path() / "." / "jj.mp4";
    model->chooseOutputAndQueue();
    ASSERT_TRUE(tavtest::waitUntil([&] { return model->outputProblem().has_value(); }));
    EXPECT_EQ(model->outputProblem(),
              "\u201Cjj.mp4\u201D is already the output of the job running in the queue.");
    EXPECT_EQ(model->files().size(), 2u);
    EXPECT_EQ(queue->jobs().size(), 1u);

    processor->finish();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue->jobs()[0].status.isFinished(); }));
    EXPECT_EQ(model->outputProblem(), std::nullopt) << "the reason went with its job";
    model->chooseOutputAndQueue();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue->jobs().size() == 2u; }));
    EXPECT_EQ(model->outputProblem(), std::nullopt);
    processor->finish();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue->jobs()[1].status.isFinished(); }));
}
