#include <gtest/gtest.h>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include "engine/FFmpegProcessor.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "queue/JobQueueViewModel.h"
#include "shell/QueueJobRow.h"
#include "shell/QueueView.h"
#include "support/GatedProcessor.h"
#include "support/KeyboardWalk.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PercentFormat.h"
#include "widgets/QueueActivityPreview.h"
#include "widgets/SymbolIcons.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

RemuxRequest remux(const std::string& name) {
    RemuxRequest request;
    request.input = fs::path("/media/in") / name;
    request.output = fs::path("/media/out") / ("converted-" + name);
    return request;
}

class QueueViews : public ::testing::Test {
  protected:
    QApplication& application = tavtest::qtApplication();

    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    QPushButton* button(const char* name) { return view.findChild<QPushButton*>(name); }
    QueueJobRow* row(int index) { return view.rows().at(index); }
    static QString text(QueueJobRow* row, const char* name) {
        if (auto* label = row->findChild<QLabel*>(name)) {
            return label->text();
        }
        return row->findChild<ElidedLabel*>(name)->text();
    }
    static bool shown(QWidget* row, const char* name) {
        return row->findChild<QWidget*>(name)->isVisibleTo(row);
    }
    static QString symbol(QueueJobRow* row) {
        return row->findChild<QLabel*>("statusSymbol")->property("symbol").toString();
    }
    static QColor statusColor(QueueJobRow* row) {
        return row->findChild<QLabel*>("statusLabel")->palette().color(QPalette::WindowText);
    }
    // Lets the worker's result arrive on the GUI thread.
    void settle() { QTest::qWait(30); }
    // Waits, serving the GUI thread, until the `count`th job is inside the processor.
    void waitForJob(int count) {
        ASSERT_TRUE(tavtest::waitUntil([&] { return processor->startedCount() >= count; }, 5000));
    }

    std::shared_ptr<tavtest::GatedProcessor> processor =
        std::make_shared<tavtest::GatedProcessor>();
    std::shared_ptr<tavtest::RecordingRevealer> revealer =
        std::make_shared<tavtest::RecordingRevealer>();
    JobQueueViewModel queue{processor, revealer};
    QueueView view{&queue};
};

}  // namespace

TEST(PercentFormat, WholePercentInTheLocalesPattern) {
    EXPECT_EQ(percentText(0.42, QLocale(QLocale::English, QLocale::UnitedStates)), "42%");
    EXPECT_EQ(percentText(0.5, QLocale(QLocale::German, QLocale::Germany)), "50\u00A0%");
    EXPECT_EQ(percentText(0.0, QLocale(QLocale::French, QLocale::France)), "0\u00A0%");
    EXPECT_EQ(percentText(1.0, QLocale(QLocale::Turkish, QLocale::Turkey)), "%100");
    EXPECT_EQ(percentText(0.999, QLocale(QLocale::English, QLocale::UnitedStates)), "100%");
}

TEST_F(QueueViews, EmptyQueueShowsTheEmptyStateWithEveryControlDisabled) {
    auto* empty = view.findChild<ContentUnavailableView*>();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->title(), "Queue is empty");
    EXPECT_EQ(empty->symbol(), "checkmark.circle");
    EXPECT_EQ(empty->description(), "Configure an operation and add it to the queue.");
    EXPECT_EQ(view.findChild<QStackedWidget*>()->currentIndex(), 0);
    EXPECT_FALSE(button("clearFinished")->isEnabled());
    EXPECT_FALSE(button("startQueue")->isEnabled());
    EXPECT_FALSE(button("cancelCurrent")->isEnabled());
    // The destructive red is for the enabled button only; disabled it must look disabled.
    const QPalette cancel = button("cancelCurrent")->palette();
    EXPECT_EQ(cancel.color(QPalette::Active, QPalette::ButtonText), tint::red());
    EXPECT_NE(cancel.color(QPalette::Disabled, QPalette::ButtonText), tint::red());
}

TEST_F(QueueViews, RowsFollowEachJobFromQueuedThroughProcessingToTheEnd) {
    queue.enqueue({remux("a.mkv"), remux("b.mkv"), remux("c.mkv")});
    ASSERT_EQ(view.rows().size(), 3);
    EXPECT_EQ(text(row(0), "title"), "Remux a.mkv");
    EXPECT_EQ(text(row(0), "outputPath"), "/media/out/converted-a.mkv");
    EXPECT_EQ(text(row(0), "statusLabel"), "Queued");
    EXPECT_EQ(symbol(row(0)), "clock");
    EXPECT_FALSE(shown(row(0), "revealOutput"));
    EXPECT_TRUE(button("startQueue")->isEnabled());
    EXPECT_FALSE(button("cancelCurrent")->isEnabled());

    button("startQueue")->click();
    waitForJob(1);
    settle();
    EXPECT_EQ(text(row(0), "statusLabel"), "Processing");
    EXPECT_EQ(statusColor(row(0)), accentColor(row(0)->palette()));
    EXPECT_TRUE(shown(row(0), "progress"));
    EXPECT_EQ(row(0)->findChild<QProgressBar*>("progress")->maximum(), 0);  // indeterminate
    EXPECT_EQ(row(0)->findChild<QProgressBar*>("progress")->accessibleName(),
              "Progress of Remux a.mkv to \u201Cconverted-a.mkv\u201D");
    EXPECT_FALSE(shown(row(0), "percent"));
    EXPECT_FALSE(button("startQueue")->isEnabled());  // more are queued, but one runs
    EXPECT_TRUE(button("cancelCurrent")->isEnabled());
    EXPECT_FALSE(button("clearFinished")->isEnabled());

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    processor->report(0.5);
    settle();
    EXPECT_EQ(text(row(0), "percent"), "50%");
    EXPECT_EQ(row(0)->findChild<QProgressBar*>("progress")->value(), 500);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    processor->report(0.42);
    settle();
    EXPECT_EQ(text(row(0), "percent"), "42\u00A0%");

    processor->finish();
    waitForJob(2);
    settle();
    EXPECT_EQ(text(row(0), "statusLabel"), "Completed");
    EXPECT_EQ(symbol(row(0)), "checkmark.circle.fill");
    EXPECT_EQ(statusColor(row(0)), tint::green());
    EXPECT_FALSE(shown(row(0), "progress"));
    EXPECT_TRUE(shown(row(0), "revealOutput"));
    EXPECT_TRUE(button("clearFinished")->isEnabled());
    row(0)->findChild<QToolButton*>("revealOutput")->click();
    EXPECT_EQ(revealer->revealed, std::vector<fs::path>{"/media/out/converted-a.mkv"});

    processor->fail("Invalid data found when processing input");
    waitForJob(3);
    settle();
    EXPECT_EQ(text(row(1), "statusLabel"), "Failed");
    EXPECT_EQ(symbol(row(1)), "exclamationmark.triangle.fill");
    EXPECT_EQ(statusColor(row(1)), tint::red());
    EXPECT_TRUE(shown(row(1), "failureMessage"));
    EXPECT_EQ(text(row(1), "failureMessage"), "Invalid data found when processing input");
    EXPECT_FALSE(shown(row(1), "revealOutput"));

    button("cancelCurrent")->click();
    ASSERT_TRUE(
        tavtest::waitUntil([&] { return text(row(2), "statusLabel") == "Cancelled"; }, 5000));
    EXPECT_EQ(symbol(row(2)), "xmark.circle.fill");
    EXPECT_FALSE(shown(row(2), "revealOutput"));
    EXPECT_FALSE(shown(row(2), "failureMessage"));
    EXPECT_FALSE(button("cancelCurrent")->isEnabled());
    EXPECT_FALSE(button("startQueue")->isEnabled());

    // Pressed by keyboard, the emptied page keeps the focus.
    view.show();
    QApplication::setActiveWindow(&view);
    button("clearFinished")->setFocus();
    QTest::keyClick(button("clearFinished"), Qt::Key_Space);
    EXPECT_TRUE(view.rows().isEmpty());
    EXPECT_EQ(view.findChild<QStackedWidget*>()->currentIndex(), 0);
    EXPECT_TRUE(view.isAncestorOf(QApplication::focusWidget()))
        << tavtest::describeWidget(QApplication::focusWidget());
}

TEST_F(QueueViews, WaitingLineNamesTwoJobsAndCountsTheRest) {
    auto jobs = [](std::initializer_list<const char*> names) {
        std::vector<ProcessingJob> result;
        for (const char* name : names) {
            ProcessingJob job;
            job.request = remux(name);
            result.push_back(job);
        }
        return result;
    };
    EXPECT_EQ(QueueActivityPreview::waitingLine({}), "");
    EXPECT_EQ(QueueActivityPreview::waitingLine(jobs({"a.mkv"})), "Next: Remux a.mkv");
    EXPECT_EQ(QueueActivityPreview::waitingLine(jobs({"a.mkv", "b.mkv"})),
              "Next: Remux a.mkv \u00B7 Remux b.mkv");
    EXPECT_EQ(QueueActivityPreview::waitingLine(jobs({"a.mkv", "b.mkv", "c.mkv"})),
              "Next: Remux a.mkv \u00B7 Remux b.mkv \u00B7 1 more waiting");
    EXPECT_EQ(QueueActivityPreview::waitingLine(jobs({"a", "b", "c", "d", "e"})),
              "Next: Remux a \u00B7 Remux b \u00B7 3 more waiting");
}

TEST_F(QueueViews, ActivityPreviewShowsOnlyWhileAJobRuns) {
    QueueActivityPreview preview(&queue);
    queue.enqueue({remux("r.mkv"), remux("a.mkv")});
    EXPECT_TRUE(preview.isHidden());  // queued jobs alone show nothing

    queue.startWorkerIfNeeded();
    waitForJob(1);
    settle();
    EXPECT_FALSE(preview.isHidden());
    EXPECT_EQ(preview.findChild<ElidedLabel*>("title")->text(), "Remux r.mkv");
    EXPECT_EQ(preview.findChild<ElidedLabel*>("waitingLine")->text(), "Next: Remux a.mkv");
    EXPECT_TRUE(preview.findChild<QLabel*>("percent")->isHidden());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    processor->report(0.25);
    settle();
    EXPECT_EQ(preview.findChild<QLabel*>("percent")->text(), "25%");
    EXPECT_EQ(preview.findChild<QProgressBar*>("progress")->value(), 250);

    processor->finish();
    waitForJob(2);
    settle();
    EXPECT_EQ(preview.findChild<ElidedLabel*>("title")->text(), "Remux a.mkv");
    EXPECT_TRUE(preview.findChild<ElidedLabel*>("waitingLine")->isHidden());
    EXPECT_TRUE(preview.findChild<QLabel*>("percent")->isHidden());

    queue.cancelRunningJob();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !queue.hasRunningJob(); }));
    EXPECT_TRUE(preview.isHidden());
}

TEST_F(QueueViews, RealRemuxEndsCompletedAndRevealsItsOutput) {
    const auto& media = tavtest::TestMedia::shared();
    tavtest::TempDir folder;
    auto preferences = std::make_shared<InMemoryPreferencesStore>();
    auto realProcessor = std::make_shared<FFmpegProcessor>(
        std::make_shared<FoundationProcessRunner>(), ToolLocations::standard(preferences));
    JobQueueViewModel realQueue(realProcessor, revealer);
    QueueView realView(&realQueue);
    RemuxRequest request;
    request.input = media.mp4ClipA;
    request.output = folder / "clip.mkv";
    FFprobeService probe(std::make_shared<FoundationProcessRunner>(),
                         ToolLocations::standard(preferences));
    request.selectedStreams = probe.inspectStreams(media.mp4ClipA);
    realQueue.enqueueNext({request});
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return !realQueue.hasRunningJob() && !realQueue.hasQueuedJobs(); }, 20000));
    ASSERT_EQ(realView.rows().size(), 1);
    auto* done = realView.rows()[0];
    EXPECT_EQ(text(done, "statusLabel"), "Completed") << text(done, "failureMessage").toStdString();
    EXPECT_TRUE(fs::exists(folder / "clip.mkv"));
    done->findChild<QToolButton*>("revealOutput")->click();
    EXPECT_EQ(revealer->revealed, std::vector<fs::path>{folder / "clip.mkv"});
}
