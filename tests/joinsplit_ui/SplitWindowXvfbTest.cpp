// The Split workspace in the application's real window on an X server: a clip dropped on the
// window, a frame chosen with the slider and the frame buttons, and a screenshot of the preview
// whose pixels name the model's current frame; each state (empty, a range, a split point, a file
// that is no media) fits the minimum and the default window size and is walked with Tab. The
// test runs itself again on an X server of its own.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>

#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitView.h"
#include "preview/SplitPreviewViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "support/IndexedClips.h"
#include "support/TestAppConfiguration.h"
#include "support/WindowChecks.h"
#include "widgets/FileRowList.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const childVariable = "TAVROLIN_SPLIT_XVFB_CHILD";

// The frame index drawn in the surface, read from a screenshot of the window.
int indexOnScreen(QWidget* window, SplitPlayerSurface* surface, const QImage& picture) {
    const QImage shot = window->screen()
                            ->grabWindow(window->winId())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    QRect target(QPoint(0, 0), picture.size().scaled(surface->size(), Qt::KeepAspectRatio));
    target.moveCenter(surface->rect().center());
    target.moveTopLeft(surface->mapTo(window, target.topLeft()));
    const QImage area = shot.copy(target);
    return tavtest::indexShownIn(area.constBits(), area.width(), area.height(),
                                 static_cast<int>(area.bytesPerLine()));
}

}  // namespace

TEST(SplitWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP()
            << "runs only on its own X server, started by SplitWindow.ScreenshotShowsTheFrame";
    }
    tavtest::prepareRemuxTest();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const fs::path clip = tavtest::indexedClips()[1].file;
    tavtest::TempDir home;
    TavrolinApp app(tavtest::appConfiguration(home.path()));
    MainWindow* window = app.mainWindow();
    ASSERT_TRUE(tavtest::showActive(window));
    window->rootView()->select(WorkspaceSection::split);
    auto* view = window->findChild<SplitView*>();
    ASSERT_NE(view, nullptr);
    SidebarRow* start = window->rootView()->sidebar()->row(WorkspaceSection::split);
    tavtest::expectFits(window, view, "split-empty");
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);

    ASSERT_TRUE(window->rootView()->handleDrop({tavtest::urlOf(clip)}));
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->editor()->preview() != nullptr; }));
    SplitVideoPreview* preview = view->editor()->preview();
    SplitPreviewViewModel& model = preview->model();
    ASSERT_TRUE(tavtest::waitUntil([&] { return model.duration() > 0; }));
    auto* surface = preview->findChild<SplitPlayerSurface*>();
    ASSERT_TRUE(tavtest::waitUntil([&] { return surface->isVisible(); }));

    for (int frame : {37, 36, 90}) {
        SCOPED_TRACE(frame);
        if (frame == 36) {
            for (auto* button : preview->findChildren<AcceleratingFrameButton*>()) {
                if (button->text() == "Previous Frame") {
                    QTest::mouseClick(button, Qt::LeftButton);
                }
            }
        } else {
            preview->findChild<QSlider*>()->setValue(frame);
        }
        ASSERT_EQ(model.currentFrame(), frame);
        EXPECT_TRUE(tavtest::waitUntil(
            [&] { return indexOnScreen(window, surface, model.player().picture()) == frame; }));
    }

    // A range whose cuts the notes beside the times explain, then a split point.
    auto* editor = view->editor();
    auto* startNote = editor->findChild<QLabel*>(QStringLiteral("startNote"));
    auto* startField = editor->findChild<QLineEdit*>(QStringLiteral("startField"));
    QTest::keyClicks(startField, QStringLiteral(".5"));
    ASSERT_TRUE(tavtest::waitUntil([&] { return startNote->isVisible(); }, 30s));
    EXPECT_FALSE(startNote->text().isEmpty());
    tavtest::expectFits(window, view, "split-range");
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);
    auto* operation = editor->findChild<QComboBox*>(QStringLiteral("operationPicker"));
    operation->setCurrentIndex(1);
    emit operation->activated(1);
    QTest::keyClicks(editor->findChild<QLineEdit*>(QStringLiteral("splitField")),
                     QStringLiteral("2"));
    auto* splitNote = editor->findChild<QLabel*>(QStringLiteral("splitNote"));
    ASSERT_TRUE(tavtest::waitUntil([&] { return splitNote->isVisible(); }));
    tavtest::expectFits(window, view, "split-point");
    // A real notch of the wheel over the picker, from the X server: the application gives the
    // picker the focus a wheel gives before anything else sees the wheel. The settings scroll
    // and the operation stays until the picker is focused on purpose.
    QScrollArea* settings = nullptr;
    for (auto* area : editor->findChildren<QScrollArea*>()) {
        if (area->accessibleName() == QStringLiteral("Split settings")) {
            settings = area;
        }
    }
    ASSERT_NE(settings, nullptr);
    QScrollBar* scrolled = settings->verticalScrollBar();
    int wheelScrolls = 0;  // moves of the settings' bar by a wheel, not by a layout
    QObject::connect(scrolled, &QAbstractSlider::actionTriggered, [&] { ++wheelScrolls; });
    const auto xdotool = [](const QPoint& at, std::optional<int> button) {
        QStringList arguments{QStringLiteral("mousemove"), QStringLiteral("--sync"),
                              QString::number(at.x()), QString::number(at.y())};
        if (button) {
            arguments << QStringLiteral("click") << QString::number(*button);
        }
        ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0);
    };
    // The pointer rests over the picker (what it hovers laid out), the settings are scrolled to
    // the end, and the wheel turns one notch up over the picker where it shows then.
    const auto wheelUpAtEnd = [&] {
        ASSERT_NO_FATAL_FAILURE(
            xdotool(operation->mapToGlobal(operation->rect().center()), std::nullopt));
        ASSERT_TRUE(tavtest::settled(window, tavtest::windowSizes[0]));
        ASSERT_GT(scrolled->maximum(), 0);
        scrolled->setValue(scrolled->maximum());
        ASSERT_NO_FATAL_FAILURE(xdotool(operation->mapToGlobal(operation->rect().center()), 4));
    };
    FileRowList* focused = view->sourceList()->list();
    focused->setFocus(Qt::TabFocusReason);
    window->resize(tavtest::windowSizes[0]);
    ASSERT_NO_FATAL_FAILURE(wheelUpAtEnd());
    ASSERT_TRUE(tavtest::waitUntil([&] { return wheelScrolls == 1; })) << "the settings scroll";
    EXPECT_EQ(operation->currentIndex(), 1);
    EXPECT_EQ(QApplication::focusWidget(), focused)
        << tavtest::describeWidget(QApplication::focusWidget());
    operation->setFocus(Qt::TabFocusReason);
    ASSERT_NO_FATAL_FAILURE(wheelUpAtEnd());
    EXPECT_TRUE(tavtest::waitUntil([&] { return operation->currentIndex() == 0; }))
        << "with the focus, the wheel picks";
    EXPECT_EQ(wheelScrolls, 1);
    operation->setCurrentIndex(1);
    emit operation->activated(1);

    // A file that is no media is neither previewed nor counted, and the page says why.
    const fs::path junk = tavtest::TestMedia::shared().randomBytes;
    ASSERT_TRUE(window->rootView()->handleDrop({tavtest::urlOf(junk)}));
    FileRowList* sources = view->sourceList()->list();
    ASSERT_TRUE(tavtest::waitUntil([&] { return sources->files().size() == 2; }));
    sources->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sources, Qt::Key_Down);
    auto* validation = editor->findChild<QLabel*>(QStringLiteral("validationMessage"));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return validation->text().contains(QStringLiteral("is not a video")); }, 30s));
    tavtest::expectFits(window, view, "split-not-media");
    EXPECT_EQ(scrolled->value(), 0) << "another source opens at the top";
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);
    EXPECT_EQ(editor->preview(), nullptr);
    auto* note = editor->findChild<QLabel*>(QStringLiteral("notMediaNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().startsWith(QStringLiteral("\u201Crandom.mkv\u201D is not a video")))
        << note->text().toStdString();
    auto* queue = editor->findChild<QPushButton*>(QStringLiteral("queueButton"));
    EXPECT_EQ(queue->text(), QStringLiteral("Add 2 Outputs to Queue"));
    EXPECT_FALSE(queue->isEnabled());

    // Delete removes the picked source from the list, which is one Tab stop.
    sources->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sources, Qt::Key_Delete);
    ASSERT_TRUE(tavtest::waitUntil([&] { return sources->files() == std::vector{clip}; }));
    EXPECT_EQ(QApplication::focusWidget(), sources);

    // Queued by keyboard, the page empties and the focus stays on it, where the next file comes.
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue->isEnabled(); }));
    queue->setFocus(Qt::TabFocusReason);
    QTest::keyClick(queue, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->showsEmptyState(); }))
        << validation->text().toStdString() << " "
        << tavtest::describeWidget(QApplication::focusWidget());
    EXPECT_EQ(QApplication::focusWidget()->objectName(), QStringLiteral("addFile"));

    // Audio alone under a 252-byte name: the name is cut short with all of it in the tooltip,
    // the red sentence naming it wraps whole, the sidebar keeps its width, and the preview shows
    // the time alone: no picture, frame number, rate, frame buttons or keyframe note.
    const std::string longName = "Interview_" + std::string(238, 'x') + ".m4a";
    const fs::path audio = tavtest::TestMedia::generate(
        longName, {"-f", "lavfi", "-i", "sine=frequency=440:duration=12", "-c:a", "aac"});
    const int sidebarWidth = window->rootView()->sidebar()->width();
    ASSERT_TRUE(window->rootView()->handleDrop({tavtest::urlOf(audio)}));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return editor->preview() && editor->preview()->model().duration() > 0; }));
    auto* endField = editor->findChild<QLineEdit*>(QStringLiteral("endField"));
    endField->setFocus(Qt::TabFocusReason);
    endField->selectAll();
    QTest::keyClicks(endField, QStringLiteral("5"));
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return validation->text().contains(QStringLiteral("would get a name longer")) &&
               !editor->findChild<QWidget*>(QStringLiteral("keyframeNote"))->isVisible();
    })) << validation->text().toStdString();
    // The name is cut short in the sentence, which keeps to a few lines; the tooltip holds it.
    EXPECT_FALSE(validation->text().contains(QString::fromStdString(longName)));
    EXPECT_TRUE(validation->toolTip().contains(QString::fromStdString(longName)));
    EXPECT_LE(validation->height(), 5 * validation->fontMetrics().lineSpacing());
    tavtest::expectFits(window, view, "split-long-audio");
    EXPECT_EQ(window->rootView()->sidebar()->width(), sidebarWidth);
    auto* fileName = editor->findChild<QLabel*>(QStringLiteral("fileName"));
    EXPECT_TRUE(fileName->toolTip().contains(QString::fromStdString(longName)));
    preview = editor->preview();
    EXPECT_FALSE(preview->model().hasVideo());
    EXPECT_FALSE(preview->findChild<SplitPlayerSurface*>()->isVisible());
    EXPECT_FALSE(preview->findChild<QLabel*>(QStringLiteral("frameText"))->isVisible());
    for (auto* button : preview->findChildren<AcceleratingFrameButton*>()) {
        EXPECT_FALSE(button->isVisible()) << button->text().toStdString();
    }
    EXPECT_TRUE(preview->findChild<QLabel*>(QStringLiteral("timeText"))->isVisible());
    EXPECT_EQ(preview->findChild<QSlider*>()->accessibleName(), "Audio playhead");
}

TEST(SplitWindow, ScreenshotShowsTheFrame) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::expectPassesUnderXvfb(childVariable, "SplitWindow.Child");
}
