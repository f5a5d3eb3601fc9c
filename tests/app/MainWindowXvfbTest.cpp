#include <gtest/gtest.h>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include "GatedProcessor.h"
#include "QtTestApplication.h"
#include "app/MainNavigationSidebar.h"
#include "app/RootView.h"
#include "app/SettingsView.h"
#include "app/TavrolinApp.h"
#include "engine/JobQueueViewModel.h"
#include "support/TempDir.h"
#include "support/XvfbChild.h"

using namespace tavrolin;
namespace fs = std::filesystem;

// The window on a real X server: the test runs itself again under xvfb-run, where the child
// case below builds the application's window on the xcb platform.

namespace {

const char* const childVariable = "TAVROLIN_XVFB_CHILD";

}  // namespace

TEST(XvfbWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only under xvfb-run, started by XvfbWindow.MainWindowOnARealServer";
    }
    tavtest::qtApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    tavtest::TempDir folder;
    TavrolinApp::Configuration configuration;
    configuration.preferences = std::make_shared<InMemoryPreferencesStore>();
    configuration.revealer = std::make_shared<tavtest::RecordingRevealer>();
    configuration.downloadFolder = QString::fromStdString(folder.path().string());
    configuration.startsUpdater = false;
    TavrolinApp app(configuration);
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
