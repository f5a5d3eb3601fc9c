#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <fstream>

#include "queue/JobQueueViewModel.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/RootView.h"
#include "shell/SettingsView.h"
#include "shell/TavrolinApp.h"
#include "shell/WorkspacePage.h"
#include "support/GatedProcessor.h"
#include "support/KeyboardWalk.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"
#include "support/TestAppConfiguration.h"
#include "support/TestMedia.h"
#include "support/TestStreams.h"
#include "support/WindowChecks.h"

using namespace tavrolin;
namespace fs = std::filesystem;

// The window on a real X server: the test runs itself again on an X server of its own, where
// the child case below builds the application's window on the xcb platform.

namespace {

const char* const childVariable = "TAVROLIN_XVFB_CHILD";

QString describe(QWidget* widget) {
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName());
}

// Whether `root` shows a `T` that passes `test`.
template <typename T, typename Test>
bool shows(const QWidget& root, Test test) {
    const QList<T*> children = root.findChildren<T*>();
    return std::any_of(children.begin(), children.end(),
                       [&](T* child) { return child->isVisible() && test(*child); });
}

bool showsText(const QWidget& root, const QString& fragment) {
    return shows<QLabel>(root,
                         [&](const QLabel& label) { return label.text().contains(fragment); });
}

}  // namespace

TEST(XvfbWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP()
            << "runs only on its own X server, started by XvfbWindow.MainWindowOnARealServer";
    }
    tavtest::qtApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    tavtest::TempDir folder;
    TavrolinApp::Configuration configuration = tavtest::appConfiguration(folder.path());
    configuration.revealer = std::make_shared<tavtest::RecordingRevealer>();
    TavrolinApp app(configuration);
    MainWindow* window = app.mainWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    window->resize(700, 500);  // the window refuses to get smaller than its minimum
    ASSERT_TRUE(tavtest::settled(window));
    EXPECT_GE(window->width(), 920);
    EXPECT_GE(window->height(), 640);

    RootView* root = window->rootView();
    MainNavigationSidebar* sidebar = root->sidebar();
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

    // Every page reached by keyboard alone: Tab from the sidebar walks each workspace, and every
    // enabled control is reached once and has a name for a screen reader.
    window->resize(1200, 860);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, 10000));
    // A finished job, so the queue has a row with its reveal button.
    const auto& media = tavtest::TestMedia::shared();
    RemuxRequest walked;
    walked.input = media.mp4ClipA;
    walked.output = folder / "walked.mp4";
    walked.selectedStreams = {tavtest::makeStream(0, MediaStreamKind::video, "h264")};
    app.queue().enqueue({walked});
    app.queue().startWorkerIfNeeded();
    ASSERT_TRUE(tavtest::waitUntil(
        [&] {
            return app.queue().jobs().at(0).status.kind == ProcessingJob::Status::Kind::completed;
        },
        60000));

    for (WorkspaceSection section : allWorkspaceSections) {
        SCOPED_TRACE(rawValue(section));
        root->select(section);
        QWidget* page = root->workspacePage(section)->view();
        if (section != WorkspaceSection::queue) {
            root->handleDrop({QUrl::fromLocalFile(QString::fromStdString(media.mp4ClipA)),
                              QUrl::fromLocalFile(QString::fromStdString(media.mp4ClipB))});
            // A page still inspecting shows a busy bar.
            ASSERT_TRUE(tavtest::waitUntil(
                [&] {
                    return !shows<QProgressBar>(
                        *page, [](const QProgressBar& bar) { return bar.maximum() == 0; });
                },
                60000));
        }
        QCoreApplication::processEvents();
        SidebarRow* start = sidebar->row(section);
        start->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(
            tavtest::waitUntil([&] { return QApplication::focusWidget() == start; }, 10000));

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
        const QList<QWidget*> expected = tavtest::tabStops(page);
        for (QWidget* stop : expected) {
            EXPECT_EQ(visited.count(stop), 1) << describe(stop).toStdString();
        }
        for (QWidget* widget : visited) {
            QAccessibleInterface* named = QAccessible::queryAccessibleInterface(widget);
            if (page->isAncestorOf(widget) || widget == page) {
                EXPECT_TRUE(named && !named->text(QAccessible::Name).trimmed().isEmpty())
                    << describe(widget).toStdString() << " has no accessible name";
            }
        }
        EXPECT_FALSE(expected.isEmpty());
    }

    // The queue screen with waiting jobs, for review.
    RemuxRequest request;
    request.input = "/videos/Holiday 2024.mkv";
    request.output = "/videos/Converted/Holiday 2024.mp4";
    app.queue().enqueue({request, request});
    root->select(WorkspaceSection::queue);
    ASSERT_TRUE(tavtest::settled(window));
    const QPixmap queueShot = window->screen()->grabWindow(window->winId());
    ASSERT_TRUE(queueShot.save(QFileInfo(target).dir().filePath("tavrolin-queue.png"), "PNG"));

    // The queue by keyboard: the finished row's button before the footer, every stop marked
    // and named. Start Queue keeps the focus on the page while the jobs run and after.
    QWidget* queuePage = root->workspacePage(WorkspaceSection::queue)->view();
    tavtest::expectKeyboardWalk(sidebar->row(WorkspaceSection::queue), queuePage);
    auto* startQueue = queuePage->findChild<QPushButton*>(QStringLiteral("startQueue"));
    startQueue->setFocus(Qt::TabFocusReason);
    QTest::keyClick(startQueue, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil(
        [&] {
            return std::ranges::all_of(app.queue().jobs(), [](const ProcessingJob& job) {
                return job.status.isFinished();
            });
        },
        60000));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), queuePage->findChild<QPushButton*>("clearFinished"))
        << tavtest::describeWidget(QApplication::focusWidget());

    // The settings window has a fixed size: everything in it must fit.
    SettingsView* settings = app.showSettings();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(settings, 10000));
    ASSERT_TRUE(tavtest::settled(settings));
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
    tavtest::expectPassesUnderXvfb(childVariable, "XvfbWindow.Child", environment, 240000);
    const QImage image(screenshot);
    EXPECT_GE(image.width(), 920);
    EXPECT_GE(image.height(), 640);
}

// Without its modules (the libav decoder, Qt Multimedia playback, PocketSphinx) the program
// still starts, and each page that needs one says which is missing.
TEST(XvfbWindow, ApplicationExecutableShowsItsWindowWithoutModulesAndQuitsCleanly) {
    if (qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP();
    }
    const fs::path executable = tavtest::buildFolder() / "tavrolin";
    if (!tavtest::hasProgram("Xvfb") || !tavtest::hasProgram("xdotool") ||
        !fs::exists(executable)) {
        GTEST_SKIP() << "needs Xvfb, xdotool and the built tavrolin executable";
    }
    tavtest::TempDir home;
    fs::create_directories(home.path() / "modules");
    // Starts where it was left: on Transcribe, whose language check needs the speech module.
    fs::create_directories(home.path() / "config" / "Tavrolin");
    std::ofstream(home.path() / "config" / "Tavrolin" / "Tavrolin.conf")
        << "[General]\nlastWorkspaceSection=transcribe\n";
    // The window counts as shown once xdotool finds it visible (Qt's 1x1 client-leader window
    // carries the same name but is never mapped); then the program runs until a termination
    // signal asks it to quit, and quits cleanly.
    const QString script = QStringLiteral(
        "\"$0\" & pid=$!\n"
        "until xdotool search --onlyvisible --pid $pid --name '^Tavrolin$' >/dev/null; do\n"
        "  kill -0 $pid || { echo 'ended before its window showed'; exit 3; }\n"
        "  sleep 0.05\n"
        "done\n"
        "echo window shown\n"
        "kill -TERM $pid; wait $pid; echo \"status $?\"\n");
    const auto inHome = [&](const char* name) {
        return QString::fromStdString((home.path() / name).string());
    };
    QProcessEnvironment environment;
    environment.insert("TAVROLIN_MODULE_DIR", inHome("modules"));
    environment.insert("HOME", inHome(""));
    environment.insert("XDG_CONFIG_HOME", inHome("config"));
    environment.insert("XDG_CACHE_HOME", inHome("cache"));
    tavtest::PrivateDisplay display;
    QString output;
    tavtest::expectRunsOnDisplay(display, "sh",
                                 {"-c", script, QString::fromStdString(executable.string())},
                                 environment, 120000, output);
    EXPECT_TRUE(output.contains("window shown")) << output.toStdString();
    EXPECT_TRUE(output.contains("status 0")) << output.toStdString();
}

TEST(WithoutModules, PreviewAndTranscribePagesSayTheirPartIsMissing) {
    tavtest::qtApplication();
    tavtest::TempDir folder;
    qputenv("TAVROLIN_MODULE_DIR", QByteArray::fromStdString(folder.path().string()));
    TavrolinApp app(tavtest::appConfiguration(folder.path()));
    MainWindow* window = app.mainWindow();
    window->show();
    RootView& root = *window->rootView();

    root.select(WorkspaceSection::transcribe);
    EXPECT_TRUE(
        tavtest::waitUntil([&] { return showsText(root, "libtavrolin-speech.so"); }, 60000));

    root.select(WorkspaceSection::split);
    const fs::path clip = tavtest::TestMedia::shared().mp4ClipA;
    ASSERT_TRUE(root.workspacePage(WorkspaceSection::split)->addFiles({clip}));
    EXPECT_TRUE(
        tavtest::waitUntil([&] { return showsText(root, "libtavrolin-playback.so"); }, 60000));
    qunsetenv("TAVROLIN_MODULE_DIR");
}
