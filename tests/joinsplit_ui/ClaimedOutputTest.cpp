// An output that a job of the queue will write is refused on every page in one sentence naming
// it and whether the job waits or runs; the sentence goes when the job ends. Join's suggested
// name skips a claimed name as it skips names on the disk.
#include <gtest/gtest.h>

#include <fstream>

#include "joinsplit/JoinViewModel.h"
#include "joinsplit/SplitViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "support/GatedProcessor.h"
#include "support/IdleServices.h"
#include "support/PreviewTestSupport.h"
#include "transcription/TranscriptionViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

std::string claimedSentence(const std::string& name, const std::string& job) {
    return "\u201C" + name + "\u201D is already the output of " + job + " in the queue.";
}

}  // namespace

TEST(ClaimedOutput, EveryPageNamesTheQueuedJobsOutput) {
    tavtest::prepareRemuxTest();
    tavtest::TempDir folder;
    const auto& media = tavtest::TestMedia::shared();
    const auto processor = std::make_shared<tavtest::GatedProcessor>();
    JobQueueViewModel queue(processor);

    RemuxViewModel remux(queue, tavtest::realProbe());
    JoinViewModel join(queue, tavtest::realProbe());
    std::vector<std::string> suggested;
    std::optional<fs::path> joinAnswer;
    join.setOutputFileChooser([&](const std::string& name, OutputContainer, const auto&) {
        suggested.push_back(name);
        return joinAnswer;
    });
    SplitViewModel split(queue, std::make_shared<tavtest::GatedPreviewService>());
    split.setFolderChooser([&](const auto&) { return std::optional(folder.path()); });
    std::optional<fs::path> transcribeAnswer;
    TranscriptionViewModel transcribe(
        TranscriptionViewModel::Services{
            std::make_shared<tavtest::VideoWithAudioProbe>(4.0),
            std::make_shared<tavtest::NoTranscriber>(), std::make_shared<tavtest::NoSummaries>(),
            std::make_shared<SubtitleFileExporter>(), std::make_shared<InMemoryPreferencesStore>()},
        queue,
        TranscriptionViewModel::Panels{
            [&](const std::string&, OutputContainer, const auto&) { return transcribeAnswer; },
            {}});

    struct Row {
        std::string page;
        std::function<void()> setUp;
        std::function<fs::path()> claimed;
        std::function<void()> act;
        std::function<std::optional<std::string>()> shown;
    };
    const std::vector<Row> rows{
        {"Remux",
         [&] {
             remux.addFiles({tavtest::copyMedia(media.mp4ClipA, folder, "r.mp4")});
             remux.setContainer(OutputContainer::mkv);
             ASSERT_TRUE(tavtest::waitUntil([&] {
                 return remux.runningInspectionCount() == 0 && !remux.isCheckingOutputFolder();
             }));
         },
         [&] { return folder / "r-converted.mkv"; }, [] {},
         [&] { return remux.validationMessage(); }},
        {"Join",
         [&] {
             std::ofstream(folder / "joined 2.mp4") << "a file of the user's";
             join.addFiles({tavtest::copyMedia(media.mp4ClipA, folder, "a.mp4"),
                            tavtest::copyMedia(media.mp4ClipB, folder, "b.mp4")});
             ASSERT_TRUE(tavtest::waitUntil([&] { return join.runningInspectionCount() == 0; }));
         },
         [&] { return folder / "joined.mp4"; },
         [&] {
             join.chooseOutputAndQueue();  // cancelled
             ASSERT_TRUE(tavtest::waitUntil([&] { return suggested.size() == 1; }));
             EXPECT_EQ(suggested[0], "joined 3.mp4") << "skips the claimed and the existing name";
             joinAnswer = folder.path() / "." / "joined.mp4";
             join.chooseOutputAndQueue();
             ASSERT_TRUE(tavtest::waitUntil([&] { return join.outputProblem().has_value(); }));
         },
         [&] { return join.outputProblem(); }},
        {"Split",
         [&] {
             split.addFiles({folder / "s.mp4"});
             split.chooseOutputDirectory();
             ASSERT_TRUE(tavtest::waitUntil([&] { return !split.isCheckingOutputFolder(); }));
         },
         [&] { return split.makeRequests(split.sources()[0], folder.path()).at(0).output(); },
         [] {}, [&] { return split.validationMessage(); }},
        {"Transcribe",
         [&] {
             ASSERT_TRUE(transcribe.addSources({folder / "t.mkv"}));
             ASSERT_TRUE(tavtest::waitUntil([&] { return !transcribe.isInspecting(); }));
             transcribe.setCues({{1, 0.5, 1.5, "hello", {}}});
         },
         [&] { return folder / "t-transcribed.mkv"; },
         [&] {
             transcribeAnswer = folder / "t-transcribed.mkv";
             transcribe.exportSelectedMedia();
             ASSERT_TRUE(tavtest::waitUntil([&] { return !transcribe.isCheckingOutputFolder(); }));
         },
         [&] { return transcribe.state().errorMessage; }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        row.setUp();
        const fs::path claimed = row.claimed();
        queue.enqueue({JoinRequest{{folder / "x.mp4", folder / "y.mp4"}, claimed}});
        const auto jobs = queue.jobs().size();
        row.act();
        const std::string name = claimed.filename().string();
        EXPECT_EQ(row.shown(), claimedSentence(name, "a job waiting"));
        EXPECT_EQ(queue.jobs().size(), jobs) << "nothing more was queued";
        // The sentence follows the job: named as running, then gone with it.
        queue.startWorkerIfNeeded();
        ASSERT_TRUE(tavtest::waitUntil([&] { return queue.hasRunningJob(); }));
        EXPECT_EQ(row.shown(), claimedSentence(name, "the job running"));
        processor->fail("stopped");
        ASSERT_TRUE(tavtest::waitUntil([&] { return queue.jobs().back().status.isFinished(); }));
        EXPECT_EQ(row.shown(), std::nullopt);
    }
    EXPECT_EQ(folder.entries(),
              (std::vector<std::string>{"a.mp4", "b.mp4", "joined 2.mp4", "r.mp4"}));
}
