#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QHostInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <utility>

#include "queue/JobQueueViewModel.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/QueueView.h"
#include "shell/RootView.h"
#include "shell/WorkspaceSection.h"
#include "support/GatedProcessor.h"
#include "support/LocalHttpServer.h"
#include "support/QtTestApplication.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// Counts writes, so a test can tell that reselecting writes nothing.
class CountingPreferences : public InMemoryPreferencesStore {
  public:
    void setString(const std::string& key, const std::string& value) override {
        ++writes;
        InMemoryPreferencesStore::setString(key, value);
    }
    int writes = 0;
};

// A workspace page that records what it is handed and answers as told.
class RecordingPage : public WorkspacePage {
  public:
    explicit RecordingPage(bool answer) : answer(answer) {}
    ~RecordingPage() override { delete view_; }
    QWidget* view() const override { return view_; }
    bool addFiles(const std::vector<fs::path>& files) override {
        calls.push_back(files);
        return answer;
    }
    bool answer;
    std::vector<std::vector<fs::path>> calls;

  private:
    QPointer<QWidget> view_ = new QWidget;
};

class RootViews : public ::testing::Test {
  protected:
    QApplication& application = tavtest::qtApplication();

    std::unique_ptr<RootView> makeRoot() { return std::make_unique<RootView>(queue, preferences); }
    static QStackedWidget* detail(RootView& root) {
        return root.findChild<QStackedWidget*>("detail");
    }
    static QString placeholderTitle(RootView& root) {
        auto* label = detail(root)->currentWidget()->findChild<QLabel*>("placeholderTitle");
        return label ? label->text() : QString();
    }
    static bool dragAccepted(RootView& root, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(&root, &enter);
        return enter.isAccepted();
    }
    // A drag enters first, as with a real drag.
    static bool dropAccepted(RootView& root, const QList<QUrl>& urls) {
        dragAccepted(root, urls);
        QMimeData data;
        data.setUrls(urls);
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        drop.ignore();
        QApplication::sendEvent(&root, &drop);
        return drop.isAccepted();
    }

    std::shared_ptr<CountingPreferences> preferences = std::make_shared<CountingPreferences>();
    std::shared_ptr<tavtest::GatedProcessor> processor =
        std::make_shared<tavtest::GatedProcessor>();
    JobQueueViewModel queue{processor};
};

}  // namespace

TEST(WorkspaceSections, RawValuesAreExactAndUnknownTextIsNoSection) {
    std::vector<std::string> raws;
    for (WorkspaceSection section : allWorkspaceSections) {
        raws.emplace_back(rawValue(section));
        EXPECT_EQ(workspaceSectionFromRaw(rawValue(section)), section);
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"remux", "join", "split", "transcribe", "rename",
                                              "queue"}));
    EXPECT_EQ(workspaceSectionFromRaw("Join"), std::nullopt);
    EXPECT_EQ(workspaceSectionFromRaw(" join"), std::nullopt);
    EXPECT_EQ(workspaceSectionFromRaw(""), std::nullopt);
}

TEST_F(RootViews, SelectionIsRestoredSavedOncePerChangeAndReopensThere) {
    {
        auto root = makeRoot();  // nothing stored
        EXPECT_EQ(root->selection(), WorkspaceSection::remux);
        EXPECT_TRUE(root->sidebar()->row(WorkspaceSection::remux)->isSelected());
        EXPECT_EQ(root->sidebar()->row(WorkspaceSection::remux)->accessibleDescription(),
                  "Selected");
        EXPECT_EQ(root->sidebar()->row(WorkspaceSection::join)->accessibleDescription(), "");
        EXPECT_EQ(preferences->writes, 0);
    }
    preferences->setString("lastWorkspaceSection", "Join");
    preferences->writes = 0;
    {
        auto root = makeRoot();
        EXPECT_EQ(root->selection(), WorkspaceSection::remux);
        EXPECT_EQ(preferences->string("lastWorkspaceSection"), "Join");  // left until a change
        root->sidebar()->row(WorkspaceSection::join)->click();
        EXPECT_EQ(root->selection(), WorkspaceSection::join);
        EXPECT_EQ(preferences->string("lastWorkspaceSection"), "join");
        EXPECT_EQ(preferences->writes, 1);
        root->sidebar()->row(WorkspaceSection::join)->click();
        EXPECT_EQ(preferences->writes, 1);
        EXPECT_EQ(detail(*root)->currentWidget()->windowTitle(), "Join");
        EXPECT_TRUE(root->sidebar()->row(WorkspaceSection::join)->isSelected());
        EXPECT_FALSE(root->sidebar()->row(WorkspaceSection::remux)->isSelected());
    }
    auto reopened = makeRoot();
    EXPECT_EQ(reopened->selection(), WorkspaceSection::join);
    reopened->select(WorkspaceSection::queue);
    EXPECT_NE(detail(*reopened)->currentWidget()->findChild<QPushButton*>("startQueue"), nullptr);
    reopened->select(WorkspaceSection::rename);
    EXPECT_EQ(detail(*reopened)->currentWidget()->windowTitle(), "Sequence Rename");
    // The keyboard opens a page with Return or Enter on its row.
    for (const auto& [key, section] : {std::pair{Qt::Key_Return, WorkspaceSection::split},
                                       std::pair{Qt::Key_Enter, WorkspaceSection::transcribe}}) {
        QTest::keyClick(reopened->sidebar()->row(section), key);
        EXPECT_EQ(reopened->selection(), section);
    }
}

TEST_F(RootViews, SidebarHasItsGroupsRowsAndIconsAndTheBadgeCountsActiveJobs) {
    auto root = makeRoot();
    QStringList headers;
    for (auto* label : root->sidebar()->findChildren<QLabel*>("groupHeader")) {
        headers.append(label->text());
    }
    EXPECT_EQ(headers, (QStringList{"Video", "Files", "Processing"}));
    for (WorkspaceSection section : allWorkspaceSections) {
        EXPECT_EQ(root->sidebar()->row(section)->text(), title(section));
        EXPECT_FALSE(root->sidebar()->row(section)->icon().isNull());
    }
    EXPECT_EQ(root->sidebar()->minimumWidth(), 210);
    EXPECT_EQ(root->sidebar()->maximumWidth(), 260);
    EXPECT_EQ(root->sidebar()->settingsLink()->text(), "Settings");

    SidebarRow* queueRow = root->sidebar()->row(WorkspaceSection::queue);
    EXPECT_EQ(queueRow->badgeText(), "");
    RemuxRequest request;
    request.input = "/in/a.mkv";
    request.output = "/out/a.mkv";
    queue.enqueue({request, request});
    EXPECT_EQ(queueRow->badgeText(), "2");
    queue.startWorkerIfNeeded();
    ASSERT_TRUE(tavtest::waitUntil([&] { return processor->startedCount() == 1; }));
    EXPECT_EQ(queueRow->badgeText(), "2");  // one running, one queued
    EXPECT_EQ(root->sidebar()->row(WorkspaceSection::remux)->badgeText(), "");
    processor->fail("no");
    ASSERT_TRUE(tavtest::waitUntil([&] { return processor->startedCount() == 2; }));
    EXPECT_EQ(queueRow->badgeText(), "1");  // the failed job does not count
    processor->finish();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !queue.hasRunningJob(); }));
    EXPECT_EQ(queueRow->badgeText(), "");

    int settingsRequests = 0;
    QObject::connect(root.get(), &RootView::settingsRequested, [&] { ++settingsRequests; });
    root->sidebar()->settingsLink()->click();
    EXPECT_EQ(settingsRequests, 1);
}

TEST_F(RootViews, DropsReachTheShownWorkspaceWithOnlyLocalFiles) {
    auto root = makeRoot();
    auto page = std::make_unique<RecordingPage>(true);
    RecordingPage* join = page.get();
    root->setWorkspacePage(WorkspaceSection::join, std::move(page));
    root->select(WorkspaceSection::join);

    const QList<QUrl> urls{QUrl::fromLocalFile("/videos/b.mkv"),
                           QUrl("https://example.org/remote.mkv"),
                           QUrl::fromLocalFile("/videos/a clip.mp4")};
    EXPECT_TRUE(dragAccepted(*root, urls));
    EXPECT_TRUE(root->isDropTargeted());
    EXPECT_TRUE(root->findChild<QWidget*>("dropOverlay")->isVisibleTo(root.get()));
    EXPECT_TRUE(dropAccepted(*root, urls));
    EXPECT_FALSE(root->isDropTargeted());
    EXPECT_FALSE(root->findChild<QWidget*>("dropOverlay")->isVisibleTo(root.get()));
    ASSERT_EQ(join->calls.size(), 1u);
    EXPECT_EQ(join->calls[0], (std::vector<fs::path>{"/videos/b.mkv", "/videos/a clip.mp4"}));
    EXPECT_EQ(root->selection(), WorkspaceSection::join);  // a drop never switches

    // The workspace's answer is the drop's answer.
    join->answer = false;
    EXPECT_FALSE(dropAccepted(*root, urls));
    EXPECT_EQ(join->calls.size(), 2u);
    // Nothing local: the workspace is not bothered, and the drag is neither taken nor shown.
    EXPECT_FALSE(root->handleDrop({QUrl("https://example.org/x.mkv")}));
    EXPECT_FALSE(dragAccepted(*root, {QUrl("https://example.org/x.mkv")}));
    EXPECT_FALSE(root->isDropTargeted());
    EXPECT_FALSE(dropAccepted(*root, {QUrl("https://example.org/x.mkv")}));
    EXPECT_EQ(join->calls.size(), 2u);

    root->select(WorkspaceSection::queue);
    EXPECT_FALSE(dragAccepted(*root, urls));
    EXPECT_FALSE(root->findChild<QWidget*>("dropOverlay")->isVisibleTo(root.get()));
    EXPECT_FALSE(dropAccepted(*root, urls));
    EXPECT_EQ(join->calls.size(), 2u);

    // A name that is not UTF-8 reaches the workspace byte for byte, so it names the same file.
    root->select(WorkspaceSection::join);
    join->answer = true;
    EXPECT_TRUE(dropAccepted(*root, {QUrl::fromEncoded("file:///videos/caf%E9%201.mkv")}));
    ASSERT_EQ(join->calls.size(), 3u);
    EXPECT_EQ(join->calls[2], std::vector<fs::path>{std::string("/videos/caf\xe9 1.mkv")});

    // A file URL naming this machine is local; one naming another host is not taken.
    struct Row {
        QString url;
        std::optional<fs::path> path;
    };
    const std::vector<Row> rows{
        {"file://" + QHostInfo::localHostName() + "/videos/here.mkv", "/videos/here.mkv"},
        {"file://" + QHostInfo::localHostName().toUpper() + "/videos/upper.mkv",
         "/videos/upper.mkv"},
        {"file://localhost/videos/local.mkv", "/videos/local.mkv"},
        {"file://elsewhere.invalid/videos/there.mkv", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url.toStdString());
        const auto before = join->calls.size();
        EXPECT_EQ(dragAccepted(*root, {QUrl(row.url)}), row.path.has_value());
        EXPECT_EQ(dropAccepted(*root, {QUrl(row.url)}), row.path.has_value());
        if (row.path) {
            ASSERT_EQ(join->calls.size(), before + 1);
            EXPECT_EQ(join->calls.back(), std::vector<fs::path>{*row.path});
        } else {
            EXPECT_EQ(join->calls.size(), before);
        }
    }
}

TEST_F(RootViews, RemuxTakesDroppedMediaOnceAndKnowsItsPlanningIsUnavailable) {
    const auto& media = tavtest::TestMedia::shared();
    auto root = makeRoot();
    EXPECT_EQ(root->shownSection(), WorkspaceSection::remux);
    const QList<QUrl> clip{QUrl::fromLocalFile(QString::fromStdString(media.mp4ClipA.string()))};
    EXPECT_TRUE(root->handleDrop(clip));
    EXPECT_FALSE(root->handleDrop(clip));  // already a source
    EXPECT_FALSE(root->handleDrop({QUrl::fromLocalFile("/videos/no-extension")}));
    EXPECT_FALSE(root->remuxIntentParserAvailability().isAvailable);
    EXPECT_EQ(root->remuxIntentParserAvailability().message,
              "No local model server is set. Enter its address and model name in Settings to "
              "create drafts, or configure Remux manually.");
    EXPECT_NE(root->transcriptionPreviewService(), nullptr);
}

TEST_F(RootViews, RemuxPlanningFollowsTheLocalModelServerSettings) {
    tavtest::LocalHttpServer server;
    server.serve("/v1/models", R"({"data":[{"id":"planner"}]})");
    const std::string base = server.url("").toString().toStdString();
    preferences->setString("languageModel.url", base);
    preferences->setString("languageModel.model", "planner");
    auto root = makeRoot();
    // Until the server has answered, drafts are not ready; then they are available.
    EXPECT_EQ(root->remuxIntentParserAvailability().message,
              "The model server set in Settings has not answered yet, or does not offer its model. "
              "Start it, or check its address and model name in Settings.");
    EXPECT_TRUE(
        tavtest::waitUntil([&] { return root->remuxIntentParserAvailability().isAvailable; }));
    // The Transcribe page, made on first use, asks for its summaries.
    ASSERT_NE(root->workspacePage(WorkspaceSection::transcribe), nullptr);

    // An address off this computer counts as not configured.
    preferences->setString("languageModel.url", "http://192.0.2.1:8080");
    auto elsewhere = makeRoot();
    EXPECT_EQ(elsewhere->remuxIntentParserAvailability().message,
              "No local model server is set. Enter its address and model name in Settings to "
              "create drafts, or configure Remux manually.");
    // One check for Remux, one for the Transcribe page's summaries.
    EXPECT_TRUE(tavtest::waitUntil([&] { return server.requestCount() == 2; }));
    QTest::qWait(50);
    EXPECT_EQ(server.requestCount(), 2);
}
