// Every page reached by keyboard alone, on a real X server: Tab from the sidebar walks each
// workspace, and every enabled control is reached once and has a name for a screen reader.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QProgressBar>
#include <QTest>
#include <QUrl>

#include "GatedProcessor.h"
#include "QtTestApplication.h"
#include "app/MainNavigationSidebar.h"
#include "app/RootView.h"
#include "app/TavrolinApp.h"
#include "app/WorkspacePage.h"
#include "engine/JobQueueViewModel.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/TestStreams.h"
#include "support/XvfbChild.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

const char* const childVariable = "TAVROLIN_KEYBOARD_CHILD";

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

TEST(KeyboardWalk, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only under xvfb-run, started by KeyboardWalk.EveryPageOnARealServer";
    }
    tavtest::qtApplication();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    tavtest::TempDir folder;
    const auto& media = tavtest::TestMedia::shared();
    TavrolinApp::Configuration configuration;
    configuration.preferences = std::make_shared<InMemoryPreferencesStore>();
    configuration.revealer = std::make_shared<tavtest::RecordingRevealer>();
    configuration.downloadFolder = QString::fromStdString(folder.path().string());
    configuration.startsUpdater = false;
    TavrolinApp app(configuration);
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
