// The Split workspace: files, selection, editing, the output folder and real split jobs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/FFmpegProcessor.h"
#include "joinsplit/SplitViewModel.h"
#include "probe/ProbeText.h"
#include "remux/RemuxTestSupport.h"
#include "support/ReadOnlyMount.h"
#include "support/SplitCaseMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class SplitViewModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        queue = std::make_unique<JobQueueViewModel>(std::make_shared<tavtest::UnusedProcessor>());
        model = std::make_unique<SplitViewModel>(*queue, nullptr);
        model->setFolderChooser([this](const std::optional<fs::path>& start) {
            panelStarts.push_back(start);
            return panelAnswer;
        });
    }

    std::vector<fs::path> files() const {
        std::vector<fs::path> result;
        for (const auto& source : model->sources()) {
            result.push_back(source.file);
        }
        return result;
    }

    bool readingEnded() const {
        return tavtest::waitUntil(
            [&] {
                return std::none_of(model->sources().begin(), model->sources().end(),
                                    [](const auto& source) { return source.isReadingKeyframes; });
            },
            std::chrono::seconds(60));
    }

    bool jobsFinished() const {
        return tavtest::waitUntil(
            [&] {
                return std::all_of(queue->jobs().begin(), queue->jobs().end(),
                                   [](const auto& job) { return job.status.isFinished(); });
            },
            std::chrono::seconds(60));
    }

    std::unique_ptr<JobQueueViewModel> queue;
    std::unique_ptr<SplitViewModel> model;
    std::optional<fs::path> panelAnswer;
    std::vector<std::optional<fs::path>> panelStarts;
};

}  // namespace

TEST_F(SplitViewModelTest, FilesSelectionAndDefaultFolder) {
    const fs::path a("/m/one/a.mp4"), b("/m/two/b.mkv"), c("/m/c.MOV");
    EXPECT_FALSE(model->addFiles({"/m/no-extension", "relative.mp4", "/m/.hidden"}));
    EXPECT_EQ(model->outputDirectory(), std::nullopt);

    EXPECT_TRUE(model->addFiles({"/m/no-extension", a, b, a}));
    EXPECT_EQ(files(), (std::vector<fs::path>{a, b}));
    EXPECT_EQ(model->selectedFile(), a);
    EXPECT_EQ(model->outputDirectory(), fs::path("/m/one"));
    EXPECT_FALSE(model->addFiles({b}));
    EXPECT_TRUE(model->addFiles({c}));
    EXPECT_EQ(model->selectedFile(), a);
    EXPECT_EQ(model->outputDirectory(), fs::path("/m/one"));  // only an empty list moves it

    struct Row {
        const char* name;
        std::optional<fs::path> selected;
        fs::path removed;
        std::optional<fs::path> selectedAfter;
    };
    const Row rows[] = {
        {"selected middle: the next one", b, b, c},
        {"selected last: the new last", c, c, b},
        {"unselected: selection stays", a, c, a},
        {"not a source: nothing", a, "/m/d.mp4", a},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model->addFiles({a, b, c});
        ASSERT_EQ(files(), (std::vector<fs::path>{a, b, c}));
        model->selectFile(row.selected);
        model->removeSource(row.removed);
        EXPECT_EQ(model->selectedFile(), row.selectedAfter);
        for (const auto& file : files()) {
            model->removeSource(file);
        }
    }
    EXPECT_EQ(model->selectedFile(), std::nullopt);
    EXPECT_EQ(model->outputDirectory(), fs::path("/m/one"));
    EXPECT_EQ(model->validationMessage(), "Add at least one file.");
}

TEST_F(SplitViewModelTest, EditsReachOnlyTheSelectedConfiguration) {
    const fs::path a("/m/a.mp4"), b("/m/b.mkv");
    model->setStartText("3");  // no selection: nothing
    model->addFiles({a, b});
    model->selectFile(b);
    model->setSplitPointFromPreview(12.5000004);
    EXPECT_EQ(model->selectedConfiguration()->operationMode, SplitOperationMode::atPoint);
    EXPECT_EQ(model->selectedConfiguration()->splitPointText, "12.5");
    EXPECT_EQ(model->outputCount(), 3);
    model->setEndFromPreview(-4);
    EXPECT_EQ(model->selectedConfiguration()->operationMode, SplitOperationMode::range);
    EXPECT_EQ(model->selectedConfiguration()->listSummary(), "0s\u20130s");
    EXPECT_EQ(model->validationMessage(), "b.mkv: Enter an end time later than the start time.");
    model->setStartFromPreview(1.25);
    model->setEndText("9");
    model->setContainer(OutputContainer::webm);
    EXPECT_EQ(model->selectedConfiguration()->selectionSummary(), "Start: 1.25s  \u00B7  End: 9s");
    EXPECT_EQ(model->validationMessage(), std::nullopt);
    // An output that a queued job will write is refused.
    const auto clip = model->makeRequests(model->sources()[1], "/m/").at(0);
    queue->enqueue({clip});
    EXPECT_EQ(model->validationMessage(),
              "\u201C" + clip.output().filename().string() +
                  "\u201D is already the output of a job waiting in the queue.");

    model->setOperationMode(SplitOperationMode::atPoint);
    model->setSplitPointText("");
    EXPECT_EQ(model->selectedConfiguration()->listSummary(), "Split at \u2014");
    EXPECT_EQ(model->selectedConfiguration()->startText, "1.25");  // kept across modes
    EXPECT_EQ(model->sources()[0], SplitSourceConfiguration(a));

    model->selectFile(fs::path("/m/gone.mp4"));
    const auto before = model->sources();
    model->setStartText("7");
    model->setSplitPointFromPreview(3);
    EXPECT_EQ(model->sources(), before);
}

TEST_F(SplitViewModelTest, ChosenFolderOutlivesAddingUntilSubmit) {
    model->chooseOutputDirectory();  // nothing yet: the panel opens without a folder
    model->addFiles({"/m/a.mp4"});
    model->chooseOutputDirectory();  // cancelled
    EXPECT_EQ(model->outputDirectory(), fs::path("/m"));
    EXPECT_FALSE(model->hasUserSelectedOutputDirectory());
    panelAnswer = "/chosen";
    model->chooseOutputDirectory();
    EXPECT_EQ(panelStarts,
              (std::vector<std::optional<fs::path>>{std::nullopt, fs::path("/m"), fs::path("/m")}));
    model->removeSource("/m/a.mp4");
    model->addFiles({"/elsewhere/b.mp4"});
    EXPECT_EQ(model->outputDirectory(), fs::path("/chosen"));

    ASSERT_TRUE(tavtest::submitChecked(*model));
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(model->outputDirectory(), std::nullopt);
    EXPECT_FALSE(model->hasUserSelectedOutputDirectory());
    model->addFiles({"/elsewhere/c.mp4"});
    EXPECT_EQ(model->outputDirectory(), fs::path("/elsewhere"));
}

// The folder is checked when chosen and again on submit: one that became read-only meanwhile
// queues nothing, and the page says why.
TEST_F(SplitViewModelTest, AFolderThatTakesNoFileIsRefusedOnSubmit) {
    tavtest::TempDir folder;
    fs::create_directory(folder / "later");
    model->addFiles({"/m/a.mp4"});
    panelAnswer = folder / "later";
    model->chooseOutputDirectory();
    EXPECT_EQ(model->validationMessage(), std::nullopt);
    tavtest::ReadOnlyMount readOnly(folder / "later");
    if (!readOnly.isMounted()) {
        GTEST_SKIP() << readOnly.skipReason();
    }
    ASSERT_TRUE(tavtest::submitChecked(*model));
    EXPECT_TRUE(queue->jobs().empty());
    EXPECT_EQ(model->validationMessage(),
              "Tavrolin cannot create files in the output folder \u201Clater\u201D (Read-only "
              "file system). Choose another folder.");
}

// Keyframes every second, read when the files are added: every cut falls on the keyframe at or
// before the time asked, and the jobs carry those times.
TEST_F(SplitViewModelTest, RealSplitJobsCutOnTheKeyframesTheyShow) {
    const auto media = tavtest::TestMedia::generate(
        "split-6s.mp4", {"-f",
                         "lavfi",
                         "-i",
                         "testsrc2=size=64x36:rate=25:duration=6",
                         "-f",
                         "lavfi",
                         "-i",
                         "sine=frequency=440:sample_rate=48000:duration=6",
                         "-c:v",
                         "libx264",
                         "-preset",
                         "ultrafast",
                         "-g",
                         "25",
                         "-keyint_min",
                         "25",
                         "-sc_threshold",
                         "0",
                         "-pix_fmt",
                         "yuv420p",
                         "-c:a",
                         "aac",
                         "-shortest"});
    tavtest::TempDir folder, output;
    const auto clipSource = tavtest::copyMedia(media, folder, "Trip.MP4");
    const auto cutSource = tavtest::copyMedia(media, folder, "cut.mp4");
    queue = std::make_unique<JobQueueViewModel>(std::make_shared<FFmpegProcessor>(
        std::make_shared<FoundationProcessRunner>(), ToolLocations{}));
    model = std::make_unique<SplitViewModel>(*queue, nullptr, makeSplitKeyframeReader());
    model->setFolderChooser([&](const auto&) { return std::optional(output.path()); });

    const auto noise =
        tavtest::copyMedia(tavtest::TestMedia::shared().randomBytes, folder, "noise.mp4");
    ASSERT_TRUE(model->addFiles({clipSource, cutSource, noise, folder.path() / "missing.mp4"}));
    EXPECT_EQ(model->validationMessage(),
              "Trip.MP4: Tavrolin is still reading where this file can be cut.");
    ASSERT_TRUE(readingEnded());
    // A file that is not media says so in one sentence, not led by its name again.
    EXPECT_EQ(model->validationMessage(),
              "\u201Cnoise.mp4\u201D is not a video or audio file that FFmpeg can read (Invalid "
              "data found when processing input). Remove it, then add a media file.");
    EXPECT_TRUE(model->sources()[3].keyframeError.has_value());
    // It writes nothing, so it counts for no output; a file that failed otherwise still does.
    EXPECT_TRUE(model->sources()[2].isNotMedia);
    EXPECT_FALSE(model->sources()[3].isNotMedia);
    EXPECT_EQ(model->outputCount(), 3);
    model->removeSource(noise);
    model->removeSource(folder.path() / "missing.mp4");
    model->selectFile(clipSource);
    model->chooseOutputDirectory();
    model->setStartText("2");
    model->setEndText("4.5");
    EXPECT_EQ(model->selectedConfiguration()->listSummary(), "00:00:02.000\u201300:00:04.000");
    model->selectFile(cutSource);
    model->setSplitPointFromPreview(3.96);
    model->setContainer(OutputContainer::mkv);
    ASSERT_EQ(model->outputCount(), 3);
    ASSERT_TRUE(tavtest::submitChecked(*model));
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(model->selectedFile(), std::nullopt);
    ASSERT_EQ(queue->jobs().size(), 3u);
    ASSERT_TRUE(jobsFinished());

    struct Row {
        const char* output;
        double duration;
        double start;
    };
    // Part 1 starts wherever the file does.
    const double beginning = -std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {"Trip-clip.MP4", 2, 2}, {"cut-part-1.mkv", 3, beginning}, {"cut-part-2.mkv", 3, 3}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].output);
        EXPECT_EQ(queue->jobs()[i].status, ProcessingJob::Status::completed())
            << queue->jobs()[i].status.message;
        EXPECT_EQ(queue->jobs()[i].request.as<SplitRequest>()->output, output / rows[i].output);
        const double start = queue->jobs()[i].request.as<SplitRequest>()->startTime;
        EXPECT_TRUE(start == rows[i].start || std::abs(start - rows[i].start) < 0.001) << start;
        std::string text;
        ASSERT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                    "-of", "csv=p=0", (output / rows[i].output).string()},
                                   &text),
                  0);
        text.erase(text.find_last_not_of("\r\n") + 1);
        EXPECT_NEAR(parsePosixNumber(text).value_or(-10), rows[i].duration, 0.1);
    }
    EXPECT_EQ(output.entries(),
              (std::vector<std::string>{"Trip-clip.MP4", "cut-part-1.mkv", "cut-part-2.mkv"}));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"Trip.MP4", "cut.mp4", "noise.mp4"}));
}

// The streams are read when a file is added: a container that cannot hold them as copied is
// refused before queueing with the one to choose, and what a part leaves out is said. What
// passes the page is written by the real jobs.
TEST_F(SplitViewModelTest, ContainerIsCheckedAgainstTheRealStreamsBeforeQueueing) {
    const auto& shared = tavtest::TestMedia::shared();
    const auto fonts = tavtest::TestMedia::generate(
        "split-fonts.mkv", {"-i", shared.matroska.string(), "-map", "0:v", "-map", "0:a:0", "-c",
                            "copy", "-attach", (shared.folder / "source-eng.srt").string(),
                            "-metadata:s:t", "mimetype=application/x-truetype-font"});
    const auto timecode = tavtest::TestMedia::generate(
        "split-timecode.mov",
        {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=4", "-c:v", "libx264",
         "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p", "-timecode", "01:00:00:00"});
    tavtest::TempDir folder, output;
    const auto subs = tavtest::copyMedia(shared.matroska, folder, "subs.mkv");
    const auto font = tavtest::copyMedia(fonts, folder, "font.mkv");
    const auto clock = tavtest::copyMedia(timecode, folder, "clock.mov");
    const auto avi =
        tavtest::copyMedia(tavtest::splitCaseFile(tavtest::SplitCase::aviMp3), folder, "avi.avi");
    queue = std::make_unique<JobQueueViewModel>(std::make_shared<FFmpegProcessor>(
        std::make_shared<FoundationProcessRunner>(), ToolLocations{}));
    model = std::make_unique<SplitViewModel>(
        *queue, nullptr, makeSplitKeyframeReader(),
        makeSplitStreamReader(std::make_shared<FoundationProcessRunner>(), ToolLocations{}));
    model->setFolderChooser([&](const auto&) { return std::optional(output.path()); });
    ASSERT_TRUE(model->addFiles({subs, font, clock, avi}));
    ASSERT_TRUE(readingEnded());
    model->chooseOutputDirectory();
    // The End is the file's own length until one is typed, also for a file the page refuses
    // (an AVI's sound runs on past its video).
    model->selectFile(avi);
    EXPECT_EQ(model->selectedConfiguration()->listSummary(), "0s\u201312.096s");
    EXPECT_NE(model->validationMessage().value_or("").find("no presentation times"),
              std::string::npos)
        << model->validationMessage().value_or("");
    model->setEndText("3");
    model->setContainer(OutputContainer::mkv);
    EXPECT_EQ(model->selectedConfiguration()->endText, "3");
    model->removeSource(avi);
    model->selectFile(clock);
    EXPECT_EQ(model->selectedConfiguration()->endText, "4");

    struct Row {
        fs::path file;
        std::optional<OutputContainer> container;
        std::optional<std::string> message;
        std::optional<std::string> note;
    };
    const Row rows[] = {
        {subs, OutputContainer::mp4,
         "MP4 cannot hold the SUBRIP subtitle (stream 3) and the ASS subtitle (stream 4) of "
         "\u201Csubs.mkv\u201D, and a split copies every stream unchanged. Choose MKV for this "
         "file.",
         std::nullopt},
        {subs, std::nullopt, std::nullopt, std::nullopt},
        {clock, std::nullopt, std::nullopt, std::nullopt},
        // The timecode track is written anew from the video's timecode, in MP4 too.
        {clock, OutputContainer::mp4, std::nullopt, std::nullopt},
        {font, OutputContainer::mp4, std::nullopt,
         "The parts of \u201Cfont.mkv\u201D leave out its 1 attachment (fonts and other files): "
         "only MKV holds them. Choose MKV to keep them."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file.filename().string());
        model->selectFile(row.file);
        model->setContainer(row.container);
        EXPECT_EQ(model->validationMessage(), row.message);
        EXPECT_EQ(model->selectedConfiguration()->streamNote(), row.note);
    }
    ASSERT_TRUE(tavtest::submitChecked(*model));
    ASSERT_EQ(queue->jobs().size(), 3u);
    ASSERT_TRUE(jobsFinished());
    for (const auto& job : queue->jobs()) {
        EXPECT_EQ(job.status, ProcessingJob::Status::completed()) << job.status.message;
    }
    // Every stream but the attachment the note named.
    const auto streamTypes = [&](const char* name) {
        std::string text;
        EXPECT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type",
                                    "-of", "csv=p=0", (output / name).string()},
                                   &text),
                  0);
        return text;
    };
    EXPECT_EQ(streamTypes("subs-clip.mkv"), "video\naudio\naudio\nsubtitle\nsubtitle\n");
    // MP4 writes the chapters as a text track.
    EXPECT_EQ(streamTypes("font-clip.mp4"), "video\naudio\ndata\n");
    EXPECT_EQ(streamTypes("clock-clip.mp4"), "video\ndata\n");
    EXPECT_EQ(folder.entries(),
              (std::vector<std::string>{"avi.avi", "clock.mov", "font.mkv", "subs.mkv"}));
}
