// Stream selection and its propagation to matching streams of other probed files.
#include <gtest/gtest.h>

#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// Streams of the generated movie: 0 video, 1 English "Main", 2 French "Commentary",
// 3 English subtitle (default), 4 English "Forced" subtitle.
constexpr std::int64_t frenchCommentary = 2;
constexpr std::int64_t forcedSubtitle = 4;

class RemuxSelectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        queue = std::make_unique<JobQueueViewModel>(std::make_shared<tavtest::UnusedProcessor>());
        model = std::make_unique<RemuxViewModel>(*queue, tavtest::realProbe());
        model->setAppliesIndividualStreamChangesToAllSources(true);
    }

    fs::path movie(const std::string& name) {
        return tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, name);
    }
    fs::path clip(const std::string& name) {
        return tavtest::copyMedia(tavtest::TestMedia::shared().mp4ClipA, folder, name);
    }
    void addAndWait(const std::vector<fs::path>& files) {
        model->addFiles(files);
        ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
    }
    const std::set<std::int64_t>& selection(std::size_t i) const {
        return model->sources().at(i).selectedStreamIndices;
    }

    tavtest::TempDir folder;
    std::unique_ptr<JobQueueViewModel> queue;
    std::unique_ptr<RemuxViewModel> model;
};

const std::set<std::int64_t> everyMovieStream{0, 1, 2, 3, 4};

}  // namespace

TEST_F(RemuxSelectionTest, ChangeIsCarriedToMatchingStreamsOfOtherFiles) {
    const auto first = movie("one.mkv");
    addAndWait({first, movie("two.mkv"), clip("clip.mp4")});

    model->toggleStream(frenchCommentary, first);
    EXPECT_EQ(selection(0), (std::set<std::int64_t>{0, 1, 3, 4}));
    EXPECT_EQ(selection(1), (std::set<std::int64_t>{0, 1, 3, 4}));
    EXPECT_EQ(selection(2), (std::set<std::int64_t>{0, 1})) << "the clip has no French audio";
    EXPECT_EQ(model->propagatedChangeSummary(),
              "Removed the matching French commentary audio in 1 of 2 other files.");

    // Deselecting again where the match is already deselected still counts the file.
    model->toggleStream(frenchCommentary, first);
    EXPECT_EQ(model->propagatedChangeSummary(),
              "Included the matching French commentary audio in 1 of 2 other files.");
    EXPECT_EQ(selection(1), everyMovieStream);
    model->setStreams(MediaStreamKind::audio, false, model->sources()[1].url);
    model->toggleStream(frenchCommentary, first);
    EXPECT_EQ(model->propagatedChangeSummary(),
              "Removed the matching French commentary audio in 1 of 2 other files.");

    // The forced English subtitle matches by its role; the clip has no subtitles.
    model->toggleStream(forcedSubtitle, first);
    EXPECT_EQ(model->propagatedChangeSummary(),
              "Removed the matching English forced subtitle in 1 of 2 other files.");
    EXPECT_EQ(selection(1), (std::set<std::int64_t>{0, 3}));

    // One video stream each: the video matches in both files, though it has no language.
    model->toggleStream(0, first);
    EXPECT_EQ(model->propagatedChangeSummary(),
              "Removed the matching video in 2 of 2 other files.");
    EXPECT_EQ(selection(2), (std::set<std::int64_t>{1}));
}

TEST_F(RemuxSelectionTest, SingularFileAndNoConfidentMatch) {
    const auto first = movie("one.mkv");
    addAndWait({first});
    model->toggleStream(frenchCommentary, first);
    EXPECT_EQ(model->propagatedChangeSummary(),
              "No confident match for the French commentary audio was found in the other files.");

    // A failed file is neither changed nor counted.
    addAndWait({tavtest::copyMedia(tavtest::TestMedia::shared().randomBytes, folder, "bad.mkv"),
                movie("two.mkv")});
    model->toggleStream(frenchCommentary, first);
    EXPECT_EQ(model->propagatedChangeSummary(),
              "Included the matching French commentary audio in 1 of 1 other file.");
    EXPECT_EQ(selection(2), everyMovieStream);
}

TEST_F(RemuxSelectionTest, KindChangesAndUnknownIndicesStayLocal) {
    const auto first = movie("one.mkv");
    addAndWait({first, movie("two.mkv")});
    model->toggleStream(frenchCommentary, first);
    const auto summary = model->propagatedChangeSummary();
    ASSERT_TRUE(summary);

    model->toggleStream(99, first);
    model->toggleStream(1, folder / "missing.mkv");
    EXPECT_EQ(model->propagatedChangeSummary(), summary);
    EXPECT_EQ(selection(0), (std::set<std::int64_t>{0, 1, 3, 4}));

    model->setStreams(MediaStreamKind::subtitle, false, first);
    EXPECT_EQ(selection(0), (std::set<std::int64_t>{0, 1}));
    EXPECT_EQ(selection(1), (std::set<std::int64_t>{0, 1, 3, 4}));
    EXPECT_EQ(model->propagatedChangeSummary(), std::nullopt);
    model->setStreams(MediaStreamKind::audio, true, first);
    EXPECT_EQ(selection(0), (std::set<std::int64_t>{0, 1, 2}));

    // With the option off a toggle changes one file and clears an older summary.
    model->toggleStream(frenchCommentary, first);
    ASSERT_TRUE(model->propagatedChangeSummary());
    model->setAppliesIndividualStreamChangesToAllSources(false);
    EXPECT_TRUE(model->propagatedChangeSummary()) << "turning the option off keeps it";
    model->toggleStream(frenchCommentary, first);
    EXPECT_EQ(model->propagatedChangeSummary(), std::nullopt);
    EXPECT_EQ(selection(1), (std::set<std::int64_t>{0, 1, 3, 4}));
}
