// From probed sources to finished files: the queue modes and the real remux jobs.
#include <gtest/gtest.h>

#include "engine/FFmpegProcessor.h"
#include "probe/MatroskaChapterReading.h"
#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxViewModel.h"
#include "support/MatroskaChapterMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class RemuxSubmissionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        queue = std::make_unique<JobQueueViewModel>(std::make_shared<FFmpegProcessor>(
            std::make_shared<FoundationProcessRunner>(), ToolLocations{}));
        model = std::make_unique<RemuxViewModel>(*queue, tavtest::realProbe());
    }

    void addAndWait(const std::vector<fs::path>& files) {
        ASSERT_TRUE(model->addFiles(files));
        ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
        for (const auto& source : model->sources()) {
            ASSERT_TRUE(std::holds_alternative<RemuxSource::Ready>(source.inspectionState));
        }
    }
    bool allJobsFinished() const {
        return std::all_of(queue->jobs().begin(), queue->jobs().end(),
                           [](const ProcessingJob& job) { return job.status.isFinished(); });
    }
    void expectCompleted() const {
        for (const auto& job : queue->jobs()) {
            EXPECT_EQ(job.status, ProcessingJob::Status::completed()) << job.status.message;
        }
    }

    // 1 s of H.264 video and a sine tone in each audio encoding given (encoder and options).
    static fs::path videoWithAudio(const std::string& name,
                                   const std::vector<std::vector<std::string>>& encodings) {
        std::vector<std::string> arguments{
            "-f",      "lavfi",     "-i",       "testsrc2=size=64x36:rate=25:duration=1",
            "-f",      "lavfi",     "-i",       "sine=frequency=440:sample_rate=48000:duration=1",
            "-map",    "0:v",       "-c:v",     "libx264",
            "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
        for (std::size_t i = 0; i < encodings.size(); ++i) {
            const std::string index = std::to_string(i);
            arguments.insert(arguments.end(), {"-map", "1:a", "-c:a:" + index, encodings[i][0]});
            for (std::size_t j = 1; j + 1 < encodings[i].size(); j += 2) {
                arguments.insert(arguments.end(),
                                 {encodings[i][j] + ":" + index, encodings[i][j + 1]});
            }
        }
        return tavtest::TestMedia::generate(name, arguments);
    }

    tavtest::TempDir folder;
    tavtest::TempDir output;
    std::unique_ptr<JobQueueViewModel> queue;
    std::unique_ptr<RemuxViewModel> model;
};

}  // namespace

TEST_F(RemuxSubmissionTest, AddToQueueWaitsForStartAndKeepsTheSourceContainer) {
    const auto movie = tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "Movie.MKV");
    const auto other = tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "other.mkv");
    addAndWait({movie, other});
    model->setOutputDirectoryText(output.path().string());
    model->toggleStream(2, movie);  // the French commentary stays behind
    ASSERT_EQ(model->validationMessage(), std::nullopt);
    ASSERT_TRUE(model->compatibilityIssues().empty());

    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::queue));
    ASSERT_EQ(queue->jobs().size(), 2u);
    EXPECT_EQ(queue->jobs()[0].request.as<RemuxRequest>()->input, movie);
    EXPECT_EQ(queue->jobs()[1].request.as<RemuxRequest>()->input, other);
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(model->outputDirectoryText(), "");
    tavtest::processEventsFor(std::chrono::milliseconds(100));
    EXPECT_FALSE(queue->isWorkerActive());
    EXPECT_EQ(queue->jobs()[0].status, ProcessingJob::Status::queued());

    queue->startWorkerIfNeeded();
    ASSERT_TRUE(tavtest::waitUntil([&] { return allJobsFinished(); }, std::chrono::seconds(60)));
    expectCompleted();
    EXPECT_EQ(output.entries(),
              (std::vector<std::string>{"Movie-converted.MKV", "other-converted.mkv"}));
    EXPECT_EQ(tavtest::probedStreamLines(output / "Movie-converted.MKV"),
              (std::vector<std::string>{"0,h264,video,[0][0][0][0]", "1,aac,audio,[0][0][0][0]",
                                        "2,subrip,subtitle,[0][0][0][0]",
                                        "3,subrip,subtitle,[0][0][0][0]"}));
    std::string audioLanguages;
    tavtest::runTool(
        {"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream_tags=language",
         "-of", "csv=p=0", (output / "Movie-converted.MKV").string()},
        &audioLanguages);
    EXPECT_EQ(audioLanguages, "eng\n") << "the English audio is the one kept";
    EXPECT_EQ(tavtest::probedStreamLines(output / "other-converted.mkv").size(), 5u);

    // The next files set the default folder again.
    addAndWait({tavtest::copyMedia(tavtest::remuxSourceMedia(), output, "third.mkv")});
    EXPECT_EQ(model->outputDirectoryText(), output.path().string());
}

TEST_F(RemuxSubmissionTest, RemuxNowGoesFirstAndConvertsForTheTarget) {
    // A job already waiting in the queue.
    const auto waiting = tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "waiting.mkv");
    addAndWait({waiting});
    model->setOutputDirectoryText(output.path().string());
    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::queue));
    ASSERT_EQ(queue->jobs().size(), 1u);

    const auto hevc = tavtest::copyMedia(tavtest::hevcSourceMedia(), folder, "phone.mkv");
    addAndWait({hevc});
    model->setOutputDirectoryText(output.path().string());
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    ASSERT_EQ(model->container(), OutputContainer::mp4);
    EXPECT_EQ(model->playbackTargetStatus(),
              "Selected tracks match the published iPhone 17 Pro playback formats without video "
              "or audio re-encoding.");
    EXPECT_EQ(model->subtitleConversionNote(),
              "1 selected subtitle stream will be converted to MOV_TEXT. Video and audio will "
              "remain stream-copy.");

    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::now));
    ASSERT_EQ(queue->jobs().size(), 2u);
    EXPECT_EQ(queue->jobs()[0].request.as<RemuxRequest>()->input, hevc);
    EXPECT_TRUE(queue->isWorkerActive());
    EXPECT_EQ(model->container(), OutputContainer::mp4);
    EXPECT_EQ(model->playbackTarget(), PlaybackTarget::iPhone17Pro);

    ASSERT_TRUE(tavtest::waitUntil([&] { return allJobsFinished(); }, std::chrono::seconds(60)));
    expectCompleted();
    EXPECT_EQ(tavtest::probedStreamLines(output / "phone-converted.mp4"),
              (std::vector<std::string>{"0,hevc,video,hvc1", "1,aac,audio,mp4a",
                                        "2,mov_text,subtitle,tx3g"}));
}

TEST_F(RemuxSubmissionTest, ConfirmedDropLeavesUnsupportedStreamsOut) {
    // Matroska's ASS and SubRip both convert into MP4; Opus fails the phone profile.
    const auto media = videoWithAudio("remux-opus.mkv", {{"aac"}, {"libopus", "-b:a", "48k"}});
    const auto source = tavtest::copyMedia(media, folder, "opus.mkv");
    addAndWait({source});
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::now));
    ASSERT_TRUE(model->isShowingCompatibilityConfirmation());
    EXPECT_TRUE(queue->jobs().empty());
    model->confirmDroppingUnsupportedStreams();
    ASSERT_EQ(queue->jobs().size(), 1u);
    ASSERT_TRUE(tavtest::waitUntil([&] { return allJobsFinished(); }, std::chrono::seconds(60)));
    expectCompleted();
    EXPECT_EQ(tavtest::probedStreamLines(folder / "opus-converted.mp4"),
              (std::vector<std::string>{"0,h264,video,avc1", "1,aac,audio,mp4a"}));
    EXPECT_TRUE(fs::exists(source)) << "the source is never changed";
}

// The review names what the installed FFmpeg will not copy, and the job with those streams left
// out then completes.
TEST_F(RemuxSubmissionTest, StreamsTheInstalledFFmpegRefusesAreDroppedBeforeQueueing) {
    auto installed = std::make_shared<InstalledFFmpeg>(std::make_shared<FoundationProcessRunner>(),
                                                       ToolLocations{});
    const auto facts = installed->facts();
    if (!facts || facts->release() != FFmpegRelease{5, 1}) {
        GTEST_SKIP() << "the refusals are measured for FFmpeg 5.1";
    }
    model->setInstalledFFmpeg(installed);
    const auto source = videoWithAudio("review-audio.mkv", {{"libopus"}, {"flac"}, {"pcm_s16le"}});
    addAndWait({tavtest::copyMedia(source, folder, "clip.mkv")});
    model->setOutputDirectoryText(output.path().string());
    struct Row {
        OutputContainer container;
        std::map<std::int64_t, std::string> notes;
    };
    const std::vector<Row> rows{
        {OutputContainer::mov,
         {{1, "Opus audio cannot be copied into MOV by FFmpeg 5.1."},
          {2, "FLAC audio cannot be copied into MOV by FFmpeg 5.1."}}},
        {OutputContainer::mp4,
         {{2, "FLAC audio cannot be copied into MP4 by FFmpeg 5.1."},
          {3, "PCM audio cannot be copied into MP4 by FFmpeg 5.1."}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.container)));
        model->setContainer(row.container);
        EXPECT_EQ(model->unsupportedStreamMessages(model->sources().at(0)), row.notes);
        EXPECT_EQ(model->compatibilityIssues().size(), row.notes.size());
    }
    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::now));
    ASSERT_TRUE(model->isShowingCompatibilityConfirmation());
    model->confirmDroppingUnsupportedStreams();
    ASSERT_EQ(queue->jobs().size(), 1u);
    ASSERT_TRUE(tavtest::waitUntil([&] { return allJobsFinished(); }, std::chrono::seconds(60)));
    expectCompleted();
    EXPECT_TRUE(fs::exists(output / "clip-converted.mp4"));
}

// What the review says a container loses is what ffprobe no longer reads in the copy, and the
// copy keeps the rest.
TEST_F(RemuxSubmissionTest, ReviewNamesThePropertiesTheContainerLoses) {
    const auto srt = (tavtest::TestMedia::shared().folder / "source-eng.srt").string();
    // clang-format off
    const auto media = tavtest::TestMedia::generate("remux-properties.mkv", {
        "-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=1",
        "-f", "lavfi", "-i", "sine=duration=1", "-i", srt,
        "-map", "0:v", "-map", "0:v", "-map", "1:a", "-map", "2:s",
        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac",
        "-c:s", "srt", "-metadata:s:v:1", "title=Second angle", "-metadata:s:a:0", "language=deu",
        "-metadata:s:s:0", "language=fra", "-disposition:s:0", "forced"});
    // clang-format on
    const auto film = tavtest::copyMedia(media, folder, "film.mkv");
    const auto ordered = tavtest::copyMedia(
        tavtest::matroskaWithChapters(
            "remux-ordered.mkv",
            tavtest::chaptersElement(
                true, {{0, 1, "Opening"}, {3, 4, "Ending"}, {0, 1, "Elsewhere", true}})),
        folder, "ordered.mkv");
    addAndWait({film, ordered});
    model->setOutputDirectoryText(output.path().string());
    const std::string chapters =
        "ordered.mkv:\nChapters: the copy keeps the marks but not their order, so it plays from "
        "start to end, with the parts the order skips.\nChapters: the chapters that play part of "
        "another file are left out.\n";
    struct Row {
        OutputContainer container;
        std::string summary;
        std::string filmLosses;
        std::string kept;  // per stream of the copy: forced, language, title
    };
    const std::vector<Row> rows{
        {OutputContainer::mov,
         "MOV will not keep a language, a title, a forced flag, the chapters' order and the "
         "chapters from other files of the source; continuing remuxes without them.",
         "film.mkv:\n#1 video: MOV cannot store the title \u201CSecond angle\u201D.\n#2 audio: MOV "
         "cannot store the language \u201Cdeu\u201D.\n#3 subtitle: MOV cannot keep it marked as "
         "forced.\n\n",
         "0|0|0|0,fra|"},
        {OutputContainer::mp4,
         "MP4 will not keep a title, the chapters' order and the chapters from other files of "
         "the source; continuing remuxes without them.",
         "film.mkv:\n#1 video: MP4 cannot store the title \u201CSecond angle\u201D.\n\n",
         "0,und|0,und|0,deu|1,fra|"},
        {OutputContainer::mkv,
         "MKV will not keep the chapters' order and the chapters from other files of the source; "
         "continuing remuxes without them.",
         "", "0|0,Second angle|0,deu|1,fra|"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.container)));
        model->setContainer(row.container);
        EXPECT_EQ(model->compatibilitySummary(), row.summary);
        ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::now));
        ASSERT_TRUE(model->isShowingCompatibilityConfirmation());
        EXPECT_EQ(model->unsupportedStreamsAlertMessage(),
                  "The output will not keep these properties of the source:\n\n" + row.filmLosses +
                      chapters +
                      "\nContinuing will remux without them. Source files will not be "
                      "changed.");
        const auto jobs = queue->jobs().size();
        model->confirmDroppingUnsupportedStreams();
        ASSERT_EQ(queue->jobs().size(), jobs + 2);
        ASSERT_TRUE(
            tavtest::waitUntil([&] { return allJobsFinished(); }, std::chrono::seconds(60)));
        expectCompleted();
        const std::string extension(rawValue(row.container));
        std::string kept;
        tavtest::runTool({"ffprobe", "-v", "error", "-show_entries",
                          "stream_tags=language,title:stream_disposition=forced", "-of",
                          "csv=p=0:nk=1", (output / ("film-converted." + extension)).string()},
                         &kept);
        std::ranges::replace(kept, '\n', '|');
        EXPECT_EQ(kept, row.kept);
        const auto copy = output / ("ordered-converted." + extension);
        std::string marks;
        tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "chapter_tags=title", "-of",
                          "csv=p=0", copy.string()},
                         &marks);
        EXPECT_EQ(marks, "Opening\nEnding\n") << "the marks stay";
        EXPECT_EQ(readMatroskaChapterEditions(copy), ChapterEditions{});
        addAndWait({film, ordered});
        model->setOutputDirectoryText(output.path().string());
    }
    EXPECT_EQ(readMatroskaChapterEditions(ordered), (ChapterEditions{true, true}));
}
