// The workspace with the real tools: ffprobe inspection, PocketSphinx transcription of
// espeak-ng speech, SubRip export, and media exports through the real queue and processor.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QGuiApplication>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../transcription/SpeechTestSupport.h"
#include "engine/FFmpegProcessor.h"
#include "engine/SubtitleDocumentRenderer.h"
#include "model/OutputFolderCheck.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "queue/JobQueueViewModel.h"
#include "support/IdleServices.h"
#include "support/QtTestApplication.h"
#include "support/ReadOnlyMount.h"
#include "support/SlowFolder.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "transcription/LocalMediaTranscriptionService.h"
#include "transcription/PocketSphinxRecognizer.h"
#include "transcription/TranscriptionViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Kind = BatchTranscriptionSourceStatus::Kind;

namespace {

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

nlohmann::json probeJson(const fs::path& file) {
    std::string output;
    EXPECT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries",
                                "stream=codec_type,codec_name:stream_tags=language,title,handler_"
                                "name:chapter=start_time:chapter_tags=title",
                                "-of", "json", file.string()},
                               &output),
              0);
    return nlohmann::json::parse(output);
}

// The transcript stream (the last subtitle stream) and the chapter titles of a file.
struct Written {
    std::string language;
    std::string title;
    std::vector<std::string> chapters;
};

Written written(const fs::path& file) {
    const auto json = probeJson(file);
    Written result;
    for (const auto& stream : json["streams"]) {
        if (stream["codec_type"] == "subtitle") {
            const auto tags = stream.value("tags", nlohmann::json::object());
            result.language = tags.value("language", "");
            result.title = tags.value("title", tags.value("handler_name", ""));
        }
    }
    for (const auto& chapter : json["chapters"]) {
        result.chapters.push_back(chapter["tags"].value("title", ""));
    }
    return result;
}

struct Workspace {
    explicit Workspace(std::shared_ptr<MediaTranscribing> transcription) {
        model = std::make_unique<TranscriptionViewModel>(
            TranscriptionViewModel::Services{
                std::make_shared<FFprobeService>(std::make_shared<FoundationProcessRunner>(),
                                                 ToolLocations{}),
                std::move(transcription), std::make_shared<tavtest::NoSummaries>(),
                std::make_shared<SubtitleFileExporter>(),
                std::make_shared<InMemoryPreferencesStore>()},
            queue,
            TranscriptionViewModel::Panels{
                [this](const std::string& name, OutputContainer, const auto&) {
                    suggested.push_back(name);
                    return chosen;
                },
                [this](const std::string& name, SubtitleFileFormat, const auto&) {
                    suggested.push_back(name);
                    return chosen;
                }});
    }
    ~Workspace() {
        model.reset();
        EXPECT_TRUE(queue.shutdown(std::chrono::seconds(10)));
    }
    const TranscriptionWorkspaceState& state() const { return model->state(); }
    bool settled(int timeoutMs = 60000) {
        return tavtest::waitUntil(
            [&] {
                const bool jobsDone =
                    std::all_of(queue.jobs().begin(), queue.jobs().end(),
                                [](const auto& j) { return j.status.isFinished(); });
                return !model->isInspecting() && !state().isTranscribing &&
                       !model->isExportingSubtitles() && jobsDone &&
                       state().availability.kind !=
                           TranscriptionWorkspaceAvailability::Kind::checking;
            },
            timeoutMs);
    }

    // An export waits for its output folder's check before it queues or writes anything.
    bool checked() {
        return tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); });
    }

    QApplication& application = tavtest::qtApplication();
    tavtest::TempDir folder;
    JobQueueViewModel queue{std::make_shared<FFmpegProcessor>(
        std::make_shared<FoundationProcessRunner>(), ToolLocations{})};
    std::unique_ptr<TranscriptionViewModel> model;
    std::optional<fs::path> chosen;
    std::vector<std::string> suggested;
};

std::shared_ptr<MediaTranscribing> pocketSphinx(const fs::path& workingRoot) {
    return std::make_shared<LocalMediaTranscriptionService>(
        std::make_shared<FoundationProcessRunner>(), std::make_shared<PocketSphinxRecognizer>(),
        ToolLocations{}, workingRoot);
}

}  // namespace

TEST(TranscriptionWorkspaceMedia, TranscribesTwoFilesShiftsAndExportsSubRip) {
    const std::string speech =
        "The weather today is sunny and warm. <break time=\"1s\"/> We will go to the market "
        "tomorrow morning.";
    const auto audioOnly =
        tavtest::makeSpeech("workspace-a.mka", speech, {"-ac", "2", "-c:a", "aac"});
    const auto withVideo =
        tavtest::makeSpeech("workspace-b.mp4", speech,
                            {"-f", "lavfi", "-i", "color=c=black:s=64x48:r=10", "-map", "1:v",
                             "-map", "0:a", "-shortest", "-c:v", "libx264", "-c:a", "aac"});
    tavtest::TempDir working;
    Workspace w(pocketSphinx(working.path()));
    ASSERT_TRUE(w.model->addSources({audioOnly, withVideo}));
    ASSERT_TRUE(w.settled());
    ASSERT_TRUE(w.state().canTranscribeAllSources());
    w.model->transcribeAllReadySources();
    ASSERT_TRUE(w.settled(120000));
    EXPECT_EQ(w.state().message, "Transcribed 2 files. Review the results before exporting.");
    for (const auto& source : w.state().sources) {
        SCOPED_TRACE(source.url.filename().string());
        EXPECT_EQ(source.status.kind, Kind::completed);
        EXPECT_FALSE(source.cues.empty());
        EXPECT_EQ(source.selectedAudioStreamIndex, source.url.extension() == ".mp4" ? 1 : 0);
    }
    EXPECT_TRUE(working.entries().empty());

    const auto before = w.state().cues();
    w.model->applySubtitleTimingOffset(0.5);
    ASSERT_EQ(w.state().cues().size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_NEAR(w.state().cues()[i].startTime, before[i].startTime + 0.5, 1e-9);
        EXPECT_NEAR(w.state().cues()[i].endTime, before[i].endTime + 0.5, 1e-9);
    }
    EXPECT_EQ(w.state().subtitleTimingOffsetText(), "+0.5 s");

    const fs::path destination = w.folder / "workspace-a.en.srt";
    w.chosen = destination;
    w.model->exportSubtitles();
    ASSERT_TRUE(w.checked());
    ASSERT_TRUE(w.settled());
    EXPECT_EQ(w.suggested.back(), "workspace-a.en.srt");
    EXPECT_EQ(w.state().message, "Exported workspace-a.en.srt.");
    // No cue ends after the end of the media.
    const auto exported = w.state().subtitleExportCues();
    EXPECT_LE(exported.back().endTime, *w.state().selectedSource()->mediaDuration);
    EXPECT_EQ(contents(destination),
              SubtitleDocumentRenderer().render(exported, SubtitleFileFormat::srt));

    std::ofstream(destination, std::ios::trunc) << "mine";
    w.model->exportSubtitles();
    ASSERT_TRUE(w.checked());
    ASSERT_TRUE(w.settled());
    EXPECT_EQ(w.state().errorMessage,
              "A file already exists at that location. Choose a new filename.");
    EXPECT_EQ(contents(destination), "mine");
    // A folder that takes no new file refuses subtitles and media before anything is written.
    tavtest::ReadOnlyMount readOnly(w.folder / "read-only");
    if (readOnly.isMounted()) {
        const auto refused = outputFolderProblem(readOnly.path());
        ASSERT_TRUE(refused);
        w.chosen = readOnly.path() / "a.srt";
        w.model->exportSubtitles();
        ASSERT_TRUE(w.checked());
        EXPECT_EQ(w.state().errorMessage, refused);
        w.chosen = readOnly.path() / "a.mkv";
        w.model->exportSelectedMedia();
        ASSERT_TRUE(w.checked());
        EXPECT_EQ(w.state().errorMessage, refused);
        EXPECT_TRUE(w.queue.jobs().empty());
    }

    // Closing the workspace during a transcription leaves no child and no working folder, once
    // the stopped worker, which is not waited for, has ended.
    w.model->clearSelectedTranscript();
    w.model->startTranscription({w.state().sources[0].id});
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return w.state().progress != TranscriptionProgress::preparingLanguageModel() ||
               !w.state().isTranscribing;
    }));
    w.model.reset();
    EXPECT_TRUE(tavtest::waitUntil(
        [&] { return tavtest::childProcessCount() == 0 && working.entries().empty(); }));
}

TEST(TranscriptionWorkspaceMedia, ExportsTranscriptsAndReplacesAnOriginalOnce) {
    Workspace w(std::make_shared<tavtest::NoTranscriber>());
    const fs::path show = w.folder / "show.mkv";
    const fs::path clip = w.folder / "clip.mp4";
    fs::copy_file(tavtest::TestMedia::shared().matroska, show);
    fs::copy_file(tavtest::TestMedia::shared().mp4ClipA, clip);
    ASSERT_EQ(::chmod(clip.c_str(), 0640), 0);
    ASSERT_TRUE(w.model->addSources({show, clip}));
    ASSERT_TRUE(w.settled());
    const std::vector<SubtitleCue> cues{{1, 0.2, 0.9, "hello there", {}},
                                        {2, 1.2, 1.8, "second line", {}}};

    // show.mkv as MKV with an added chapter, then again with every chapter removed. The panel
    // offers a name that neither exists nor is claimed by a queued or running job.
    std::ofstream(w.folder / "show-transcribed.mkv") << "mine";
    w.model->setCues(cues);
    w.model->addChapterAtCue(cues[1]);
    w.chosen = w.folder / "show-transcribed 2.mkv";
    w.model->exportSelectedMedia();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.suggested.back(), "show-transcribed 2.mkv");
    EXPECT_EQ(w.state().message, "Added 1 file to the queue: show-transcribed 2.mkv.");
    w.model->setChapters({});
    w.chosen = w.folder / "show-none.mkv";
    w.model->exportSelectedMedia();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.suggested.back(), "show-transcribed 3.mkv");
    // clip.mp4 as MP4.
    w.model->selectSource(w.state().sources[1].id);
    w.model->setCues(cues);
    w.chosen = w.folder / "clip-out.mp4";
    w.model->exportSelectedMedia();
    ASSERT_TRUE(w.checked());
    ASSERT_TRUE(w.settled());
    for (const auto& job : w.queue.jobs()) {
        EXPECT_EQ(job.status.kind, ProcessingJob::Status::Kind::completed) << job.status.message;
    }
    const auto chaptered = written(w.folder / "show-transcribed 2.mkv");
    EXPECT_EQ(chaptered.language, "eng");
    EXPECT_EQ(chaptered.title, "Tavrolin Transcript");
    EXPECT_EQ(chaptered.chapters, (std::vector<std::string>{"Opening", "second line", "Finale"}));
    EXPECT_TRUE(written(w.folder / "show-none.mkv").chapters.empty());
    EXPECT_EQ(written(w.folder / "clip-out.mp4").language, "eng");

    // An existing output and a chapter at the end are refused before anything is queued.
    const auto queued = w.queue.jobs().size();
    w.model->exportSelectedMedia();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.state().errorMessage,
              "An output named “clip-out.mp4” already exists. Choose another folder or name.");
    w.chosen = w.folder / "clip-late.mp4";
    w.model->setChapters({{Uuid::random(), *w.state().sources[1].mediaDuration, "Late"}});
    w.model->exportSelectedMedia();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.state().errorMessage,
              "Every chapter marker must be earlier than the end of the source.");
    EXPECT_EQ(w.queue.jobs().size(), queued);
    w.model->setChapters({});

    // A batch output that exists blocks the export; moved away, the reason goes once the user
    // is back in the window.
    w.model->setExportSelection(true, w.state().sources[0].id);
    const std::string taken =
        "An output named “show-transcribed.mkv” already exists beside its source. Move the "
        "existing file away, or choose Replace original files.";
    ASSERT_TRUE(tavtest::waitUntil([&] { return w.state().batchMediaExportBlocker() == taken; }));
    fs::remove(w.folder / "show-transcribed.mkv");
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !w.state().batchMediaExportBlocker(); }));

    // Replacing clip.mp4: a second request is refused while it is queued and after it ran. The
    // page asks the folder nothing on the GUI thread meanwhile.
    w.model->setReplaceOriginalsDuringBatchExport(true);
    w.model->setExportSelection(true, w.state().sources[1].id);
    w.model->setExportSelection(false, w.state().sources[0].id);
    const std::string original = contents(clip);
    tavtest::SlowFolder::start(w.folder.path(), std::chrono::milliseconds(0));
    w.model->exportCheckedMediaInBatch();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.state().message,
              "Added 1 file to the queue. Each original remains untouched until its replacement "
              "passes validation.");
    w.model->exportCheckedMediaInBatch();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.state().errorMessage, "A replacement of “clip.mp4” is already queued.");
    ASSERT_TRUE(w.settled());
    ASSERT_TRUE(tavtest::waitUntil([&] { return !w.state().completedReplacements.empty(); }));
    tavtest::SlowFolder::stop();
    EXPECT_EQ(tavtest::SlowFolder::guiThreadCalls(), 0) << tavtest::SlowFolder::lastOnGuiThread();
    EXPECT_EQ(w.queue.jobs().back().status.kind, ProcessingJob::Status::Kind::completed)
        << w.queue.jobs().back().status.message;
    EXPECT_NE(contents(clip), original);
    EXPECT_EQ(written(clip).language, "eng");
    struct stat info {};
    ASSERT_EQ(::stat(clip.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(w.state().sources[1].status.kind, Kind::ready);  // inspected again
    w.model->exportCheckedMediaInBatch();
    ASSERT_TRUE(w.checked());
    EXPECT_EQ(w.state().errorMessage,
              "“clip.mp4” was replaced in this session; open it again to export it once more.");
    EXPECT_EQ(w.queue.jobs().size(), 4u);
}
