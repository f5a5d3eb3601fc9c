// The Remux workspace in the application's real window on an X server: files dropped on the
// window, one that is no media removed by keyboard, one whose output name would be too long
// refused, one stream unticked, "Remux Now", and the
// output written by the real ffmpeg. Each state fits the minimum and the default window size and
// is walked with Tab. The test runs itself again on an X server of its own, where the child
// case drives the window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>

#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxView.h"
#include "remux/StreamSourceCard.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "support/TestAppConfiguration.h"
#include "support/WindowChecks.h"
#include "widgets/StatusLine.h"
#include "widgets/WrappingLabel.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

const char* const childVariable = "TAVROLIN_REMUX_XVFB_CHILD";
const char* const folderVariable = "TAVROLIN_REMUX_XVFB_FOLDER";
// A file that is no media, under a name of 250 bytes: its refusal keeps to the column.
const std::string noiseName = "noise " + std::string(240, 'x') + ".mkv";
// Media whose output name ("…-converted.mkv") would pass 255 bytes.
const std::string longStem = "long " + std::string(240, 'y');

}  // namespace

TEST(RemuxWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP()
            << "runs only on its own X server, started by RemuxWindow.DropUntickAndRemuxNow";
    }
    tavtest::prepareRemuxTest();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const fs::path folder = qEnvironmentVariable(folderVariable).toStdString();
    const auto first = folder / "first.mkv";
    const auto second = folder / "second.mkv";
    const auto noise = folder / noiseName;

    TavrolinApp app(tavtest::appConfiguration(folder));
    MainWindow* window = app.mainWindow();
    ASSERT_TRUE(tavtest::showActive(window));
    auto* view = window->findChild<RemuxView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible());
    SidebarRow* start = window->rootView()->sidebar()->row(WorkspaceSection::remux);
    tavtest::expectFits(window, view, "remux-empty");
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);

    tavtest::dropFiles(window->rootView(), {first, noise, second});
    ASSERT_TRUE(tavtest::waitUntil([&] {
        auto* card = view->cardFor(second);
        return card != nullptr && card->findChild<QCheckBox*>() != nullptr &&
               view->cardFor(first)->findChild<QCheckBox*>() != nullptr &&
               view->cardFor(noise)->findChild<QLabel*>("failedMessage") != nullptr;
    }));
    tavtest::expectFits(window, view, "remux-three-files");
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);
    // Controls alike on every card tell their file and kind apart.
    auto* all = view->cardFor(first)
                    ->findChild<QWidget*>("group-audio")
                    ->findChild<QPushButton*>("allButton");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(all)->text(QAccessible::Name),
              "Select all audio streams of first.mkv");

    // The file that is no media goes by keyboard; the focus goes on to the next card.
    auto* remove = view->cardFor(noise)->findChild<QToolButton*>("removeButton");
    remove->setFocus(Qt::TabFocusReason);
    QTest::keyClick(remove, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->cardFor(noise) == nullptr; }));
    EXPECT_TRUE(view->cardFor(second)->isAncestorOf(QApplication::focusWidget()))
        << tavtest::describeWidget(QApplication::focusWidget());

    // A refusal naming a file of 249 bytes shows its whole sentence in a few lines at the
    // smallest window, the name cut short in it; the tooltip holds the name whole.
    const auto longNamed = folder / (longStem + ".mkv");
    tavtest::dropFiles(window->rootView(), {longNamed});
    auto* refusal = view->findChild<StatusLine*>(QStringLiteral("validationMessage"));
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return refusal->isVisible() && refusal->text().contains("would get a name longer");
    })) << refusal->text().toStdString();
    auto* sentence = refusal->findChild<WrappingLabel*>(QStringLiteral("text"));
    EXPECT_FALSE(sentence->text().contains(QString::fromStdString(longStem)));
    EXPECT_TRUE(sentence->text().endsWith("then add it again.")) << sentence->text().toStdString();
    EXPECT_TRUE(sentence->toolTip().contains(QString::fromStdString(longStem)));
    tavtest::expectFits(window, view, "remux-long-name");
    window->resize(tavtest::windowSizes[0]);
    ASSERT_TRUE(tavtest::settled(window, tavtest::windowSizes[0]));
    EXPECT_LE(sentence->height(), 4 * sentence->fontMetrics().lineSpacing());
    QTest::mouseClick(view->cardFor(longNamed)->findChild<QToolButton*>("removeButton"),
                      Qt::LeftButton);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !refusal->isVisible(); }));

    // Untick the French commentary of the first file with the mouse.
    QWidget* row = view->cardFor(first)->findChild<QWidget*>("stream-2");
    ASSERT_NE(row, nullptr);
    auto* box = row->findChild<QCheckBox*>();
    ASSERT_TRUE(box->isChecked());
    // Shown and laid out, then clicked on its indicator.
    ASSERT_TRUE(tavtest::waitUntil([&] { return box->isVisible(); }));
    ASSERT_TRUE(tavtest::settled(window));
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
    auto* count = view->cardFor(first)->findChild<QLabel*>("selectedCount");
    ASSERT_TRUE(tavtest::waitUntil([&] { return count->text() == "4 of 5 selected"; }));
    EXPECT_FALSE(box->isChecked());

    const QPixmap shot = window->screen()->grabWindow(window->winId());
    shot.save(qEnvironmentVariable("TAVROLIN_SCREENSHOT"), "PNG");

    // Pressed by keyboard, the page empties and the focus stays on it, on the control that adds
    // the next files.
    auto* remuxNow = view->findChild<QPushButton*>("remuxNowButton");
    ASSERT_TRUE(tavtest::waitUntil([&] { return remuxNow->isEnabled(); }));
    remuxNow->setFocus(Qt::TabFocusReason);
    QTest::keyClick(remuxNow, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->cardFor(first) == nullptr; }));
    EXPECT_EQ(QApplication::focusWidget(), view->findChild<QPushButton*>("addFilesButton"));
    JobQueueViewModel& queue = app.queue();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue.jobs().size() == 2u; }));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] {
            return std::all_of(queue.jobs().begin(), queue.jobs().end(),
                               [](const ProcessingJob& job) { return job.status.isFinished(); });
        },
        std::chrono::seconds(60)));
    for (const auto& job : queue.jobs()) {
        EXPECT_EQ(job.status, ProcessingJob::Status::completed()) << job.status.message;
    }
    EXPECT_EQ(tavtest::probedStreamLines(folder / "first-converted.mkv"),
              (std::vector<std::string>{"0,h264,video,[0][0][0][0]", "1,aac,audio,[0][0][0][0]",
                                        "2,subrip,subtitle,[0][0][0][0]",
                                        "3,subrip,subtitle,[0][0][0][0]"}));
    EXPECT_EQ(tavtest::probedStreamLines(folder / "second-converted.mkv").size(), 5u);
}

TEST(RemuxWindow, DropUntickAndRemuxNow) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::TempDir folder;
    tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "first.mkv");
    tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, "second.mkv");
    tavtest::copyMedia(tavtest::TestMedia::shared().randomBytes, folder, noiseName);
    tavtest::copyMedia(tavtest::remuxSourceMedia(), folder, longStem + ".mkv");
    QProcessEnvironment environment;
    environment.insert(folderVariable, QString::fromStdString(folder.path().string()));
    environment.insert(
        "TAVROLIN_SCREENSHOT",
        QString::fromStdString((tavtest::buildFolder() / "tavrolin-remux-window.png").string()));
    tavtest::expectPassesUnderXvfb(childVariable, "RemuxWindow.Child", environment);
    EXPECT_TRUE(fs::exists(folder / "first-converted.mkv"));
}
