#include <gtest/gtest.h>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <fstream>

#include "process/FoundationProcessRunner.h"
#include "shell/AppUpdater.h"
#include "shell/FFmpegLicenseNotice.h"
#include "shell/SettingsModelServer.h"
#include "shell/SettingsView.h"
#include "shell/SettingsViewModel.h"
#include "support/LocalHttpServer.h"
#include "support/QtTestApplication.h"
#include "support/SlowFolder.h"
#include "support/TempDir.h"
#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/SymbolIcons.h"
#include "widgets/WrappingLabel.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

void writeScript(const fs::path& file, const std::string& body) {
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// A stand-in ffmpeg that answers -version like a real build configured with `configuration`.
void writeFakeFFmpeg(const fs::path& file, const std::string& version,
                     const std::string& configuration) {
    writeScript(file, "echo 'ffmpeg version " + version +
                          " Copyright (c) 2000-2026 the FFmpeg developers'\n"
                          "echo '  configuration: " +
                          configuration + "'");
}

class Settings : public ::testing::Test {
  protected:
    QApplication& application = tavtest::qtApplication();

    SettingsViewModel::Dependencies dependencies() {
        SettingsViewModel::Dependencies result;
        result.preferences = preferences;
        result.locations = ToolLocations::standard(preferences);
        result.locations.bundledFFmpegCandidates.clear();
        result.runner = std::make_shared<FoundationProcessRunner>();
        result.openURL = [this](const QUrl& url) {
            opened.append(url);
            return true;
        };
        result.bundledNotice = "/opt/tavrolin/share/tavrolin/Notices/FFmpeg-LICENSE.md";
        return result;
    }

    std::unique_ptr<AppUpdater> makeUpdater(const QUrl& feed = QUrl()) {
        UpdateController::Configuration configuration;
        configuration.feedURL = feed;
        configuration.currentVersion = "1.0";
        configuration.settings = preferences;
        return std::make_unique<AppUpdater>(configuration, false);
    }

    static void waitForStatus(SettingsViewModel& model, const QString& status) {
        ASSERT_TRUE(tavtest::waitUntil([&] { return model.status() == status; }))
            << model.status().toStdString();
    }

    static void waitForNotice(SettingsViewModel& model, const QString& prefix) {
        ASSERT_TRUE(
            tavtest::waitUntil([&] { return model.licenseNotice().startsWith(prefix); }, 5000));
    }

    std::shared_ptr<InMemoryPreferencesStore> preferences =
        std::make_shared<InMemoryPreferencesStore>();
    QList<QUrl> opened;
    tavtest::TempDir folder;
};

template <typename T>
T* child(QWidget& view, const char* name) {
    return view.findChild<T*>(QString::fromLatin1(name));
}

}  // namespace

// The settings window opens over the main window and inside the screen, title bar first.
TEST(SettingsWindowPlace, CentredOverTheMainWindowAndKeptInsideTheScreen) {
    struct Row {
        const char* what;
        QRect over;
        QSize frame;
        QRect available;
        QPoint expected;
    };
    const QSize frame(620, 630);
    const Row rows[] = {
        {"room around", {100, 100, 920, 640}, frame, {0, 0, 1280, 900}, {249, 104}},
        {"a panel above a main window that fills the screen",
         {0, 28, 920, 612},
         frame,
         {0, 28, 920, 612},
         {149, 28}},
        {"main window past the lower right edge",
         {800, 500, 920, 640},
         frame,
         {0, 0, 1280, 900},
         {660, 270}},
        {"taller than the screen: the title bar stays on it",
         {0, 0, 920, 640},
         {620, 700},
         {0, 0, 1024, 600},
         {149, 0}},
        {"on a second screen", {1300, 10, 920, 640}, frame, {1280, 0, 1920, 1080}, {1449, 14}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(windowPositionInside(row.over, row.frame, row.available), row.expected);
    }
}

TEST(FFmpegLicense, LicenceComesFromTheConfigurationLine) {
    const auto debian = parseFFmpegVersionOutput(
        "ffmpeg version 5.1.9-0+deb12u1 Copyright (c) 2000-2026 the FFmpeg developers\n"
        "built with gcc 12 (Debian 12.2.0-14+deb12u1)\n"
        "configuration: --prefix=/usr --enable-gpl --disable-stripping --enable-libx264\n"
        "libavutil      57. 28.100 / 57. 28.100\n");
    ASSERT_TRUE(debian);
    EXPECT_EQ(debian->version, "5.1.9-0+deb12u1");
    EXPECT_EQ(debian->licenceName(), "GPL 2");

    const auto lgpl = parseFFmpegVersionOutput(
        "ffmpeg version n7.0 Copyright\r\n  configuration: --enable-shared\r\n");
    ASSERT_TRUE(lgpl);
    EXPECT_EQ(lgpl->version, "n7.0");
    EXPECT_EQ(lgpl->licenceName(), "LGPL 2.1");

    EXPECT_EQ(parseFFmpegVersionOutput("ffmpeg version 6\nconfiguration: --enable-version3\n")
                  ->licenceName(),
              "LGPL version 3");
    EXPECT_EQ(parseFFmpegVersionOutput(
                  "ffmpeg version 6\nconfiguration: --enable-gpl --enable-version3\n")
                  ->licenceName(),
              "GPL version 3");
    // An option that merely starts like the flag is not the flag.
    EXPECT_FALSE(
        parseFFmpegVersionOutput("ffmpeg version 6\nconfiguration: --enable-gplx\n")->isGPL);
    EXPECT_FALSE(parseFFmpegVersionOutput("ffprobe version 6\n"));
    EXPECT_FALSE(parseFFmpegVersionOutput(""));

    EXPECT_EQ(ffmpegLicenseNotice(debian, "/usr/bin/ffmpeg", false),
              "Tavrolin uses FFmpeg 5.1.9-0+deb12u1 (/usr/bin/ffmpeg) under the GPL 2 or later. "
              "Processing remains entirely on this computer.");
    EXPECT_EQ(ffmpegLicenseNotice(lgpl, "/opt/t/bin/ffmpeg", true),
              "Tavrolin uses FFmpeg n7.0 (/opt/t/bin/ffmpeg) under the LGPL 2.1 or later. Its "
              "corresponding source and license notices are included with the app. Processing "
              "remains entirely on this computer.");
}

TEST_F(Settings, StockMachineUsesTheSystemFFmpegAndItsNotice) {
    if (fs::exists("/usr/local/bin/ffmpeg") || !isExecutableFile("/usr/bin/ffmpeg")) {
        GTEST_SKIP() << "not a stock machine";
    }
    SettingsViewModel model(dependencies());
    waitForStatus(model, "Ready: /usr/bin/ffmpeg");
    EXPECT_TRUE(model.isAvailable());
    EXPECT_EQ(model.customPath(), "");
    waitForNotice(model, "Tavrolin uses FFmpeg ");
    EXPECT_TRUE(model.licenseNotice().contains("(/usr/bin/ffmpeg) under the GPL"))
        << model.licenseNotice().toStdString();
    EXPECT_TRUE(
        model.licenseNotice().endsWith(" or later. Processing remains entirely on this computer."));
    model.openFFmpegLicense();
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile("/usr/share/doc/ffmpeg/copyright")});

    auto updater = makeUpdater();
    SettingsView view(&model, updater.get(), {}, {});
    EXPECT_EQ(child<QLabel>(view, "status")->text(), "Ready: /usr/bin/ffmpeg");
    EXPECT_EQ(child<QLabel>(view, "status")->palette().color(QPalette::WindowText), tint::green());
    EXPECT_EQ(child<ElidedLabel>(view, "customLocation")->text(), "Automatic");
    EXPECT_FALSE(child<QPushButton>(view, "useAutomaticLocation")->isEnabled());
    EXPECT_EQ(child<QLabel>(view, "licenseNotice")->text(), model.licenseNotice());
}

TEST_F(Settings, MissingFFprobeIsReported) {
    fs::create_directories(folder / "bin");
    fs::create_directories(folder / "empty");
    writeFakeFFmpeg(folder / "bin" / "ffmpeg", "1", "");
    auto deps = dependencies();
    deps.locations.searchFolders = {folder / "empty"};
    SettingsViewModel model(deps);
    model.chooseFFmpeg(folder / "bin" / "ffmpeg");
    waitForStatus(model, "ffprobe was not found. Install FFmpeg or choose its binary in Settings.");
    EXPECT_FALSE(model.isAvailable());
    EXPECT_EQ(model.licenseNotice(), "Processing remains entirely on this computer.");
    auto updater = makeUpdater();
    SettingsView view(&model, updater.get(), {}, {});
    EXPECT_EQ(child<QLabel>(view, "status")->palette().color(QPalette::WindowText), tint::orange());
}

// The file is checked on a thread of its own in a folder where every call takes a while: the
// window asks that folder nothing, says what it is checking, and takes only a file that runs as
// ffmpeg, stored with its licence shown; a refusal, like a cancelled chooser, keeps the ffmpeg
// in use. Automatic removes the stored file, and gives up a check that a folder that never
// answers holds, without holding the window.
TEST_F(Settings, AChosenFileIsCheckedAwayFromTheWindowAndOneThatCannotRunIsRefused) {
    using namespace std::chrono_literals;
    const fs::path slow = folder / "slow";
    fs::create_directories(slow / "folder");
    writeFakeFFmpeg(slow / "ffmpeg", "7.7-slow", "--prefix=/x --enable-version3");
    writeScript(slow / "ffprobe", "exit 0");
    writeScript(slow / "other", "echo 'not a media tool'");
    std::ofstream(slow / "notexec") << "x";
    SettingsViewModel model(dependencies());
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model.isChecking(); }));
    const QString before = model.status();
    auto updater = makeUpdater();
    std::optional<fs::path> answer;
    SettingsView view(&model, updater.get(), {}, [&] { return answer; });
    auto* note = child<WrappingLabel>(view, "choiceNote");
    child<QPushButton>(view, "chooseFFmpeg")->click();  // cancelled
    EXPECT_FALSE(model.isChecking());
    EXPECT_EQ(preferences->string("customFFmpegPath"), std::nullopt);
    const std::string kept = " Tavrolin keeps the ffmpeg it uses now.";
    struct Row {
        const char* file;
        std::optional<std::string> refusal;
    };
    const Row rows[] = {
        {"missing",
         "\u201Cmissing\u201D cannot be used as ffmpeg: No such file or directory. Choose the "
         "ffmpeg program again." +
             kept},
        {"folder",
         "\u201Cfolder\u201D cannot be used as ffmpeg: it is not a file. Choose the ffmpeg "
         "program itself." +
             kept},
        {"notexec",
         "\u201Cnotexec\u201D cannot be used as ffmpeg: it is not executable. Allow it to run as "
         "a program (chmod +x), or choose another." +
             kept},
        {"other",
         "\u201Cother\u201D cannot be used as ffmpeg: it did not answer as ffmpeg does. Choose "
         "the ffmpeg program itself." +
             kept},
        {"ffmpeg", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        answer = slow / row.file;
        tavtest::SlowFolder::start(slow, 200ms);
        child<QPushButton>(view, "chooseFFmpeg")->click();
        EXPECT_EQ(note->text(), QStringLiteral("Checking \u201C%1\u201D\u2026").arg(row.file));
        EXPECT_TRUE(note->isVisibleTo(&view));
        ASSERT_TRUE(tavtest::waitUntil([&] {
            return model.choiceRefused() || (model.choiceNote().isEmpty() && !model.isChecking());
        }));
        tavtest::SlowFolder::stop();
        EXPECT_EQ(tavtest::SlowFolder::guiThreadCalls(), 0)
            << tavtest::SlowFolder::lastOnGuiThread();
        if (row.refusal) {
            EXPECT_EQ(note->text().toStdString(), *row.refusal);
            EXPECT_TRUE(note->isVisibleTo(&view));
            EXPECT_EQ(preferences->string("customFFmpegPath"), std::nullopt);
            EXPECT_EQ(child<ElidedLabel>(view, "customLocation")->text(), "Automatic");
            EXPECT_EQ(model.status(), before);
        } else {
            EXPECT_FALSE(note->isVisibleTo(&view));
            EXPECT_EQ(preferences->string("customFFmpegPath"), (slow / "ffmpeg").string());
            EXPECT_EQ(child<QLabel>(view, "status")->text(),
                      "Ready: " + toQString(slow / "ffmpeg"));
            EXPECT_EQ(child<ElidedLabel>(view, "customLocation")->text(),
                      toQString(slow / "ffmpeg"));
            EXPECT_TRUE(child<QPushButton>(view, "useAutomaticLocation")->isEnabled());
            waitForNotice(model, "Tavrolin uses FFmpeg 7.7-slow");
            EXPECT_TRUE(model.licenseNotice().contains("under the LGPL version 3 or later."));
            EXPECT_EQ(child<QLabel>(view, "licenseNotice")->text(), model.licenseNotice());
        }
    }

    const fs::path hung = folder / "hung";
    fs::create_directories(hung);
    writeFakeFFmpeg(hung / "ffmpeg", "never", "");
    tavtest::SlowFolder::start(hung, 1h);
    answer = hung / "ffmpeg";
    child<QPushButton>(view, "chooseFFmpeg")->click();
    ASSERT_TRUE(tavtest::waitUntil([] { return tavtest::SlowFolder::waiting() > 0; }));
    EXPECT_EQ(note->text(), QStringLiteral("Checking \u201Cffmpeg\u201D\u2026"));
    // Going back to the automatic search gives the check up.
    child<QPushButton>(view, "useAutomaticLocation")->click();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model.isChecking(); }));
    EXPECT_FALSE(note->isVisibleTo(&view));
    EXPECT_EQ(preferences->string("customFFmpegPath"), std::nullopt);  // removed, not emptied
    EXPECT_EQ(child<ElidedLabel>(view, "customLocation")->text(), "Automatic");
    EXPECT_FALSE(child<QPushButton>(view, "useAutomaticLocation")->isEnabled());
    EXPECT_EQ(model.status(), before);
    EXPECT_EQ(tavtest::SlowFolder::guiThreadCalls(), 0) << tavtest::SlowFolder::lastOnGuiThread();
    tavtest::SlowFolder::stop();
}

TEST_F(Settings, BundledFFmpegOpensTheBundledNoticeAndSaysSo) {
    fs::create_directories(folder / "prefix" / "bin");
    writeFakeFFmpeg(folder / "prefix" / "bin" / "ffmpeg", "7.1", "--enable-shared");
    writeScript(folder / "prefix" / "bin" / "ffprobe", "exit 0");
    auto deps = dependencies();
    deps.locations.bundledFFmpegCandidates = {folder / "prefix" / "bin" / "ffmpeg"};
    SettingsViewModel model(deps);
    waitForNotice(model, "Tavrolin uses FFmpeg 7.1");
    EXPECT_TRUE(model.licenseNotice().contains("included with the app"));
    model.openFFmpegLicense();
    EXPECT_EQ(
        opened,
        QList<QUrl>{QUrl::fromLocalFile("/opt/tavrolin/share/tavrolin/Notices/FFmpeg-LICENSE.md")});
}

TEST_F(Settings, OnlyTheLatestLicenceAnswerIsShownAndALateOneIsDropped) {
    fs::create_directories(folder / "slow");
    fs::create_directories(folder / "fast");
    writeScript(folder / "slow" / "ffmpeg",
                "sleep 0.3; echo 'ffmpeg version slow'; echo 'configuration:'");
    writeScript(folder / "slow" / "ffprobe", "exit 0");
    writeFakeFFmpeg(folder / "fast" / "ffmpeg", "fast", "");
    writeScript(folder / "fast" / "ffprobe", "exit 0");
    {
        SettingsViewModel model(dependencies());
        model.chooseFFmpeg(folder / "slow" / "ffmpeg");
        // The slow one's licence is read now; the fast one's answers first.
        waitForStatus(model, "Ready: " + toQString(folder / "slow" / "ffmpeg"));
        model.chooseFFmpeg(folder / "fast" / "ffmpeg");
        waitForNotice(model, "Tavrolin uses FFmpeg fast");
        QTest::qWait(400);
        EXPECT_TRUE(model.licenseNotice().startsWith("Tavrolin uses FFmpeg fast"));
        model.chooseFFmpeg(folder / "slow" / "ffmpeg");
    }
    // The view model is gone while its slow answer is outstanding.
    QTest::qWait(400);
}

TEST_F(Settings, UpdateTogglesFollowTheUpdaterAndArePersisted) {
    SettingsViewModel model(dependencies());
    auto updater = makeUpdater();
    SettingsView view(&model, updater.get(), {}, {});
    QTest::qWait(10);
    auto* checks = child<QCheckBox>(view, "automaticallyChecks");
    auto* downloads = child<QCheckBox>(view, "automaticallyDownloads");
    EXPECT_FALSE(checks->isChecked());
    EXPECT_FALSE(downloads->isEnabled());
    EXPECT_FALSE(child<QPushButton>(view, "checkForUpdates")->isEnabled());  // no feed

    checks->click();
    QTest::qWait(10);
    EXPECT_EQ(preferences->string(UpdateController::automaticChecksKey), "true");
    EXPECT_TRUE(checks->isChecked());
    EXPECT_TRUE(downloads->isEnabled());
    downloads->click();
    QTest::qWait(10);
    EXPECT_EQ(preferences->string(UpdateController::automaticDownloadsKey), "true");

    checks->click();
    QTest::qWait(10);
    EXPECT_FALSE(downloads->isEnabled());
    EXPECT_TRUE(downloads->isChecked());  // keeps showing the stored value

    auto withFeed = makeUpdater(QUrl("http://127.0.0.1:9/appcast.xml"));
    SettingsView feedView(&model, withFeed.get(), {}, {});
    QTest::qWait(10);
    EXPECT_TRUE(child<QPushButton>(feedView, "checkForUpdates")->isEnabled());
}

TEST_F(Settings, SupportLinksOpenThePageAndTheFeedbackMail) {
    SettingsViewModel model(dependencies());
    auto updater = makeUpdater();
    QList<QUrl> links;
    SettingsView view(&model, updater.get(),
                      [&](const QUrl& url) {
                          links.append(url);
                          return true;
                      },
                      {});
    child<QPushButton>(view, "supportLink")->click();
    child<QPushButton>(view, "feedbackLink")->click();
    ASSERT_EQ(links.size(), 2);
    EXPECT_EQ(links[0].scheme(), "https");
    EXPECT_EQ(links[1].scheme(), "mailto");
    EXPECT_EQ(links[1].path(), child<QLabel>(view, "email")->text());
    EXPECT_EQ(child<QPushButton>(view, "feedbackLink")->accessibleName(), "Send Feedback by Email");
    EXPECT_EQ(view.size(), QSize(620, 600));
}

TEST_F(Settings, ModelServerFieldsKeepToThisComputerAndSayWhetherTheServerAnswers) {
    tavtest::LocalHttpServer server;
    server.serve("/v1/models", R"({"object":"list","data":[{"id":"tiny-planner"}]})");
    const std::string address = server.url("").toString().toStdString();
    auto withEnvironment = dependencies();
    withEnvironment.environment = [](const char* name) -> std::optional<std::string> {
        return std::string(name) == "TAVROLIN_LANGUAGE_MODEL"
                   ? std::optional<std::string>("env-model")
                   : std::nullopt;
    };
    SettingsViewModel model(withEnvironment);
    auto updater = makeUpdater();
    QWidget window;
    // A main window with room around it on the screen.
    const QRect screen = window.screen()->availableGeometry();
    window.setGeometry(QRect(QPoint(0, 0), screen.size() - QSize(100, 80))
                           .translated(screen.topLeft() + QPoint(50, 40)));
    auto* view = new SettingsView(&model, updater.get(), {}, {}, &window);
    view->setWindowFlag(Qt::Window);
    window.show();
    view->show();
    const QPoint offset = view->frameGeometry().center() - window.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4)
        << "opens centred over the main window, on " << screen.width() << "x" << screen.height();

    auto* addressField = child<QLineEdit>(*view, "modelServerAddress");
    auto* modelField = child<QLineEdit>(*view, "modelServerModel");
    auto* problem = child<QLabel>(*view, "modelServerAddressProblem");
    auto* status = child<QLabel>(*view, "modelServerStatus");
    EXPECT_EQ(modelField->placeholderText(), "env-model") << "the environment still applies";
    const QString notLoopback =
        "The address must start with http://127.0.0.1, http://localhost or http://[::1], so "
        "that requests stay on this computer.";
    struct Row {
        const char* typed;
        QString problem;
        std::optional<std::string> stored;
    };
    const std::vector<Row> rows{
        {"http://192.168.1.4:8080", notLoopback, std::nullopt},
        {"http://localhost:99999",
         "\u201C99999\u201D is not a port number. Use a number from 1 to 65535, such as 8080.",
         std::nullopt},
        {"http://localhost:8089/v1", "", "http://localhost:8089/v1"},
        {"", "", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        addressField->selectAll();
        QTest::keyClick(addressField, Qt::Key_Backspace);
        QTest::keyClicks(addressField, row.typed);
        EXPECT_EQ(problem->text(), row.problem);
        EXPECT_EQ(problem->isVisibleTo(view), !row.problem.isEmpty());
        EXPECT_EQ(preferences->string("languageModel.url"), row.stored);
    }

    // The server in use is asked off the GUI thread; only the answer for the latest edit shows.
    QTest::keyClicks(addressField, QString::fromStdString(address));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return status->text().contains("does not offer \u201Cenv-model\u201D"); }, 20000))
        << status->text().toStdString();
    QTest::keyClicks(modelField, "tiny-planner");
    EXPECT_EQ(preferences->string("languageModel.model"), "tiny-planner");
    const QString offers = QString::fromStdString("The model server at " + address +
                                                  " answers and offers \u201Ctiny-planner\u201D.");
    ASSERT_TRUE(tavtest::waitUntil([&] { return status->text() == offers; }, 20000))
        << status->text().toStdString();
    // A list nested too deeply is refused unread, with the sentence that says so.
    server.serve("/v1/models", QByteArray(60000, '[') + QByteArray(60000, ']'));
    model.modelServer()->checkServer();
    const QString unreadable =
        QString::fromStdString("The model server at " + address +
                               " sent an answer Tavrolin can't read (nested too deeply).");
    ASSERT_TRUE(tavtest::waitUntil([&] { return status->text() == unreadable; }, 20000))
        << status->text().toStdString();
    const int requests = server.requestCount();
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString gone = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    addressField->setText(gone);
    model.modelServer()->setAddress(gone);
    const QString noAnswer =
        "The model server at " + gone + " does not answer. Start it, or change its address.";
    ASSERT_TRUE(tavtest::waitUntil([&] { return status->text() == noAnswer; }, 20000))
        << status->text().toStdString();
    EXPECT_EQ(server.requestCount(), requests);

    // Escape and Ctrl+W close the window.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        view->show();
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view, 20000));
        QTest::keySequence(view, keys);
        EXPECT_FALSE(view->isVisible()) << keys.toString().toStdString();
    }
}
