// Quitting never waits for work that cannot end: with pages busy in a folder that stopped
// answering, a file playing (from a folder that answers, and from one that stops answering) and a
// frame being decoded from a hung folder, the process ends within 2 s of the quit. Each case runs
// the application in a child process, which quits as main() does; the parent times its end.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTimer>

#include <csignal>
#include <iostream>

#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitView.h"
#include "preview/SplitPreviewViewModel.h"
#include "preview/SplitVideoPreview.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "shell/WorkspacePage.h"
#include "support/QtTestApplication.h"
#include "support/SlowFolder.h"
#include "support/TempDir.h"
#include "support/TestAppConfiguration.h"
#include "support/TestMedia.h"
#include "support/XvfbChild.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

const char* const scenarioVariable = "TAVROLIN_QUIT_SCENARIO";
const char* const folderVariable = "TAVROLIN_QUIT_FOLDER";
const char* const clipVariable = "TAVROLIN_QUIT_CLIP";
const char* const quittingLine = "quitting now";
// Longer than any test runs: a folder that stopped answering.
constexpr auto hung = std::chrono::minutes(30);

}  // namespace

TEST(QuitChild, Quits) {
    if (!qEnvironmentVariableIsSet(scenarioVariable)) {
        GTEST_SKIP() << "runs only in its own process, started by Quitting.EndsWithinTwoSeconds";
    }
    tavtest::qtApplication();
    const QString scenario = qEnvironmentVariable(scenarioVariable);
    const fs::path folder = qEnvironmentVariable(folderVariable).toStdString();
    const fs::path mount = folder / "mount";
    fs::create_directories(mount / "show");
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4", "show/01.mp4", "show/02.mp4"}) {
        fs::copy_file(qEnvironmentVariable(clipVariable).toStdString(), mount / name);
    }
    // Files opened there from now on are known, so that their reads can hang later.
    tavtest::SlowFolder::start(mount, std::chrono::milliseconds(0));
    TavrolinApp app(tavtest::appConfiguration(folder / "downloads"));
    app.mainWindow()->show();
    RootView* root = app.mainWindow()->rootView();
    const auto page = [&](WorkspaceSection section) { return root->workspacePage(section); };
    // The Split page's preview of `file`, once loaded.
    SplitPreviewViewModel* preview = nullptr;
    const auto previewOf = [&](const fs::path& file) {
        ASSERT_TRUE(page(WorkspaceSection::split)->addFiles({file}));
        root->select(WorkspaceSection::split);
        auto* split = dynamic_cast<SplitView*>(page(WorkspaceSection::split)->view());
        ASSERT_TRUE(tavtest::waitUntil(
            [&] {
                SplitVideoPreview* shown = split->editor()->preview();
                preview = shown ? &shown->model() : nullptr;
                return preview && preview->url() == file && preview->duration() > 0;
            },
            120000));
    };
    const auto held = [](int calls) {
        return tavtest::waitUntil([&] { return tavtest::SlowFolder::waiting() >= calls; }, 120000);
    };

    if (scenario == u"busy pages") {
        // Listing, inspecting, indexing and checking output folders, each held on its page's
        // own threads.
        tavtest::SlowFolder::start(mount, hung);
        ASSERT_TRUE(page(WorkspaceSection::rename)->addFiles({mount / "show"}));
        ASSERT_TRUE(page(WorkspaceSection::split)->addFiles({mount / "a.mp4"}));
        ASSERT_TRUE(page(WorkspaceSection::transcribe)->addFiles({mount / "b.mp4"}));
        ASSERT_TRUE(page(WorkspaceSection::remux)->addFiles({mount / "c.mp4"}));
        ASSERT_TRUE(held(4));
    } else if (scenario.startsWith(u"playing")) {
        ASSERT_NO_FATAL_FAILURE(previewOf(mount / "a.mp4"));
        preview->togglePlayback();
        ASSERT_TRUE(tavtest::waitUntil(
            [&] {
                preview->syncCurrentTime();
                return preview->currentTime() > 0.5;
            },
            120000));
        if (scenario.endsWith(u"hangs")) {
            tavtest::SlowFolder::start(mount, hung, true);
            ASSERT_TRUE(held(1));
        }
    } else {
        ASSERT_NO_FATAL_FAILURE(previewOf(mount / "a.mp4"));
        tavtest::SlowFolder::start(mount, hung, true);
        preview->seek(preview->duration() * 0.9, false);
        ASSERT_TRUE(held(1));
    }

    // As main() quits.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &app,
                     [&app] { app.shutdown(std::chrono::seconds(5)); });
    std::cout << quittingLine << std::endl;
    QTimer::singleShot(0, qApp, &QApplication::closeAllWindows);
    QApplication::exec();
}

TEST(Quitting, EndsWithinTwoSeconds) {
    if (qEnvironmentVariableIsSet(scenarioVariable)) {
        GTEST_SKIP();
    }
    // 40 s, so that playing it keeps reading the file.
    const fs::path clip = tavtest::TestMedia::generate(
        "quit-clip.mp4", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=40", "-f",
                          "lavfi", "-i", "sine=duration=40", "-c:v", "libx264", "-preset",
                          "ultrafast", "-c:a", "aac", "-shortest"});
    for (const char* scenario :
         {"busy pages", "playing", "playing, then the folder hangs", "serving a frame"}) {
        SCOPED_TRACE(scenario);
        tavtest::TempDir folder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(tavtest::homeIn(folder.path()));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // In the sanitizer build the leak scan at exit would be timed too; this process has its
        // own.
        environment.insert(
            QStringLiteral("ASAN_OPTIONS"),
            environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        environment.insert(scenarioVariable, QString::fromLatin1(scenario));
        environment.insert(folderVariable, QString::fromStdString(folder.path().string()));
        environment.insert(clipVariable, QString::fromStdString(clip.string()));
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        tavtest::startTiedToThisProcess(
            child, QString::fromStdString(fs::read_symlink("/proc/self/exe").string()),
            {QStringLiteral("--gtest_filter=QuitChild.Quits")}, environment);
        // However long a loaded machine takes to set the case up; then 2 s to end.
        QByteArray output;
        const QDeadlineTimer setUp(std::chrono::minutes(3));
        while (!output.contains(quittingLine) && !setUp.hasExpired() &&
               child.state() != QProcess::NotRunning) {
            child.waitForReadyRead(1000);
            output += child.readAll();
        }
        const bool ended = output.contains(quittingLine) && child.waitForFinished(2000);
        if (!ended) {
            kill(static_cast<pid_t>(-child.processId()), SIGKILL);
            child.waitForFinished(5000);
        }
        output += child.readAll();
        ASSERT_TRUE(ended) << "not ended 2 s after the quit\n" << output.toStdString();
        EXPECT_TRUE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
                    output.contains("[  PASSED  ] 1 test"))
            << output.toStdString();
    }
}
