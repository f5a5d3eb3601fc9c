#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QProgressBar>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include "GatedProcessor.h"
#include "QtTestApplication.h"
#include "app/MainNavigationSidebar.h"
#include "app/RootView.h"
#include "app/SettingsView.h"
#include "app/TavrolinApp.h"
#include "app/WorkspacePage.h"
#include "engine/JobQueueViewModel.h"
#include "support/TempDir.h"
#include "support/TestAppConfiguration.h"
#include "support/TestMedia.h"
#include "support/TestStreams.h"
#include "support/XvfbChild.h"

using namespace tavrolin;
namespace fs = std::filesystem;

// The window on a real X server: the test runs itself again under xvfb-run, where the child
// case below builds the application's window on the xcb platform.

namespace {

const char* const childVariable = "TAVROLIN_XVFB_CHILD";

// The application as the window cases build it: preferences in memory, no updater.
TavrolinApp::Configuration windowConfiguration(const fs::path& downloads) {
    TavrolinApp::Configuration configuration = tavtest::appConfiguration(downloads);
    configuration.revealer = std::make_shared<tavtest::RecordingRevealer>();
    return configuration;
}

QString describe(QWidget* widget) {
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName());
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(widget);
    return interface ? interface->text(QAccessible::Name).trimmed() : QString();
}

// The controls Tab should stop at: shown, enabled, taking Tab focus themselves.
QSet<QWidget*> tabStops(QWidget* page) {
    QSet<QWidget*> stops;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->isEnabled() && !widget->focusProxy() &&
            (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            stops.insert(widget);
        }
    }
    return stops;
}

// A page still inspecting shows a busy bar.
bool isBusy(QWidget* page) {
    for (auto* bar : page->findChildren<QProgressBar*>()) {
        if (bar->isVisible() && bar->maximum() == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(XvfbWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only under xvfb-run, started by XvfbWindow.MainWindowOnARealServer";
    }
    tavtest::qtApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    tavtest::TempDir folder;
    TavrolinApp app(windowConfiguration(folder.path()));
    MainWindow* window = app.mainWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    window->resize(700, 500);  // the window refuses to get smaller than its minimum
    QTest::qWait(200);
    EXPECT_GE(window->width(), 920);
    EXPECT_GE(window->height(), 640);

    MainNavigationSidebar* sidebar = window->rootView()->sidebar();
    QStringList headers;
    for (auto* label : sidebar->findChildren<QLabel*>("groupHeader")) {
        EXPECT_TRUE(label->isVisible());
        headers.append(label->text());
    }
    EXPECT_EQ(headers, (QStringList{"Video", "Files", "Processing"}));
    for (WorkspaceSection section : allWorkspaceSections) {
        SidebarRow* row = sidebar->row(section);
        EXPECT_TRUE(row->isVisible()) << rawValue(section);
        EXPECT_FALSE(row->icon().isNull()) << rawValue(section);
        EXPECT_GT(row->width(), 150);
    }
    EXPECT_GE(sidebar->width(), 210);
    EXPECT_LE(sidebar->width(), 260);

    const QPixmap shot = window->screen()->grabWindow(window->winId());
    ASSERT_FALSE(shot.isNull());
    const QString target = qEnvironmentVariable("TAVROLIN_SCREENSHOT");
    ASSERT_FALSE(target.isEmpty());
    ASSERT_TRUE(shot.save(target, "PNG"));
    // A blank window would be one colour; the sidebar and the workspace are drawn.
    const QImage image = shot.toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            colours.insert(image.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 5);

    // The queue screen with waiting jobs, for review.
    RemuxRequest request;
    request.input = "/videos/Holiday 2024.mkv";
    request.output = "/videos/Converted/Holiday 2024.mp4";
    app.queue().enqueue({request, request});
    window->rootView()->select(WorkspaceSection::queue);
    QTest::qWait(200);
    const QPixmap queueShot = window->screen()->grabWindow(window->winId());
    ASSERT_TRUE(queueShot.save(QFileInfo(target).dir().filePath("tavrolin-queue.png"), "PNG"));

    // The settings window has a fixed size: everything in it must fit.
    SettingsView* settings = app.showSettings();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings, 10000));
    QTest::qWait(200);
    const QSize needed = settings->layout()->minimumSize();
    EXPECT_LE(needed.width(), settings->width());
    EXPECT_LE(needed.height(), settings->height());
    const QPixmap settingsShot = settings->screen()->grabWindow(settings->winId());
    ASSERT_TRUE(
        settingsShot.save(QFileInfo(target).dir().filePath("tavrolin-settings-window.png"), "PNG"));
}

TEST(XvfbWindow, MainWindowOnARealServer) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    const QString screenshot =
        QString::fromStdString((tavtest::buildFolder() / "tavrolin-main-window.png").string());
    QFile::remove(screenshot);
    QProcessEnvironment environment;
    environment.insert("TAVROLIN_SCREENSHOT", screenshot);
    tavtest::expectPassesUnderXvfb(childVariable, "XvfbWindow.Child", environment, 90000,
                                   QStringLiteral("1280x800x24"));
    const QImage image(screenshot);
    EXPECT_GE(image.width(), 920);
    EXPECT_GE(image.height(), 640);
}

TEST(XvfbWindow, ApplicationExecutableShowsItsWindow) {
    if (qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP();
    }
    const fs::path executable = tavtest::buildFolder() / "tavrolin";
    if (!tavtest::hasProgram("xvfb-run") || !tavtest::hasProgram("xwininfo") ||
        !fs::exists(executable)) {
        GTEST_SKIP() << "needs xvfb-run, xwininfo and the built tavrolin executable";
    }
    tavtest::TempDir home;
    // Launches the program, waits until its main window is viewable, then ends it. Qt's 1x1
    // client-leader window carries the same name, so the window is found by its class.
    const QString script = QStringLiteral(
        "\"$0\" & pid=$!; i=0; while [ $i -lt 150 ]; do "
        "id=$(xwininfo -root -tree 2>/dev/null | grep '(\"tavrolin\" \"Tavrolin\")' | "
        "awk '{print $1}'); "
        "if [ -n \"$id\" ] && xwininfo -id $id 2>/dev/null | grep -q IsViewable; then "
        "kill $pid; wait $pid; exit 0; fi; sleep 0.1; i=$((i+1)); done; kill $pid; exit 1");
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    environment.insert("XDG_CACHE_HOME", QString::fromStdString((home / "cache").string()));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start("xvfb-run", {"-a", "sh", "-c", script, QString::fromStdString(executable.string())});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAll().toStdString();
}

// Every page reached by keyboard alone: Tab from the sidebar walks each workspace, and every
// enabled control is reached once and has a name for a screen reader.
TEST(KeyboardWalk, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only under xvfb-run, started by KeyboardWalk.EveryPageOnARealServer";
    }
    tavtest::qtApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    tavtest::TempDir folder;
    const auto& media = tavtest::TestMedia::shared();
    TavrolinApp app(windowConfiguration(folder.path()));
    MainWindow* window = app.mainWindow();
    window->resize(1200, 860);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, 10000));

    // A finished job, so the queue has a row with its reveal button.
    RemuxRequest request;
    request.input = media.mp4ClipA;
    request.output = folder / "walked.mp4";
    request.selectedStreams = {tavtest::makeStream(0, MediaStreamKind::video, "h264")};
    app.queue().enqueue({request});
    app.queue().startWorkerIfNeeded();
    QTRY_VERIFY_WITH_TIMEOUT(
        app.queue().jobs().at(0).status.kind == ProcessingJob::Status::Kind::completed, 60000);

    RootView* root = window->rootView();
    for (WorkspaceSection section : allWorkspaceSections) {
        SCOPED_TRACE(rawValue(section));
        root->select(section);
        QWidget* page =
            root->workspacePage(section) ? root->workspacePage(section)->view() : nullptr;
        if (section != WorkspaceSection::queue && page) {
            root->handleDrop({QUrl::fromLocalFile(QString::fromStdString(media.mp4ClipA)),
                              QUrl::fromLocalFile(QString::fromStdString(media.mp4ClipB))});
            QTRY_VERIFY_WITH_TIMEOUT(!isBusy(page), 60000);
        }
        QCoreApplication::processEvents();
        SidebarRow* start = root->sidebar()->row(section);
        start->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::focusWidget(), start, 10000);

        const QImage markedRow = start->grab().toImage();
        QList<QWidget*> visited;
        for (int step = 0; step < 400; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (step == 0) {
                EXPECT_NE(start->grab().toImage(), markedRow) << "the focused row shows a mark";
            }
            QWidget* focused = QApplication::focusWidget();
            if (focused == start || focused == nullptr) {
                break;
            }
            visited.append(focused);
        }
        ASSERT_EQ(QApplication::focusWidget(), start) << "Tab comes back round to the sidebar";
        if (!page) {
            continue;
        }
        const QSet<QWidget*> expected = tabStops(page);
        for (QWidget* stop : expected) {
            EXPECT_EQ(visited.count(stop), 1) << describe(stop).toStdString();
        }
        for (QWidget* widget : visited) {
            if (page->isAncestorOf(widget) || widget == page) {
                EXPECT_FALSE(accessibleName(widget).isEmpty())
                    << describe(widget).toStdString() << " has no accessible name";
            }
        }
        EXPECT_FALSE(expected.isEmpty());
    }
}

TEST(KeyboardWalk, EveryPageOnARealServer) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::expectPassesUnderXvfb(childVariable, "KeyboardWalk.Child", {}, 180000);
}
