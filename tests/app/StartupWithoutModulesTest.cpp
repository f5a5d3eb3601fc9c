#include <gtest/gtest.h>
#include <QLabel>
#include <QProcess>
#include <fstream>

#include "QtTestApplication.h"
#include "app/RootView.h"
#include "app/TavrolinApp.h"
#include "joinsplit/SplitViewModel.h"
#include "support/TempDir.h"
#include "support/TestAppConfiguration.h"
#include "support/TestMedia.h"
#include "support/XvfbChild.h"

using namespace tavrolin;
namespace fs = std::filesystem;

// Without its modules (the libav decoder, Qt Multimedia playback, PocketSphinx) the program
// still starts, and each page that needs one says which is missing.

namespace {

bool showsText(const QWidget& root, const QString& fragment) {
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (label->isVisible() && label->text().contains(fragment)) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(WithoutModules, TheProgramShowsItsWindowOnTheTranscribePageAndQuitsCleanly) {
    if (!tavtest::hasProgram("xvfb-run") || !tavtest::hasProgram("xdotool")) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    tavtest::TempDir home;
    fs::create_directories(home.path() / "modules");
    // Starts where it was left: on Transcribe, whose language check needs the speech module.
    fs::create_directories(home.path() / "config" / "Tavrolin");
    std::ofstream(home.path() / "config" / "Tavrolin" / "Tavrolin.conf")
        << "[General]\nlastWorkspaceSection=transcribe\n";
    const fs::path program = tavtest::buildFolder() / "tavrolin";
    // The window counts as shown once xdotool finds it visible; then the program keeps running
    // until it is asked to quit, and quits cleanly.
    const QString script = QStringLiteral(
        "\"$0\" & pid=$!\n"
        "until xdotool search --onlyvisible --pid $pid --name '^Tavrolin$' >/dev/null; do\n"
        "  kill -0 $pid || { echo 'ended before its window showed'; exit 3; }\n"
        "  sleep 0.05\n"
        "done\n"
        "echo window shown\n"
        "kill -TERM $pid; wait $pid; echo \"status $?\"\n");
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const auto inHome = [&](const char* name) {
        return QString::fromStdString((home.path() / name).string());
    };
    environment.insert("TAVROLIN_MODULE_DIR", inHome("modules"));
    environment.insert("HOME", inHome(""));
    environment.insert("XDG_CONFIG_HOME", inHome("config"));
    environment.insert("XDG_CACHE_HOME", inHome("cache"));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start("xvfb-run", {"-a", "sh", "-c", script, QString::fromStdString(program.string())});
    ASSERT_TRUE(run.waitForFinished(120000));
    const QString output = QString::fromUtf8(run.readAll());
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
