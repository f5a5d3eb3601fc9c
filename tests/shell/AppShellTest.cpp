#include <gtest/gtest.h>
#include <signal.h>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <fstream>

#include "engine/JobQueueViewModel.h"
#include "probe/FFprobeService.h"
#include "process/FoundationProcessRunner.h"
#include "shell/AppUpdater.h"
#include "shell/QuitSignals.h"
#include "shell/RootView.h"
#include "shell/SettingsView.h"
#include "shell/SupportLinks.h"
#include "shell/TavrolinApp.h"
#include "support/GatedProcessor.h"
#include "support/LocalHttpServer.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class AppShell : public ::testing::Test {
  protected:
    QApplication& application = tavtest::qtApplication();

    TavrolinApp::Configuration configuration(const QUrl& feed = QUrl()) {
        TavrolinApp::Configuration result;
        result.preferences = preferences;
        result.revealer = std::make_shared<tavtest::RecordingRevealer>();
        result.appcastURL = feed;
        result.downloadFolder = QString::fromStdString((folder / "Downloads").string());
        result.openURL = [this](const QUrl& url) {
            opened.append(url);
            return opens;
        };
        result.startsUpdater = false;
        return result;
    }

    static QStringList actionTexts(QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions()) {
            if (!action->isSeparator()) {
                texts.append(action->text());
            }
        }
        return texts;
    }
    static QMenu* menu(MainWindow* window, const QString& title) {
        for (QAction* action : window->menuBar()->actions()) {
            if (action->text() == title) {
                return action->menu();
            }
        }
        return nullptr;
    }

    std::shared_ptr<InMemoryPreferencesStore> preferences =
        std::make_shared<InMemoryPreferencesStore>();
    tavtest::TempDir folder;
    tavtest::LocalHttpServer server;
    QList<QUrl> opened;
    bool opens = true;  // whether a browser or mail program takes the links
};

}  // namespace

TEST_F(AppShell, MenusHoldExactlyTheirCommandsAndTheLinksOpen) {
    TavrolinApp app(configuration());
    MainWindow* window = app.mainWindow();
    EXPECT_EQ(window->minimumSize(), QSize(920, 640));
    window->resize(600, 400);
    EXPECT_GE(window->width(), 920);
    EXPECT_GE(window->height(), 640);

    ASSERT_NE(menu(window, "&File"), nullptr);
    ASSERT_NE(menu(window, "&Help"), nullptr);
    EXPECT_EQ(actionTexts(menu(window, "&File")), (QStringList{"Settings…", "Quit"}));
    EXPECT_EQ(actionTexts(menu(window, "&Help")),
              (QStringList{"Tavrolin Support", "Send Feedback…", "Check for Updates…",
                           "About Tavrolin"}));
    auto* settings = window->findChild<QAction*>("settingsAction");
    EXPECT_EQ(settings->shortcut(), QKeySequence("Ctrl+,"));

    window->findChild<QAction*>("supportAction")->trigger();
    window->findChild<QAction*>("feedbackAction")->trigger();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].scheme(), "https");
    EXPECT_EQ(opened[1].scheme(), "mailto");
    EXPECT_TRUE(opened[1].toEncoded().contains("Tavrolin%20" TAVROLIN_VERSION "%20("));
    // With no program to take them, a sentence gives the address to copy instead.
    opens = false;
    for (const char* action : {"supportAction", "feedbackAction"}) {
        SCOPED_TRACE(action);
        window->findChild<QAction*>(action)->trigger();
        auto* box = window->findChild<QMessageBox*>("linkNotOpened");
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible());
        EXPECT_TRUE(box->textInteractionFlags() & Qt::TextSelectableByMouse);
        EXPECT_EQ(box->text(), qstrcmp(action, "supportAction") == 0
                                   ? "No web browser opened the support page. Its address is "
                                     "https://tavrolin.app/support."
                                   : "No mail program opened a new message. Send your feedback "
                                     "to support@tavrolin.app.");
        box->accept();
        ASSERT_TRUE(tavtest::waitUntil(
            [&] { return window->findChild<QMessageBox*>("linkNotOpened") == nullptr; }));
    }

    // About names the version and build and links to the support page.
    QString about;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            about = box->text();
            box->accept();
        }
    });
    closer.start(10);
    window->findChild<QAction*>("aboutAction")->trigger();
    closer.stop();
    EXPECT_TRUE(about.contains("Tavrolin")) << about.toStdString();
    EXPECT_TRUE(about.contains("Version " TAVROLIN_VERSION " (" TAVROLIN_BUILD ")"))
        << about.toStdString();
    EXPECT_TRUE(about.contains(supportPageURL().toString())) << about.toStdString();

    // Settings open from the menu and from the sidebar link, as one window.
    EXPECT_EQ(app.settingsView(), nullptr);
    settings->trigger();
    SettingsView* first = app.settingsView();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->isWindow());
    window->rootView()->findChild<QPushButton*>("settingsLink")->click();
    EXPECT_EQ(app.settingsView(), first);
}

// The report shows the feed's words as they stand, never as markup, and offers the release's
// page.
TEST_F(AppShell, CheckForUpdatesFollowsTheUpdaterAndAReportOffersThePage) {
    {
        TavrolinApp noFeed(configuration());
        EXPECT_FALSE(tavtest::waitUntil(
            [&] { return noFeed.mainWindow()->checkForUpdatesAction()->isEnabled(); }, 20));
    }
    server.serve(
        "/appcast.xml",
        "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
        "<channel><item><version>999.0 &lt;a href=\"file:///etc/passwd\"&gt;notes&lt;/a&gt;"
        "</version>"
        "<sparkle:releaseNotesLink>https://tavrolin.app/999</sparkle:releaseNotesLink>"
        "</item></channel></rss>");
    TavrolinApp app(configuration(server.url("/appcast.xml")));
    QAction* check = app.mainWindow()->checkForUpdatesAction();
    ASSERT_TRUE(tavtest::waitUntil([&] { return check->isEnabled(); }));
    check->trigger();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !check->isEnabled(); }));
    QMessageBox* report = nullptr;
    ASSERT_TRUE(tavtest::waitUntil([&] {
        report = app.mainWindow()->findChild<QMessageBox*>();
        return report != nullptr && report->isVisible();
    }));
    EXPECT_TRUE(tavtest::waitUntil([&] { return check->isEnabled(); }));
    EXPECT_EQ(report->text(), "A new version of Tavrolin is available.");
    QTextDocument shown;
    shown.setHtml(report->informativeText());
    EXPECT_TRUE(Qt::mightBeRichText(report->informativeText()));
    EXPECT_TRUE(shown.toPlainText().startsWith(
        "Tavrolin 999.0 <a href=\"file:///etc/passwd\">notes</a> is available; you have "))
        << shown.toPlainText().toStdString();
    QPushButton* openPage = nullptr;
    for (auto* button : report->findChildren<QPushButton*>()) {
        if (button->text() == "Open Page") {
            openPage = button;
        }
    }
    ASSERT_NE(openPage, nullptr);
    openPage->click();
    EXPECT_EQ(opened, QList<QUrl>{QUrl("https://tavrolin.app/999")});
}

TEST_F(AppShell, QuittingStopsTheRunningJobAndLeavesNoWorkingFile) {
    const auto& media = tavtest::TestMedia::shared();
    // A stand-in ffmpeg that creates its working output and then hangs, like a long job.
    fs::create_directories(folder / "tools");
    fs::create_directories(folder / "out");
    const fs::path ffmpeg = folder / "tools" / "ffmpeg";
    std::ofstream(ffmpeg) << "#!/bin/sh\nfor last; do :; done\n: > \"$last\"\necho $$ > \""
                          << (folder / "pid").string() << "\"\nexec sleep 30\n";
    fs::permissions(ffmpeg, fs::perms::owner_all);
    fs::create_symlink("/usr/bin/ffprobe", folder / "tools" / "ffprobe");
    preferences->setString("customFFmpegPath", ffmpeg.string());

    TavrolinApp app(configuration());
    FFprobeService probe(std::make_shared<FoundationProcessRunner>(),
                         ToolLocations::standard(preferences));
    RemuxRequest request;
    request.input = media.mp4ClipA;
    request.output = folder / "out" / "clip.mkv";
    request.selectedStreams = probe.inspectStreams(media.mp4ClipA);
    app.queue().enqueueNext({request});
    // The shell creates the file before it writes the number: wait for the number itself.
    int pid = 0;
    ASSERT_TRUE(tavtest::waitUntil(
        [&] {
            std::ifstream(folder / "pid") >> pid;
            return pid > 0;
        },
        10000));
    ASSERT_TRUE(tavtest::waitUntil([&] { return !fs::is_empty(folder / "out"); }));

    EXPECT_TRUE(app.shutdown(std::chrono::seconds(5)));
    EXPECT_TRUE(fs::is_empty(folder / "out"));
    EXPECT_NE(kill(pid, 0), 0);  // the child is gone
}

TEST_F(AppShell, TerminationSignalsBecomeAQuitRequestOnTheGuiThread) {
    std::vector<int> received;
    {
        QuitSignals quitSignals;
        QObject::connect(&quitSignals, &QuitSignals::quitRequested,
                         [&](int number) { received.push_back(number); });
        ::raise(SIGTERM);  // would end the test process without the handler
        ::raise(SIGHUP);
        ASSERT_TRUE(tavtest::waitUntil([&] { return received.size() == 2; }));
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGHUP}));
    }
    // The earlier handler is back.
    struct sigaction current {};
    ::sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}
