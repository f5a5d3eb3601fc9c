// The Sequence Rename screen on the offscreen platform, and its place in the root view.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include "engine/MediaProcessing.h"
#include "queue/JobQueueViewModel.h"
#include "rename/RenamePreviewList.h"
#include "rename/RenameView.h"
#include "rename_ui/RenameTestSupport.h"
#include "shell/RootView.h"
#include "support/IdleServices.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FileListEditor.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class RenameViewTest : public ::testing::Test, protected tavtest::RenameFixture {
  protected:
    RenameView view{*model};

    template <typename T>
    T* find(const char* name) const {
        auto* widget = view.findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // What the preview shows: the error, the rows, or the placeholder.
    QString previewText() {
        settle();
        QCoreApplication::processEvents();
        if (auto* error = find<QLabel>("previewError"); error->isVisibleTo(&view)) {
            return "error: " + error->text();
        }
        if (auto* list = find<QListView>("planList"); list->isVisibleTo(&view)) {
            QStringList rows;
            for (int row = 0; row < list->model()->rowCount(); ++row) {
                rows.append(list->model()->index(row, 0).data().toString());
            }
            return rows.join(" | ");
        }
        return "placeholder: " + find<QLabel>("previewPlaceholder")->text();
    }
    void type(const char* field, const QString& text) {
        auto* edit = find<QLineEdit>(field);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }
};

}  // namespace

TEST_F(RenameViewTest, FieldsPlanAgainAndTheButtonFollowsThePlan) {
    auto* fileList = find<FileListEditor>("fileList");
    auto* rename = find<QPushButton>("renameButton");
    EXPECT_EQ(fileList->emptyView()->title(), "No files to rename");
    EXPECT_EQ(fileList->emptyView()->description(),
              "Drop files here or add files from one folder, then arrange them in episode order.");
    // Each control reads its own name to a screen reader, not its group's title.
    EXPECT_EQ(find<QWidget>("showNameField")->accessibleName(), "Show name");
    EXPECT_EQ(find<QWidget>("planList")->accessibleName(), "Preview");
    type("showNameField", "Show");
    EXPECT_EQ(previewText(), "placeholder: Add files and enter a show name to see the result.");
    EXPECT_FALSE(rename->isEnabled());

    // A cancelled panel adds nothing.
    view.setMediaFileChooser([] { return std::vector<fs::path>{}; });
    find<QPushButton>("addFilesButton")->click();
    EXPECT_TRUE(model->files().empty());
    const auto paths = make({"ep 2.mkv", "ep 1.mkv"});
    view.setMediaFileChooser([&] { return paths; });
    find<QPushButton>("addFilesButton")->click();
    EXPECT_EQ(previewText(),
              "ep 1.mkv  \u2192  Show - S01E01.mkv | ep 2.mkv  \u2192  Show - S01E02.mkv");
    EXPECT_EQ(fileList->listView()->model()->rowCount(), 2);
    EXPECT_TRUE(rename->isEnabled());

    // A padding too short for the last episode widens every episode number, and says so.
    auto* planNotice = find<QLabel>("planNotice");
    EXPECT_FALSE(planNotice->isVisibleTo(&view));
    type("startingEpisodeField", "9");
    find<QComboBox>("paddingPicker")->setCurrentIndex(0);
    emit find<QComboBox>("paddingPicker")->activated(0);
    EXPECT_EQ(previewText(),
              "ep 1.mkv  \u2192  Show - S1E09.mkv | ep 2.mkv  \u2192  Show - S1E10.mkv");
    EXPECT_TRUE(planNotice->isVisibleTo(&view));
    EXPECT_TRUE(planNotice->text().startsWith("Episode numbers reach 10, too many for 1 digit"));

    type("seasonField", "0");
    EXPECT_EQ(previewText(), "error: Season, episode, and padding values must be positive.");
    EXPECT_FALSE(planNotice->isVisibleTo(&view));
    EXPECT_FALSE(rename->isEnabled());
    auto* seasonStepper = find<QSpinBox>("seasonStepper");
    EXPECT_EQ(seasonStepper->value(), 1);
    seasonStepper->stepDown();
    EXPECT_EQ(model->season(), 0);  // the stepper cannot go below 1, so nothing changed
    seasonStepper->setValue(5000);
    EXPECT_EQ(model->season(), 999);
    view.refresh();
    EXPECT_EQ(find<QLineEdit>("seasonField")->text(), "999");
    auto* episodeStepper = find<QSpinBox>("startingEpisodeStepper");
    EXPECT_EQ(episodeStepper->minimum(), 1);
    EXPECT_EQ(episodeStepper->maximum(), 9999);
    type("startingEpisodeField", "12000");  // the field takes numbers beyond the stepper
    find<QComboBox>("paddingPicker")->setCurrentIndex(2);
    emit find<QComboBox>("paddingPicker")->activated(2);
    EXPECT_EQ(previewText(),
              "ep 1.mkv  \u2192  Show - S999E12000.mkv | ep 2.mkv  \u2192  Show - S999E12001.mkv");

    type("showNameField", "");
    EXPECT_EQ(previewText(), "error: Enter a show name.");
    type("showNameField", "Show");
    ASSERT_EQ(previewText().count("\u2192"), 2);
    rename->click();
    view.refresh();
    EXPECT_FALSE(rename->isEnabled());  // while the rename runs
    ASSERT_TRUE(settle());
    EXPECT_EQ(previewText(),
              "Show - S999E12000.mkv  \u2192  Show - S999E12000.mkv | "
              "Show - S999E12001.mkv  \u2192  Show - S999E12001.mkv");
    EXPECT_EQ(fileList->files(), (std::vector<fs::path>{folder / "Show - S999E12000.mkv",
                                                        folder / "Show - S999E12001.mkv"}));
    EXPECT_EQ(contents(),
              (std::map<std::string, std::string>{{"Show - S999E12000.mkv", "ep 1.mkv"},
                                                  {"Show - S999E12001.mkv", "ep 2.mkv"}}));
}

TEST_F(RenameViewTest, PreviewRowsFollowThePlanAndShowNamesAsPlainText) {
    RenamePreviewListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy resets(&list, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&list, &QAbstractItemModel::dataChanged);
    list.setPlan({{"/tv/<b>a.mkv", "/tv/S - S01E01.mkv"}, {"/tv/b.mkv", "/tv/S - S01E02.mkv"}});
    list.setPlan({{"/tv/<b>a.mkv", "/tv/S - S01E01.mkv"}, {"/tv/b.mkv", "/tv/T - S01E02.mkv"}});
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].value<QModelIndex>().row(), 1);
    QStringList dump;
    for (int row = 0; row < list.rowCount(); ++row) {
        dump.append(list.index(row).data().toString());
    }
    EXPECT_EQ(dump.join("\n"), "<b>a.mkv  \u2192  S - S01E01.mkv\nb.mkv  \u2192  T - S01E02.mkv");
    EXPECT_TRUE(list.index(0).data(Qt::ToolTipRole).toString().contains("&lt;b&gt;"));
    EXPECT_EQ(find<QLabel>("previewError")->textFormat(), Qt::PlainText);
}

TEST(RenameInRootView, DroppedFilesReachTheRenameWorkspace) {
    tavtest::qtApplication();
    tavtest::TempDir folder;
    std::ofstream(folder / "b.mkv") << "b";
    std::ofstream(folder / "a.mkv") << "a";
    JobQueueViewModel queue(std::make_shared<tavtest::IdleProcessor>());
    RootView root(queue, std::make_shared<InMemoryPreferencesStore>());
    root.select(WorkspaceSection::rename);
    auto* view = qobject_cast<RenameView*>(root.workspacePage(WorkspaceSection::rename)->view());
    ASSERT_NE(view, nullptr);
    std::ofstream(folder / "c.mkv") << "c";
    const auto url = [&](const fs::path& path) {
        return QUrl::fromLocalFile(QString::fromStdString(path.string()));
    };
    EXPECT_TRUE(root.handleDrop({url(folder / "c.mkv"), url(folder / "b.mkv")}));
    EXPECT_FALSE(root.handleDrop({url(folder / "b.mkv")}));
    // The folder's other files follow, once listed.
    EXPECT_TRUE(root.handleDrop({url(folder.path())}));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return view->findChild<FileListEditor*>("fileList")->files().size() == 3; }));
    EXPECT_EQ(view->findChild<FileListEditor*>("fileList")->files(),
              (std::vector<fs::path>{folder / "b.mkv", folder / "c.mkv", folder / "a.mkv"}));
}
