#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QTest>

#include "shell/AppUpdater.h"
#include "support/LocalHttpServer.h"
#include "support/QtTestApplication.h"
#include "support/SlowFolder.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

QByteArray appcast(const QString& shortVersion, const QString& build, const QString& page,
                   const QString& enclosure = QString()) {
    QString item = QStringLiteral(
                       "<item><title>Tavrolin %1</title>"
                       "<sparkle:version>%2</sparkle:version>"
                       "<sparkle:shortVersionString>%1</sparkle:shortVersionString>"
                       "<sparkle:releaseNotesLink>%3</sparkle:releaseNotesLink>")
                       .arg(shortVersion, build, page);
    if (!enclosure.isEmpty()) {
        item +=
            QStringLiteral("<enclosure url=\"%1\" length=\"7\" type=\"application/octet-stream\"/>")
                .arg(enclosure);
    }
    item += QStringLiteral("</item>");
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
               "<rss version=\"2.0\" "
               "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
               "<channel><title>Tavrolin</title>%1</channel></rss>")
        .arg(item)
        .toUtf8();
}

class Updater : public ::testing::Test {
  protected:
    // Made first: the server below needs the application's event dispatcher.
    QApplication& application = tavtest::qtApplication();

    UpdateController::Configuration configuration(const QUrl& feed) {
        UpdateController::Configuration result;
        result.feedURL = feed;
        result.currentVersion = QStringLiteral("1.2.3");
        result.settings = settings;
        result.downloadFolder = QString::fromStdString((downloads / "Downloads").string());
        return result;
    }

    // Runs one user check and returns its report. Meanwhile the download folder answers
    // slowly, and the GUI thread must never ask it anything.
    UpdateCheckReport check(AppUpdater& updater) {
        QSignalSpy finished(updater.controller(), &UpdateController::checkFinished);
        tavtest::SlowFolder::start(downloads.path(), std::chrono::milliseconds(50));
        updater.checkForUpdates();
        EXPECT_TRUE(finished.wait(20000));
        tavtest::SlowFolder::stop();
        EXPECT_EQ(tavtest::SlowFolder::guiThreadCalls(), 0)
            << "last: " << tavtest::SlowFolder::lastOnGuiThread();
        return finished.isEmpty() ? UpdateCheckReport{}
                                  : finished.takeFirst().at(0).value<UpdateCheckReport>();
    }

    std::shared_ptr<InMemoryPreferencesStore> settings =
        std::make_shared<InMemoryPreferencesStore>();
    tavtest::TempDir downloads;
    tavtest::LocalHttpServer server;
};

}  // namespace

TEST(Appcast, VersionsAreATotalOrderNumbersFirstThenTheSuffix) {
    // Ascending: a higher rank is a later version, the same rank the same version.
    struct Row {
        QString version;
        int rank;
    };
    const std::vector<Row> rows{
        {"0.9", 0},  {"1", 1},     {"1.0", 1},      {"1.0.0", 1},      {"1.1", 2},
        {"1.1b", 3}, {"1.1b2", 4}, {"1.2", 5},      {"1.2.3-beta", 6}, {"1.2.4", 7},
        {"1.9", 8},  {"1.10", 9},  {"1.99.99", 10}, {"2", 11},
    };
    for (const auto& left : rows) {
        for (const auto& right : rows) {
            SCOPED_TRACE((left.version + u' ' + right.version).toStdString());
            EXPECT_EQ(compareVersions(left.version, right.version),
                      (left.rank > right.rank) - (left.rank < right.rank));
        }
    }
    // The newest release is found whatever the feed's order.
    std::vector<AppcastItem> items(3);
    items[0].shortVersionString = "1.1b";
    items[1].shortVersionString = "1.10";
    items[2].shortVersionString = "1.2";
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return a.shortVersionString < b.shortVersionString;
    });
    do {
        EXPECT_EQ(newerRelease(items, "1.0")->shortVersionString, "1.10");
    } while (std::next_permutation(items.begin(), items.end(), [](const auto& a, const auto& b) {
        return a.shortVersionString < b.shortVersionString;
    }));
}

TEST(Appcast, PicksTheHighestNewerReleaseAndSkipsItemsWithoutVersion) {
    const QByteArray feed =
        "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
        "<item><title>no version</title></item>"
        "<item><sparkle:shortVersionString>1.4.0</sparkle:shortVersionString>"
        "<link>https://example.org/1.4</link></item>"
        "<item><enclosure url=\"https://example.org/t-1.10.0.tar\" sparkle:version=\"99\" "
        "sparkle:shortVersionString=\"1.10.0\" length=\"12\"/></item>"
        "<item><sparkle:version>0.9</sparkle:version></item>"
        "</channel></rss>";
    const auto items = parseAppcast(feed);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].releaseNotesURL, QUrl("https://example.org/1.4"));
    EXPECT_EQ(items[1].version, "99");
    EXPECT_EQ(items[1].enclosureLength, 12);
    const auto newest = newerRelease(items, "1.2.3");
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->displayVersion(), "1.10.0");
    EXPECT_FALSE(newerRelease(items, "1.10.0"));
    EXPECT_THROW(parseAppcast("<rss><channel><item>"), std::runtime_error);

    // The page is opened by the desktop: only web pages are taken from the network.
    for (const char* page : {"file:///home/user/.bashrc", "mailto:someone@example.org",
                             "x-scheme-handler:run", "https://"}) {
        const auto unsafe = parseAppcast(
            QByteArray(
                "<rss><channel><item><sparkle:version xmlns:sparkle=\"s\">2</sparkle:version>"
                "<sparkle:releaseNotesLink xmlns:sparkle=\"s\">") +
            page + "</sparkle:releaseNotesLink></item></channel></rss>");
        ASSERT_EQ(unsafe.size(), 1u) << page;
        EXPECT_TRUE(unsafe[0].releaseNotesURL.isEmpty()) << page;
    }
}

TEST_F(Updater, UserCheckReportsUpToDateOrTheNewerVersionWithItsPage) {
    server.serve("/same.xml", appcast("1.2.3", "45", "https://tavrolin.app/1.2.3"));
    server.serve("/newer.xml", appcast("1.3.0", "50", "https://tavrolin.app/releases/1.3.0"));

    AppUpdater same(configuration(server.url("/same.xml")), true);
    auto report = check(same);
    EXPECT_EQ(report.kind, UpdateCheckReport::Kind::upToDate);
    EXPECT_TRUE(report.userInitiated);
    EXPECT_EQ(report.informativeText(), "Tavrolin 1.2.3 is the newest version available.");

    AppUpdater newer(configuration(server.url("/newer.xml")), true);
    report = check(newer);
    ASSERT_EQ(report.kind, UpdateCheckReport::Kind::updateAvailable);
    EXPECT_EQ(report.release->displayVersion(), "1.3.0");
    EXPECT_EQ(report.release->releaseNotesURL, QUrl("https://tavrolin.app/releases/1.3.0"));
    EXPECT_EQ(report.informativeText(), "Tavrolin 1.3.0 is available; you have 1.2.3.");
    // Nothing about the host is sent beyond the request itself.
    EXPECT_FALSE(server.requestHeads().last().contains("?"));
}

TEST_F(Updater, CannotCheckWithoutFeedOrWhileACheckRuns) {
    AppUpdater noFeed(configuration(QUrl()), true);
    QTest::qWait(20);
    EXPECT_FALSE(noFeed.canCheckForUpdates());
    noFeed.checkForUpdates();
    EXPECT_EQ(server.requestCount(), 0);

    server.serve("/same.xml", appcast("1.2.3", "45", "https://tavrolin.app"));
    AppUpdater updater(configuration(server.url("/same.xml")), true);
    EXPECT_FALSE(updater.canCheckForUpdates());  // mirrored only once the GUI thread runs
    QTest::qWait(20);
    EXPECT_TRUE(updater.canCheckForUpdates());

    QSignalSpy finished(updater.controller(), &UpdateController::checkFinished);
    updater.checkForUpdates();
    EXPECT_FALSE(updater.controller()->canCheckForUpdates());
    updater.checkForUpdates();  // ignored: one check at a time
    QTest::qWait(0);
    EXPECT_FALSE(updater.canCheckForUpdates());
    ASSERT_TRUE(finished.wait(5000));
    QTest::qWait(20);
    EXPECT_TRUE(updater.canCheckForUpdates());
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(server.requestCount(), 1);
}

// A feed that is missing, broken or oversized is refused, and the user is told.
TEST_F(Updater, FailedFeedIsReportedToTheUser) {
    server.serve("/broken.xml", "<rss><channel><item>");
    server.serve("/huge.xml", QByteArray(9 * 1024 * 1024, ' '));
    for (const auto& [feed, says] : {std::pair{"/missing.xml", ""},
                                     std::pair{"/broken.xml", "The update feed could not be read"},
                                     std::pair{"/huge.xml", ""}}) {
        SCOPED_TRACE(feed);
        AppUpdater updater(configuration(server.url(feed)), true);
        const auto report = check(updater);
        EXPECT_EQ(report.kind, UpdateCheckReport::Kind::failed);
        EXPECT_FALSE(report.informativeText().isEmpty());
        EXPECT_TRUE(report.informativeText().startsWith(says));
    }
}

TEST_F(Updater, SettingsArePersistedAndTheFlagsFollowTheLastChange) {
    AppUpdater updater(configuration(server.url("/feed.xml")), false);
    QTest::qWait(10);
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());
    EXPECT_FALSE(updater.automaticallyDownloadsUpdates());

    updater.controller()->setAutomaticallyChecksForUpdates(true);
    updater.controller()->setAutomaticallyDownloadsUpdates(true);
    updater.controller()->setAutomaticallyDownloadsUpdates(false);
    updater.controller()->setAutomaticallyDownloadsUpdates(true);
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());  // not before the GUI thread runs
    QTest::qWait(10);
    EXPECT_TRUE(updater.automaticallyChecksForUpdates());
    EXPECT_TRUE(updater.automaticallyDownloadsUpdates());
    EXPECT_EQ(settings->string(UpdateController::automaticChecksKey), "true");
    EXPECT_EQ(settings->string(UpdateController::automaticDownloadsKey), "true");

    // A second updater over the same store starts from the stored values.
    AppUpdater later(configuration(server.url("/feed.xml")), false);
    QTest::qWait(10);
    EXPECT_TRUE(later.automaticallyChecksForUpdates());

    // A change whose mirror task runs after the updater is gone changes nothing and is safe.
    auto* gone = new AppUpdater(configuration(server.url("/feed.xml")), false);
    gone->controller()->setAutomaticallyChecksForUpdates(false);
    delete gone;
    QTest::qWait(10);
}

TEST_F(Updater, AutomaticChecksRunOnlyWhenADayHasPassed) {
    server.serve("/feed.xml", appcast("1.2.3", "45", "https://tavrolin.app"));
    const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    auto config = configuration(server.url("/feed.xml"));
    config.now = [now] { return now; };

    settings->setString(UpdateController::automaticChecksKey, "true");
    settings->setString(UpdateController::lastCheckKey,
                        now.addSecs(-3600).toString(Qt::ISODate).toStdString());
    {
        AppUpdater recent(config, true);
        QTest::qWait(100);
        EXPECT_EQ(server.requestCount(), 0);
    }
    settings->setString(UpdateController::lastCheckKey,
                        now.addDays(-2).toString(Qt::ISODate).toStdString());
    {
        AppUpdater due(config, true);
        QSignalSpy reports(due.controller(), &UpdateController::checkFinished);
        ASSERT_TRUE(tavtest::waitUntil([&] { return server.requestCount() == 1; }, 5000));
        ASSERT_TRUE(tavtest::waitUntil([&] { return due.canCheckForUpdates(); }, 5000));
        // An automatic check that finds nothing new stays silent.
        EXPECT_EQ(reports.size(), 0);
        EXPECT_EQ(settings->string(UpdateController::lastCheckKey),
                  now.toString(Qt::ISODate).toStdString());
    }
    settings->setString(UpdateController::automaticChecksKey, "false");
    settings->remove(UpdateController::lastCheckKey);
    {
        AppUpdater off(config, true);
        QTest::qWait(100);
        EXPECT_EQ(server.requestCount(), 1);
    }
}

TEST_F(Updater, AutomaticDownloadSavesTheReleaseUnderAFreeNameAndSaysWhere) {
    server.serve("/Tavrolin-1.3.0.tar.xz", "payload");
    server.serve("/feed.xml", appcast("1.3.0", "50", "https://tavrolin.app/1.3.0",
                                      server.url("/Tavrolin-1.3.0.tar.xz").toString()));
    server.serve("/evil.xml",
                 appcast("1.3.0", "50", "https://tavrolin.app/1.3.0",
                         server.url("/Tavrolin-1.3.0.tar.xz").toString() + "/..%2F..%2Fescape"));
    settings->setString(UpdateController::automaticDownloadsKey, "true");
    AppUpdater updater(configuration(server.url("/feed.xml")), false);

    auto report = check(updater);
    ASSERT_EQ(report.kind, UpdateCheckReport::Kind::updateAvailable);
    const QString folder = QString::fromStdString((downloads / "Downloads").string());
    EXPECT_EQ(report.downloadedFile, folder + "/Tavrolin-1.3.0.tar.xz");
    EXPECT_TRUE(report.informativeText().endsWith(
        QStringLiteral("It was downloaded to “%1”.").arg(report.downloadedFile)));
    QFile saved(report.downloadedFile);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "payload");

    // The next check finds the same release already saved and does not fetch it again.
    report = check(updater);
    EXPECT_EQ(report.downloadedFile, folder + "/Tavrolin-1.3.0.tar.xz");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"Tavrolin-1.3.0.tar.xz"});
    // Once the file is gone (moved away by the user), the release is fetched again.
    ASSERT_TRUE(QFile::rename(folder + "/Tavrolin-1.3.0.tar.xz", folder + "/kept.tar.xz"));
    report = check(updater);
    EXPECT_EQ(report.downloadedFile, folder + "/Tavrolin-1.3.0.tar.xz");
    // A name taken by another file gets a free one.
    settings->remove(UpdateController::downloadedVersionKey);
    report = check(updater);
    EXPECT_EQ(report.downloadedFile, folder + "/Tavrolin-1.3.0-2.tar.xz");
    settings->remove(UpdateController::downloadedVersionKey);
    // Even a dangling link holds its name; the finished download never replaces it.
    ASSERT_TRUE(QFile::link(folder + "/nowhere", folder + "/Tavrolin-1.3.0-3.tar.xz"));
    report = check(updater);
    EXPECT_EQ(report.downloadedFile, folder + "/Tavrolin-1.3.0-4.tar.xz");
    EXPECT_TRUE(QFileInfo(folder + "/Tavrolin-1.3.0-3.tar.xz").isSymLink());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 5)
        << "no partial download is left";
    settings->remove(UpdateController::downloadedVersionKey);

    // A download name never leaves the download folder.
    AppUpdater evil(configuration(server.url("/evil.xml")), false);
    report = check(evil);
    EXPECT_TRUE(report.downloadedFile.isEmpty() ||
                QFileInfo(report.downloadedFile).absolutePath() == folder)
        << report.downloadedFile.toStdString();
    EXPECT_EQ(downloads.entries(), std::vector<std::string>{"Downloads"});
}

TEST_F(Updater, FailedDownloadLeavesNothingBehind) {
    server.serve("/feed.xml", appcast("2.0", "60", "https://tavrolin.app/2.0",
                                      server.url("/gone/Tavrolin-2.0.tar.xz").toString()));
    settings->setString(UpdateController::automaticDownloadsKey, "true");
    AppUpdater updater(configuration(server.url("/feed.xml")), false);
    auto report = check(updater);
    ASSERT_EQ(report.kind, UpdateCheckReport::Kind::updateAvailable);
    EXPECT_TRUE(report.downloadedFile.isEmpty());
    EXPECT_TRUE(report.message.startsWith("The download failed")) << report.message.toStdString();
    EXPECT_TRUE(report.informativeText().contains("The download failed"));
    EXPECT_TRUE(fs::is_empty(downloads / "Downloads"));
}
