// Adding, inspecting, retrying and removing sources with the real ffprobe.
#include <gtest/gtest.h>

#include <QTimer>

#include <array>

#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class RemuxInspectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        queue = std::make_unique<JobQueueViewModel>(std::make_shared<tavtest::UnusedProcessor>());
    }

    std::unique_ptr<RemuxViewModel> makeModel(std::shared_ptr<MediaProbing> probe) {
        auto model = std::make_unique<RemuxViewModel>(*queue, std::move(probe));
        // Records every state a source passes through.
        QObject::connect(model.get(), &RemuxViewModel::changed, [this, m = model.get()] {
            for (const auto& source : m->sources()) {
                if (std::holds_alternative<RemuxSource::Failed>(source.inspectionState)) {
                    failedSeen.insert(source.url);
                }
            }
        });
        return model;
    }

    std::array<fs::path, 3> threeMovies() {
        const auto media = tavtest::remuxSourceMedia();
        return {tavtest::copyMedia(media, folder, "a.mkv"),
                tavtest::copyMedia(media, folder, "b.mkv"),
                tavtest::copyMedia(media, folder, "c.mkv")};
    }
    // A model inspecting the files, every inspection held at the gate.
    std::unique_ptr<RemuxViewModel> addedAtTheGate(const tavtest::GatedFFprobe& gated,
                                                   const std::vector<fs::path>& files) {
        auto model = makeModel(tavtest::realProbe(gated.script()));
        model->addFiles(files);
        tavtest::processEventsFor(std::chrono::milliseconds(100));
        return model;
    }

    static bool allSettled(const RemuxViewModel& model) {
        return model.runningInspectionCount() == 0;
    }
    static bool isReady(const RemuxSource& source) {
        return std::holds_alternative<RemuxSource::Ready>(source.inspectionState);
    }

    tavtest::TempDir folder;
    std::unique_ptr<JobQueueViewModel> queue;
    std::set<fs::path> failedSeen;
};

}  // namespace

TEST_F(RemuxInspectionTest, AddedFilesAreInspectedOnceWithEveryStreamSelected) {
    const auto movie = tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "movie.mkv");
    const auto noExtension = tavtest::copyMedia(movie, folder, "movie");
    auto model = makeModel(tavtest::realProbe());

    EXPECT_FALSE(model->addFiles({}));
    EXPECT_FALSE(model->addFiles({noExtension, fs::path("relative.mkv"), folder / "dot."}));
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(model->outputDirectoryText(), "");

    EXPECT_TRUE(model->addFiles({movie, movie, noExtension}));
    EXPECT_FALSE(model->addFiles({movie}));
    ASSERT_EQ(model->sources().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<RemuxSource::Loading>(model->sources()[0].inspectionState));
    EXPECT_EQ(model->runningInspectionCount(), 1u);
    EXPECT_EQ(model->outputDirectoryText(), folder.path().string());

    ASSERT_TRUE(tavtest::waitUntil([&] { return allSettled(*model); }));
    const auto& source = model->sources()[0];
    ASSERT_TRUE(isReady(source));
    const auto& streams = std::get<RemuxSource::Ready>(source.inspectionState).streams;
    ASSERT_EQ(streams.size(), 5u);
    EXPECT_EQ(source.selectedStreamIndices, (std::set<std::int64_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(streams[1].language, "eng");
    EXPECT_EQ(streams[2].title, "Commentary");
    EXPECT_EQ(streams[3].codecName, "subrip");
    EXPECT_TRUE(streams[3].isDefault);
    EXPECT_TRUE(streams[4].isForced);
    EXPECT_EQ(model->validationMessage(), std::nullopt);
}

TEST_F(RemuxInspectionTest, OutputFolderFollowsTheFirstFilesUntilTheUserChooses) {
    tavtest::TempDir other;
    const auto media = tavtest::remuxSourceMedia();
    const auto first = tavtest::copyMedia(media, folder, "first.mkv");
    const auto second = tavtest::copyMedia(media, other, "second.mkv");
    auto model = makeModel(tavtest::realProbe());

    model->addFiles({first});
    model->addFiles({second});
    EXPECT_EQ(model->outputDirectoryText(), folder.path().string());

    // Emptied by hand: the folder text stays, the next files replace it.
    model->removeSource(first);
    model->removeSource(second);
    EXPECT_EQ(model->outputDirectoryText(), folder.path().string());
    model->addFiles({second});
    EXPECT_EQ(model->outputDirectoryText(), other.path().string());

    // Typing the same text still counts as the user's choice.
    model->setOutputDirectoryText(model->outputDirectoryText());
    EXPECT_TRUE(model->hasUserSelectedOutputDirectory());
    model->removeSource(second);
    model->addFiles({first});
    EXPECT_EQ(model->outputDirectoryText(), other.path().string());

    // The panel starts at the resolved folder, else at the first source's folder.
    std::vector<std::optional<fs::path>> startFolders;
    std::optional<fs::path> answer;
    model->setFolderChooser([&](const std::optional<fs::path>& start) {
        startFolders.push_back(start);
        return answer;
    });
    model->setOutputDirectoryText("not absolute");
    model->chooseOutputDirectory();
    EXPECT_EQ(model->outputDirectoryText(), "not absolute") << "cancelled panel";
    answer = fs::path("/srv/out");
    model->setOutputDirectoryText("  " + other.path().string() + "/  ");
    model->chooseOutputDirectory();
    ASSERT_EQ(startFolders.size(), 2u);
    EXPECT_EQ(startFolders[0], folder.path());
    EXPECT_EQ(startFolders[1], other.path());
    EXPECT_EQ(model->outputDirectoryText(), "/srv/out");
    EXPECT_TRUE(tavtest::waitUntil([&] { return allSettled(*model); }));
}

TEST_F(RemuxInspectionTest, OutputFolderTextResolvesTildesAndFileURLsOnly) {
    auto model = makeModel(tavtest::realProbe());
    const fs::path home = std::getenv("HOME");
    const std::vector<std::pair<std::string, std::optional<fs::path>>> cases{
        {"  ~/Movies Folder \n", home / "Movies Folder"},
        {"~", home},
        {"Movies", std::nullopt},
        {"./out", std::nullopt},
        {"", std::nullopt},
        {"/srv//media/../out/", fs::path("/srv/out")},
        {"FILE:///tmp/a%20b/", fs::path("/tmp/a b")},
        {"file://", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        model->setOutputDirectoryText(text);
        EXPECT_EQ(model->outputDirectoryURL(), expected) << text;
    }
}

TEST_F(RemuxInspectionTest, CorruptFileFailsWithTheToolTextAndTryAgainInspectsAgain) {
    const auto file =
        tavtest::copyMedia(tavtest::TestMedia::shared().randomBytes, folder, "bad.mkv");
    // Read, but without a stream Tavrolin uses: inspecting it again cannot help either.
    std::ofstream(folder / "notes.mkv") << ";FFMETADATA1\ntitle=Notes\n";
    auto model = makeModel(tavtest::realProbe());
    model->addFiles({file, folder / "notes.mkv"});
    ASSERT_TRUE(tavtest::waitUntil([&] { return allSettled(*model); }));
    const auto* failed = std::get_if<RemuxSource::Failed>(&model->sources()[0].inspectionState);
    ASSERT_NE(failed, nullptr);
    EXPECT_NE(failed->message.find("Invalid data found when processing input"), std::string::npos)
        << failed->message;
    // Not media: the card offers no Try Again, though a new inspection still reads the file anew.
    EXPECT_FALSE(failed->retryMayHelp);
    EXPECT_TRUE(model->sources()[0].selectedStreamIndices.empty());
    EXPECT_EQ(model->validationMessage(),
              "\u201Cbad.mkv\u201D could not be inspected. Remove it to continue.");
    EXPECT_EQ(model->sources()[1].inspectionState,
              RemuxSource::InspectionState(
                  RemuxSource::Failed{"No video, audio, or subtitle streams were found.", false}));

    // The user repairs the file and tries again.
    tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "bad.mkv");
    model->retryInspection(file);
    EXPECT_TRUE(std::holds_alternative<RemuxSource::Loading>(model->sources()[0].inspectionState));
    ASSERT_TRUE(tavtest::waitUntil([&] { return allSettled(*model); }));
    EXPECT_TRUE(isReady(model->sources()[0]));
    EXPECT_EQ(model->sources()[0].selectedStreamIndices.size(), 5u);

    model->retryInspection(folder / "unknown.mkv");
    EXPECT_EQ(model->runningInspectionCount(), 0u);
}

TEST_F(RemuxInspectionTest, RemovingTheFirstOfThreeLeavesTheOthersToFinish) {
    const tavtest::GatedFFprobe gated(folder);
    const auto [a, b, c] = threeMovies();
    auto model = addedAtTheGate(gated, {a, b, c});
    EXPECT_EQ(model->runningInspectionCount(), 3u);

    model->removeSource(a);
    EXPECT_EQ(model->runningInspectionCount(), 2u);
    // The stopped run ends on its own; the others are still waiting at the gate.
    tavtest::processEventsFor(std::chrono::milliseconds(300));
    EXPECT_EQ(model->runningInspectionCount(), 2u);

    gated.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return allSettled(*model); }));
    ASSERT_EQ(model->sources().size(), 2u);
    EXPECT_EQ(model->sources()[0].url, b);
    EXPECT_EQ(model->sources()[1].url, c);
    EXPECT_TRUE(isReady(model->sources()[0]));
    EXPECT_TRUE(isReady(model->sources()[1]));
    EXPECT_TRUE(failedSeen.empty());
}

TEST_F(RemuxInspectionTest, RetryingTheFirstOfThreeNeverMarksItFailedAndKeepsTheNewTask) {
    const tavtest::GatedFFprobe gated(folder);
    const auto [a, b, c] = threeMovies();
    auto model = addedAtTheGate(gated, {a, b, c});

    model->retryInspection(a);
    // The superseded run is terminated and reports back; it neither fails the source nor
    // takes the newer task's entry with it.
    tavtest::processEventsFor(std::chrono::milliseconds(400));
    EXPECT_EQ(model->runningInspectionCount(), 3u);
    EXPECT_TRUE(std::holds_alternative<RemuxSource::Loading>(model->sources()[0].inspectionState));

    gated.open();
    ASSERT_TRUE(tavtest::waitUntil([&] { return allSettled(*model); }));
    for (const auto& source : model->sources()) {
        EXPECT_TRUE(isReady(source)) << source.url;
    }
    EXPECT_TRUE(failedSeen.empty());
}

// The model owns its pool: going away it stops the runs and joins them, which the stop makes
// quick, so no inspection outlives it.
TEST_F(RemuxInspectionTest, DestroyingTheModelStopsRunningInspectionsAndJoinsThem) {
    const tavtest::GatedFFprobe gated(folder);
    const auto media = tavtest::remuxSourceMedia();
    auto model = makeModel(tavtest::realProbe(gated.script()));
    model->addFiles(
        {tavtest::copyMedia(media, folder, "a.mkv"), tavtest::copyMedia(media, folder, "b.mkv")});
    ASSERT_TRUE(tavtest::waitUntil([&] { return gated.runningCount() == 2; }));
    // The gate never opens: only stopping the runs lets the destruction finish at all.
    model.reset();
    // A run's shell killed between its fork and its `sleep` leaves a child that still shows the
    // script for a moment; a run that outlived the model would never end, its gate shut.
    EXPECT_TRUE(tavtest::waitUntil([&] { return gated.runningCount() == 0; }))
        << "no inspection outlives the model";
    // Late outcomes have nowhere to go and are dropped.
    tavtest::processEventsFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(failedSeen.empty());
}
