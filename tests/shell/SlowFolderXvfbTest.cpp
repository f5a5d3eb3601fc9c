// A folder that answers each file-system call after a second (a slow network mount) never
// holds the application's real window: typing a name into a save dialog there, choosing a
// subfolder in a folder dialog, opening the folder and a file in it from any page's Add Files…,
// or picking a file there for Split's preview, leaves the event loop serving between keys, the
// dialogs and the preview ask the folder nothing on the GUI thread, and the page queues the job,
// shows the folder, adds the file or plays it once the folder has answered.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <utility>

#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitView.h"
#include "preview/SplitPreviewViewModel.h"
#include "preview/SplitVideoPreview.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxView.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "support/SlowFolder.h"
#include "support/TestAppConfiguration.h"
#include "support/WindowChecks.h"
#include "support/XvfbChild.h"
#include "transcription/TranscriptionView.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/FileRowList.h"
#include "widgets/PathDialog.h"
#include "widgets/StatusLine.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const childVariable = "TAVROLIN_SLOW_FOLDER_CHILD";
const char* const folderVariable = "TAVROLIN_SLOW_FOLDER_FOLDER";

// The longest wait between two turns of the event loop while measuring.
struct LongestStall {
    QTimer ticks;
    QElapsedTimer sinceLast;
    qint64 longest = -1;  // not measuring
    LongestStall() {
        QObject::connect(&ticks, &QTimer::timeout, [this] {
            if (longest >= 0) {
                longest = std::max(longest, sinceLast.restart());
            }
        });
        ticks.start(5);
    }
    void start() {
        longest = 0;
        sinceLast.start();
    }
    qint64 stop() { return std::exchange(longest, -1); }
};

// Types `text` into the next path dialog's name field one key per turn, as a person types, a
// line break pressing Return, then presses Return.
void typeIntoNextDialog(const QString& text) {
    auto* typist = new QTimer;
    auto typed = std::make_shared<int>(-1);
    QObject::connect(typist, &QTimer::timeout, typist, [typist, typed, text] {
        auto* dialog = qobject_cast<PathDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            return;
        }
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (dialog->isLookingUp()) {
            return;  // a person waits for the folder typed to open
        }
        if (*typed < 0) {
            name->selectAll();
            QTest::keyClick(name, Qt::Key_Backspace);
        } else if (*typed < text.size()) {
            const char key = text.at(*typed).toLatin1();
            if (key == '\n') {
                QTest::keyClick(name, Qt::Key_Return);
            } else {
                QTest::keyClick(name, key);
            }
        } else {
            typist->deleteLater();
            QTest::keyClick(name, Qt::Key_Return);
        }
        ++*typed;
    });
    typist->start(30);
}

}  // namespace

TEST(SlowFolderWindow, DialogsChild) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only on its own X server, started by SlowFolderWindow.KeepsServing";
    }
    tavtest::prepareRemuxTest();
    const fs::path slow = fs::path(qEnvironmentVariable(folderVariable).toStdString()) / "slow";
    for (const char* sub : {"outA", "outB", "outC", "outD"}) {
        fs::create_directories(slow / sub);
    }
    const auto& media = tavtest::TestMedia::shared();
    fs::copy_file(media.mp4ClipA, slow / "a.mp4");
    fs::copy_file(media.mp4ClipB, slow / "b.mp4");
    fs::copy_file(media.mp4ClipA, slow / "c.mp4");
    fs::copy_file(media.mp4ClipB, slow / "d.mp4");
    fs::copy_file(media.mp4ClipA, slow / "e.mp4");
    fs::copy_file(media.mp4ClipB, slow / "f.mp4");
    TavrolinApp app(tavtest::appConfiguration(slow));
    MainWindow* window = app.mainWindow();
    ASSERT_TRUE(tavtest::showActive(window));
    RootView* root = window->rootView();
    const auto page = [&](WorkspaceSection section) {
        return root->workspacePage(section)->view();
    };
    root->select(WorkspaceSection::split);
    ASSERT_TRUE(root->handleDrop({tavtest::urlOf(slow / "a.mp4")}));
    // The rounds start once the first preview has loaded its modules and opened its file, not at
    // whatever moment a loaded machine gets there.
    auto* split = dynamic_cast<SplitView*>(page(WorkspaceSection::split));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] {
            auto* preview = split->editor()->preview();
            return preview != nullptr && preview->model().duration() > 0;
        },
        60s));
    // Whether a page lists the file named on the last line typed.
    const auto holds = [&](WorkspaceSection section, const QString& typed) {
        const fs::path file = slow / typed.section(u'\n', -1).toStdString();
        QWidget* view = page(section);
        if (auto* remux = dynamic_cast<RemuxView*>(view)) {
            return remux->cardFor(file) != nullptr;
        }
        if (auto* transcribe = dynamic_cast<TranscriptionView*>(view)) {
            const auto& sources = transcribe->viewModel().state().sources;
            return std::any_of(sources.begin(), sources.end(),
                               [&](const auto& source) { return source.url == file; });
        }
        const auto lists = view->findChildren<FileRowList*>();
        return std::any_of(lists.begin(), lists.end(), [&](const FileRowList* list) {
            return std::find(list->files().begin(), list->files().end(), file) !=
                   list->files().end();
        });
    };

    struct Row {
        const char* name;
        WorkspaceSection section;
        // Pressed, with `typed` typed into the dialog it opens; or else `act` runs.
        const char* button;
        // Typed first as a measure of the loaded machine, then with the folder slow.
        QString typedQuick, typedSlow;
        std::function<bool(const QString& typed)> done;
        // Before each round, with the folder quick.
        std::function<void()> setUp;
        std::function<void(const QString& typed)> act;
    };
    std::vector<Row> rows{
        {"save dialog",
         WorkspaceSection::join,
         "queueButton",
         "outA/x.mp4",
         "outC/x.mp4",
         [&](const QString& typed) {
             const auto& jobs = app.queue().jobs();
             return std::any_of(jobs.begin(), jobs.end(), [&](const auto& job) {
                 return job.request.output() == slow / typed.toStdString();
             });
         },
         [&] {
             ASSERT_TRUE(root->handleDrop(
                 {tavtest::urlOf(slow / "a.mp4"), tavtest::urlOf(slow / "b.mp4")}));
             // Their inspections start child processes: done before the round measures.
             auto* status = page(WorkspaceSection::join)->findChild<StatusLine*>("status");
             ASSERT_TRUE(tavtest::waitUntil(
                 [&] { return status->text().startsWith(QStringLiteral("Ready")); }, 60s));
         },
         {}},
        {"folder dialog",
         WorkspaceSection::split,
         "chooseOutputFolder",
         "outB",
         "../outD",
         [&](const QString& typed) {
             const auto* path = page(WorkspaceSection::split)
                                    ->findChild<ElidedLabel*>(QStringLiteral("outputFolderPath"));
             // The second round starts in the folder the first chose.
             return path->text().endsWith(QStringLiteral("/slow/") + typed.section(u'/', -1));
         },
         [] {},
         {}},
        {"preview", WorkspaceSection::split, nullptr, "e.mp4", "f.mp4",
         [&](const QString& typed) {
             const auto* preview = split->editor()->preview();
             return preview != nullptr && preview->model().url() == slow / typed.toStdString() &&
                    preview->model().duration() > 0;
         },
         [] {},
         [&](const QString& typed) {
             const fs::path file = slow / typed.toStdString();
             ASSERT_TRUE(root->handleDrop({tavtest::urlOf(file)}));
             FileRowList* list = split->sourceList()->list();
             ASSERT_TRUE(tavtest::waitUntil([&] { return holds(WorkspaceSection::split, typed); }));
             const auto row = std::find(list->files().begin(), list->files().end(), file) -
                              list->files().begin();
             QTest::mouseClick(
                 list->viewport(), Qt::LeftButton, {},
                 list->visualRect(list->model()->index(static_cast<int>(row), 0)).center());
         }},
    };
    // Add Files… on every page: the folder's path typed (the second round opens in it, where
    // the first was left), then a name in it.
    for (const auto& [section, button] : std::vector<std::pair<WorkspaceSection, const char*>>{
             {WorkspaceSection::remux, "addFilesButton"},
             {WorkspaceSection::join, "addFilesButton"},
             {WorkspaceSection::split, "addFile"},
             {WorkspaceSection::transcribe, "addFiles"},
             {WorkspaceSection::rename, "addFilesButton"}}) {
        rows.push_back({"open dialog",
                        section,
                        button,
                        toQString(slow) + "\nc.mp4",
                        toQString(slow) + "\nd.mp4",
                        [&, section](const QString& typed) { return holds(section, typed); },
                        [] {},
                        {}});
    }
    LongestStall stall;
    // The longest stall of any quick round measures what the loaded machine alone costs.
    qint64 quickest = 0;
    std::vector<std::pair<std::string, qint64>> slowRounds;
    for (const auto& row : rows) {
        const std::string name =
            std::string(row.name) + " on " + std::string(rawValue(row.section));
        SCOPED_TRACE(name);
        root->select(row.section);
        auto* pressed =
            row.button ? page(row.section)->findChild<QPushButton*>(QString::fromLatin1(row.button))
                       : nullptr;
        for (const auto delay : {0ms, 1000ms}) {
            const QString& typed = delay == 0ms ? row.typedQuick : row.typedSlow;
            ASSERT_NO_FATAL_FAILURE(row.setUp());
            ASSERT_TRUE(tavtest::waitUntil([&] { return !pressed || pressed->isEnabled(); }, 60s));
            tavtest::SlowFolder::start(slow, delay);
            stall.start();
            if (pressed) {
                typeIntoNextDialog(typed);
                QTest::mouseClick(pressed, Qt::LeftButton);
            } else {
                ASSERT_NO_FATAL_FAILURE(row.act(typed));
            }
            const bool done = tavtest::waitUntil([&] { return row.done(typed); }, 120s);
            const qint64 longest = stall.stop();
            tavtest::SlowFolder::stop();
            // Each call on the GUI thread would hold it for the folder's second.
            EXPECT_EQ(tavtest::SlowFolder::guiThreadCalls(), 0)
                << "last: " << tavtest::SlowFolder::lastOnGuiThread();
            ASSERT_TRUE(done) << typed.toStdString();
            if (delay == 0ms) {
                quickest = std::max(quickest, longest);
            } else {
                slowRounds.emplace_back(name, longest);
            }
        }
    }
    // A call on the GUI thread holds the window for the folder's whole second; the calls are
    // counted above. The gaps are printed against the aim of 100 ms beyond the quick rounds, and
    // held only below that second, so that a busy machine's own stalls fail nothing.
    for (const auto& [name, longest] : slowRounds) {
        EXPECT_LT(longest, quickest + 900) << name << "; quick rounds' longest: " << quickest;
        std::cout << name << ": longest stall " << longest << " ms (quick rounds " << quickest
                  << " ms)\n";
    }
}

TEST(SlowFolderWindow, KeepsServing) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::PrivateDisplay::Options options;
    options.windowManager = tavtest::hasWindowManager();
    tavtest::TempDir folder;
    QProcessEnvironment environment = tavtest::homeIn(folder.path());
    environment.insert(folderVariable, QString::fromStdString(folder.path().string()));
    tavtest::expectPassesUnderXvfb(childVariable, QStringLiteral("SlowFolderWindow.DialogsChild"),
                                   environment, 300000, options);
}
