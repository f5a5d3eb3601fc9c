// The Split page offscreen: empty state, source rows, the editor's controls bound to the model,
// the preview's buttons and shortcuts on a real clip, and removal moving the editor along.
#include "joinsplit/SplitView.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitViewModel.h"
#include "preview/PreviewTimeFormat.h"
#include "preview/SplitPreviewViewModel.h"
#include "process/FoundationProcessRunner.h"
#include "remux/RemuxTestSupport.h"
#include "support/IndexedClips.h"
#include "support/PreviewTestSupport.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FileRowList.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

QPushButton* button(QWidget* parent, const QString& text) {
    for (auto* candidate : parent->findChildren<QPushButton*>()) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}

// The list re-renders in the next event-loop turn; the second line and its symbol are the roles
// after the user roles' first.
QVariant rowData(SplitView& view, int row, int role) {
    QCoreApplication::processEvents();
    return view.sourceList()->list()->model()->index(row, 0).data(role);
}

QString rowSummary(SplitView& view, int row) {
    return rowData(view, row, Qt::UserRole + 1).toString();
}

QString rowSymbol(SplitView& view, int row) {
    return rowData(view, row, Qt::UserRole + 2).toString();
}

class SplitViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        queue = std::make_unique<JobQueueViewModel>(std::make_shared<tavtest::UnusedProcessor>());
        makeView({});
    }
    void makeView(SplitKeyframeReader reader) {
        view.reset();
        model = std::make_unique<SplitViewModel>(
            *queue, std::make_shared<tavtest::GatedPreviewService>(), std::move(reader));
        view = std::make_unique<SplitView>(*model);
        view->setMediaFileChooser([this] { return chosen; });
        view->resize(1100, 800);
        view->show();
    }
    void TearDown() override { view.reset(); }

    std::unique_ptr<JobQueueViewModel> queue;
    std::unique_ptr<SplitViewModel> model;
    std::unique_ptr<SplitView> view;
    std::vector<fs::path> chosen;
};

}  // namespace

TEST_F(SplitViewTest, RowsAndEditorFollowTheModel) {
    ASSERT_TRUE(view->showsEmptyState());
    button(view.get(), "Add File")->click();  // a cancelled panel adds nothing
    EXPECT_TRUE(view->showsEmptyState());

    const auto& clips = tavtest::indexedClips();
    chosen = {clips[0].file, clips[1].file};
    button(view.get(), "Add File")->click();
    ASSERT_FALSE(view->showsEmptyState());
    QCoreApplication::processEvents();
    EXPECT_EQ(view->sourceList()->findChild<QLabel*>("count")->text(), "2");
    EXPECT_EQ(view->sourceList()->findChild<QLabel*>("count")->accessibleName(), "2 sources");
    EXPECT_EQ(rowData(*view, 1, Qt::AccessibleTextRole).toString(),
              "indexed-h264.mkv, 0s\u201360s");
    EXPECT_EQ(view->sourceList()->list()->currentIndex().row(), 0);
    SplitSourceEditor* editor = view->editor();
    EXPECT_EQ(editor->findChild<QLabel*>("fileName")->text(), "indexed-h264.mp4");
    EXPECT_EQ(rowSummary(*view, 1), "0s\u201360s");
    EXPECT_EQ(rowSymbol(*view, 0), "arrow.left.and.right");

    auto fields = editor->findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 3);
    QLineEdit* start = fields[0];
    QLineEdit* end = fields[1];
    QLineEdit* splitPoint = fields[2];
    EXPECT_EQ(start->text(), "0");
    EXPECT_EQ(start->accessibleName(), "Start (seconds)");
    EXPECT_EQ(end->placeholderText(), "60");
    EXPECT_EQ(splitPoint->placeholderText(), "Choose a frame above");
    auto* validation = editor->findChild<QLabel*>("validationMessage");
    auto* queueButton = editor->findChild<QPushButton*>("queueButton");
    EXPECT_EQ(queueButton->text(), "Add 2 Outputs to Queue");
    ASSERT_TRUE(tavtest::waitUntil([&] { return queueButton->isEnabled(); }));  // folder checked

    // An end before the start: red message, disabled button; fixing it clears both at once.
    end->selectAll();
    QTest::keyClicks(end, "0");
    EXPECT_EQ(model->selectedConfiguration()->endText, "0");
    EXPECT_TRUE(validation->isVisibleTo(editor));
    EXPECT_FALSE(queueButton->isEnabled());
    EXPECT_EQ(rowSummary(*view, 0), "0s\u20130s");
    QTest::keyClicks(end, "5");
    EXPECT_FALSE(validation->isVisibleTo(editor));
    EXPECT_TRUE(queueButton->isEnabled());

    // Split at point: other rows and title, the range texts kept for later.
    auto combos = editor->findChildren<QComboBox*>();
    QComboBox* operation = combos[0];
    QComboBox* container = combos[1];
    operation->setCurrentIndex(1);
    emit operation->activated(1);
    auto* settings = splitPoint->parentWidget();
    EXPECT_EQ(qobject_cast<QGroupBox*>(settings)->title(), "Split point");
    EXPECT_FALSE(start->isVisibleTo(editor));
    EXPECT_TRUE(splitPoint->isVisibleTo(editor));
    EXPECT_EQ(rowSymbol(*view, 0), "scissors");
    EXPECT_EQ(rowSummary(*view, 0), "Split at \u2014");
    EXPECT_EQ(queueButton->text(), "Add 3 Outputs to Queue");
    emit operation->activated(0);
    EXPECT_EQ(end->text(), "05");
    container->setCurrentIndex(5);
    emit container->activated(5);
    EXPECT_EQ(container->currentText(), "WEBM");
    EXPECT_EQ(model->selectedConfiguration()->container, OutputContainer::webm);
    emit container->activated(0);
    EXPECT_EQ(model->selectedConfiguration()->container, std::nullopt);

    // Removing the selected row selects the next one, and the editor shows it.
    FileRowList* list = view->sourceList()->list();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->buttonRect(0, FileRowList::Button::remove).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(view->sourceList()->findChild<QLabel*>("count")->text(), "1");
    EXPECT_EQ(editor->findChild<QLabel*>("fileName")->text(), "indexed-h264.mkv");
    ASSERT_NE(editor->preview(), nullptr);
    EXPECT_EQ(editor->preview()->model().url(), clips[1].file);
    model->removeSource(clips[1].file);
    EXPECT_TRUE(view->showsEmptyState());
}

TEST_F(SplitViewTest, PreviewButtonsAndShortcutsTakeTimesFromTheFrame) {
    makeView(makeSplitKeyframeReader());
    chosen = {tavtest::indexedClips()[0].file};  // 25 fps, 150 frames
    button(view.get(), "Add File")->click();
    SplitVideoPreview* preview = view->editor()->preview();
    ASSERT_NE(preview, nullptr);
    SplitPreviewViewModel& preview_model = preview->model();
    auto* splitHere = button(preview, "Split Here");
    auto* slider = preview->findChild<QSlider*>();
    EXPECT_FALSE(slider->isEnabled());  // until loaded
    ASSERT_TRUE(tavtest::waitUntil([&] { return preview_model.duration() > 0; }));
    EXPECT_TRUE(slider->isEnabled());
    EXPECT_FALSE(splitHere->isEnabled());  // not at 0, and the preview says why
    auto* reason = preview->findChild<QLabel*>("splitHereReason");
    EXPECT_TRUE(reason->isVisibleTo(preview));
    EXPECT_EQ(preview->findChild<QLabel*>("timeText")->text(), "00:00:00.000 / 00:00:06.000");

    // "." steps once; while a time field has the focus it is typed instead.
    view->activateWindow();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Period);
    EXPECT_EQ(preview_model.currentFrame(), 1);
    QTest::keyClick(slider, Qt::Key_Comma);
    EXPECT_EQ(preview_model.currentFrame(), 0);
    slider->setValue(75);
    EXPECT_EQ(preview_model.currentFrame(), 75);
    EXPECT_EQ(preview->findChild<QLabel*>("frameText")->text(), "Frame 75 \u00B7 25.000 fps");
    QLineEdit* start = view->editor()->findChildren<QLineEdit*>()[0];
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Period);
    EXPECT_EQ(preview_model.currentFrame(), 75);
    EXPECT_EQ(model->selectedConfiguration()->startText, "0.");
    // Space presses the focused button rather than playing.
    auto* setStart = button(preview, "Set Start");
    setStart->setFocus();
    QTest::keyClick(setStart, Qt::Key_Space);
    EXPECT_FALSE(preview_model.isPlaying());
    EXPECT_EQ(model->selectedConfiguration()->startText, "3");

    // Split Here takes the frame's time and switches the operation, and the note and the
    // caption show the keyframe the cut uses; Set End switches back.
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model->sources()[0].isReadingKeyframes; }));
    ASSERT_TRUE(splitHere->isEnabled());
    EXPECT_FALSE(reason->isVisibleTo(preview));
    splitHere->click();
    EXPECT_EQ(model->selectedConfiguration()->operationMode, SplitOperationMode::atPoint);
    EXPECT_EQ(model->selectedConfiguration()->splitPointText, "3");
    const double keyframe = model->selectedConfiguration()->keyframes->atOrBefore(3).value_or(-1);
    EXPECT_GT(keyframe, 0);
    EXPECT_EQ(
        view->editor()->findChild<QLabel*>("splitNote")->text().toStdString(),
        "Cuts at " + formatPreviewTimecode(keyframe) + ", the keyframe at or before this time.");
    EXPECT_EQ(preview->findChild<QLabel*>("selectionSummary")->text().toStdString(),
              "Split point: " + formatPreviewTimecode(keyframe));
    preview_model.stepFrame(1);
    button(preview, "Set End")->click();
    EXPECT_EQ(model->selectedConfiguration()->operationMode, SplitOperationMode::range);
    EXPECT_EQ(model->selectedConfiguration()->endText, formatPreviewSeconds(76 / 25.0));
    slider->setValue(slider->maximum());
    EXPECT_FALSE(splitHere->isEnabled());  // at the end
    EXPECT_TRUE(reason->isVisibleTo(preview));

    // A click steps once; a hold steps on after 0.35 s and stops at the release.
    preview_model.seek(1, false);
    auto* next = button(preview, "Next Frame");
    EXPECT_TRUE(next->toolTip().contains("Next Frame (.); hold to accelerate to real-time speed"));
    QTest::mouseClick(next, Qt::LeftButton);
    EXPECT_EQ(preview_model.currentFrame(), 26);
    QTest::mousePress(next, Qt::LeftButton);
    QTest::qWait(250);
    EXPECT_EQ(preview_model.currentFrame(), 26);
    QTest::qWait(700);
    QTest::mouseRelease(next, Qt::LeftButton);
    const auto held = preview_model.currentFrame();
    EXPECT_GE(held, 28);
    QTest::qWait(400);
    EXPECT_EQ(preview_model.currentFrame(), held);
}
