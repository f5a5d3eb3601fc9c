#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QAccessible>

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStringListModel>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <fstream>

#include "support/QtTestApplication.h"
#include "support/SaveDialogAnswer.h"
#include "support/TempDir.h"
#include "widgets/AccessibleListRows.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/ElidedLabel.h"
#include "widgets/FeatureHeader.h"
#include "widgets/FileListEditor.h"
#include "widgets/FilePanels.h"
#include "widgets/OutputFolderRow.h"
#include "widgets/PathDialog.h"
#include "widgets/SymbolIcons.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class SharedViews : public ::testing::Test {
  protected:
    void SetUp() override { tavtest::qtApplication(); }
};

void touch(const fs::path& file) {
    std::ofstream(file) << "x";
}

}  // namespace

TEST_F(SharedViews, FileListEditorButtonsFollowPositionAndReportTheirFile) {
    using Button = FileListEditor::Button;
    FileListEditor editor("No files", "Add files to join them.");
    EXPECT_EQ(editor.emptyView()->symbol(), "film.stack");
    EXPECT_EQ(editor.emptyView()->title(), "No files");
    EXPECT_EQ(editor.emptyView()->description(), "Add files to join them.");
    editor.resize(500, 600);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    EXPECT_TRUE(editor.emptyView()->isVisible());

    std::vector<std::pair<fs::path, int>> moves;
    std::vector<fs::path> removed;
    editor.setOnMove([&](const fs::path& file, int step) { moves.emplace_back(file, step); });
    editor.setOnRemove([&](const fs::path& file) { removed.push_back(file); });
    const auto click = [&](int row, Button button) {
        QCoreApplication::processEvents();
        const QRect place = editor.buttonRect(row, button);
        ASSERT_FALSE(place.isEmpty());
        QTest::mouseClick(editor.listView()->viewport(), Qt::LeftButton, {}, place.center());
    };

    editor.setFiles({"/videos/one.mkv", "/videos/two.mkv", "/media/three.mp4"});
    EXPECT_TRUE(editor.listView()->isVisible());
    // The ends cannot move outwards; clicks there report nothing.
    click(0, Button::moveEarlier);
    click(2, Button::moveLater);
    EXPECT_TRUE(moves.empty());
    click(1, Button::moveEarlier);
    click(1, Button::moveLater);
    click(2, Button::remove);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], std::make_pair(fs::path("/videos/two.mkv"), -1));
    EXPECT_EQ(moves[1], std::make_pair(fs::path("/videos/two.mkv"), +1));
    EXPECT_EQ(removed, std::vector<fs::path>{"/media/three.mp4"});
    // A screen reader gets the painted buttons, named for their file, and presses them.
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(editor.listView())->child(1);
    ASSERT_EQ(row->childCount(), 3);
    QStringList names;
    for (int i = 0; i < row->childCount(); ++i) {
        names << row->child(i)->text(QAccessible::Name);
    }
    EXPECT_EQ(names, (QStringList{"Move two.mkv earlier", "Move two.mkv later", "Remove two.mkv"}));
    row->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(tavtest::waitUntil([&] { return removed.size() == 2; }));
    EXPECT_EQ(removed.back(), fs::path("/videos/two.mkv"));
    removed.pop_back();
    // The editor leaves the list to its host.
    EXPECT_EQ(editor.files().size(), 3u);
    EXPECT_EQ(FileListEditor::helpText(Button::moveEarlier), "Move earlier");
    EXPECT_EQ(FileListEditor::helpText(Button::moveLater), "Move later");
    EXPECT_EQ(FileListEditor::helpText(Button::remove), "Remove from list");

    editor.setOnMove({});
    EXPECT_TRUE(editor.buttonRect(1, Button::moveEarlier).isNull());
    EXPECT_TRUE(editor.buttonRect(1, Button::moveLater).isNull());
    click(0, Button::remove);
    EXPECT_EQ(removed.size(), 2u);

    // A long list scrolls inside the editor instead of growing with it.
    std::vector<fs::path> many;
    for (int i = 0; i < 3000; ++i) {
        many.push_back("/videos/clip " + std::to_string(i) + ".mkv");
    }
    editor.setFiles(many);
    EXPECT_LE(editor.listView()->height(), FileListEditor::visibleRows * 60);
    // Rows are laid out in batches over a few turns of the event loop.
    auto* bar = editor.listView()->verticalScrollBar();
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return bar->maximum() + editor.listView()->viewport()->height() >= 3000 * 50; }));
    editor.listView()->scrollToBottom();
    // The rows end where the scroll bar begins: no button lies under it.
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return editor.buttonRect(2999, Button::remove).right() <
               editor.listView()->viewport()->width();
    }));
    click(2999, Button::remove);
    EXPECT_EQ(removed.back(), fs::path("/videos/clip 2999.mkv"));
}

TEST_F(SharedViews, HostRebuildingTheListFromARowButtonOrAKeyIsSafe) {
    using Button = FileListEditor::Button;
    // The host removes or moves the file in its own list and hands the list back at once, while
    // the click or key is still being handled.
    FileListEditor editor("No files", "Add files to join them.");
    std::vector<fs::path> files{"/v/one.mkv", "/v/two.mkv", "/v/three.mkv"};
    editor.setOnRemove([&](const fs::path& file) {
        std::erase(files, file);
        editor.setFiles(files);
    });
    editor.setOnMove([&](const fs::path& file, int step) {
        auto at = std::find(files.begin(), files.end(), file);
        std::iter_swap(at, at + step);
        editor.setFiles(files);
    });
    editor.setFiles(files);
    editor.resize(500, 400);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    const auto click = [&](int row, Button button) {
        QCoreApplication::processEvents();
        QTest::mouseClick(editor.listView()->viewport(), Qt::LeftButton, {},
                          editor.buttonRect(row, button).center());
    };

    click(0, Button::moveLater);
    EXPECT_EQ(files, (std::vector<fs::path>{"/v/two.mkv", "/v/one.mkv", "/v/three.mkv"}));
    click(1, Button::remove);
    ASSERT_EQ(editor.listView()->model()->rowCount(), 2);
    EXPECT_EQ(editor.listView()->model()->index(1, 0).data().toString(), "three.mkv");
    click(0, Button::remove);
    click(0, Button::remove);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(editor.listView()->model()->rowCount(), 0);
    EXPECT_TRUE(editor.emptyView()->isVisible());

    // By keyboard: arrows pick a file, Alt+arrows move it, Delete removes it, and the picked row
    // follows the file through the host's new list.
    files = {"/v/one.mkv", "/v/two.mkv", "/v/three.mkv"};
    editor.setFiles(files);
    QListView* list = editor.listView();
    EXPECT_TRUE(list->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(list->toolTip().contains("Alt+Up")) << list->toolTip().toStdString();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    struct Row {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::vector<fs::path> files;
        int current;
    };
    const Row rows[] = {
        {Qt::Key_Down, {}, {"/v/one.mkv", "/v/two.mkv", "/v/three.mkv"}, 1},
        {Qt::Key_Up, Qt::AltModifier, {"/v/two.mkv", "/v/one.mkv", "/v/three.mkv"}, 0},
        {Qt::Key_Up, Qt::AltModifier, {"/v/two.mkv", "/v/one.mkv", "/v/three.mkv"}, 0},
        {Qt::Key_Down, Qt::AltModifier, {"/v/one.mkv", "/v/two.mkv", "/v/three.mkv"}, 1},
        {Qt::Key_Delete, {}, {"/v/one.mkv", "/v/three.mkv"}, 1},
        {Qt::Key_Backspace, {}, {"/v/one.mkv"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QKeySequence(row.key | row.modifiers).toString().toStdString());
        QTest::keyClick(list, row.key, row.modifiers);
        EXPECT_EQ(files, row.files);
        EXPECT_EQ(list->currentIndex().row(), row.current);
    }
}

TEST_F(SharedViews, FileNamesAreShownLiterallyEvenWhenNotUtf8) {
    FileListEditor editor("No files", "");
    const fs::path odd = fs::path("/tmp/<b>bold</b>") / fs::path(std::string("caf\xe9.mkv"));
    editor.setFiles({odd});
    const QModelIndex row = editor.listView()->model()->index(0, 0);
    // Qt cannot hold the stray byte; it shows as a replacement character, never dropped.
    EXPECT_EQ(row.data().toString(), QStringLiteral("caf\uFFFD.mkv"));
    EXPECT_EQ(row.data(Qt::UserRole + 1).toString(), "/tmp/<b>bold</b>");
    QTextDocument tip;
    tip.setHtml(row.data(Qt::ToolTipRole).toString());
    EXPECT_EQ(tip.toPlainText(), QStringLiteral("/tmp/<b>bold</b>/caf\uFFFD.mkv"));
    // The tooltip, which shows the full text, shows it literally too, spaces included.
    ElidedLabel label;
    for (const QString& text :
         {QStringLiteral("<b>bold</b>  &amp; <img src=x>.mkv"), QStringLiteral("plain.mkv")}) {
        label.setText(text);
        QTextDocument shown;
        shown.setHtml(label.toolTip());
        EXPECT_TRUE(Qt::mightBeRichText(label.toolTip()));
        EXPECT_EQ(shown.toPlainText(), text);
        EXPECT_EQ(label.accessibleName(), text) << "read as text, not as tooltip markup";
    }
    label.setText(QString());
    EXPECT_TRUE(label.toolTip().isEmpty());

    // An underscore is drawn, not cut off below the line, in every text style.
    for (auto style : {TextStyle::body, TextStyle::title2, TextStyle::headline, TextStyle::callout,
                       TextStyle::caption}) {
        SCOPED_TRACE(static_cast<int>(style));
        ElidedLabel underscore;
        underscore.setFont(fontFor(style));
        underscore.setText(QStringLiteral("_"));
        underscore.resize(underscore.sizeHint());
        QImage image(underscore.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        underscore.render(&image);
        bool inked = false;
        for (int y = 0; y < image.height() && !inked; ++y) {
            for (int x = 0; x < image.width() && !inked; ++x) {
                inked = qGray(image.pixel(x, y)) < 128;
            }
        }
        EXPECT_TRUE(inked);
    }
}

TEST_F(SharedViews, OutputFolderRowShowsPathOrOrangeNotice) {
    int chosen = 0;
    OutputFolderRow row([&] { ++chosen; });
    EXPECT_EQ(row.pathLabel()->text(), "No folder selected");
    EXPECT_EQ(row.pathLabel()->palette().color(QPalette::WindowText), tint::orange());
    row.setDirectory(fs::path("/home/user/Movies/Converted"));
    EXPECT_EQ(row.pathLabel()->text(), "/home/user/Movies/Converted");
    EXPECT_NE(row.pathLabel()->palette().color(QPalette::WindowText), tint::orange());
    row.setDirectory(fs::path("/media/disc"), "Tavrolin cannot create files in \u201Cdisc\u201D.");
    EXPECT_EQ(row.pathLabel()->palette().color(QPalette::WindowText), tint::orange());
    EXPECT_EQ(row.pathLabel()->accessibleDescription(),
              QStringLiteral("Tavrolin cannot create files in \u201Cdisc\u201D."));
    EXPECT_EQ(row.chooseButton()->text(), QStringLiteral("Choose…"));
    row.chooseButton()->click();
    EXPECT_EQ(chosen, 1);
}

TEST_F(SharedViews, FeatureHeaderAndEveryUsedSymbolHaveADrawing) {
    FeatureHeader header("Processing Queue", "Jobs run one at a time.", "list.bullet.rectangle");
    EXPECT_EQ(header.title(), "Processing Queue");
    EXPECT_EQ(header.subtitle(), "Jobs run one at a time.");
    // Symbols the code names without a drawing fail the tests that show them (see
    // QtTestApplication.h); here every bundled drawing must render and take the tint.
    symbolIcon(QStringLiteral("xmark"));
    const QStringList drawings = QDir(QStringLiteral(":/tavrolin/icons")).entryList();
    EXPECT_GE(drawings.size(), 60);
    for (const QString& file : drawings) {
        const QString symbol = file.chopped(4);
        EXPECT_TRUE(hasBundledSymbol(symbol)) << symbol.toStdString();
        EXPECT_FALSE(symbolIcon(symbol).isNull()) << symbol.toStdString();
        // The theme or the drawing is chosen when first drawn; either way there is a picture.
        EXPECT_FALSE(symbolIcon(symbol).pixmap(16, 16).isNull()) << symbol.toStdString();
        const QImage image = tintedSymbolIcon(symbol, tint::red()).pixmap(24, 24).toImage();
        // The tint replaces the drawing's colour.
        bool sawRed = false;
        for (int y = 0; y < image.height() && !sawRed; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255 && pixel.rgb() == tint::red().rgb()) {
                    sawRed = true;
                    break;
                }
            }
        }
        EXPECT_TRUE(sawRed) << symbol.toStdString();
    }
    EXPECT_FALSE(hasBundledSymbol("no.such.symbol"));
}

TEST_F(SharedViews, SaveFiltersComeFromTheMimeDatabase) {
    EXPECT_EQ(contentTypeFilter("mkv"), QStringList{"video/x-matroska"});
    EXPECT_EQ(contentTypeFilter("mp4"), QStringList{"video/mp4"});
    EXPECT_FALSE(contentTypeFilter("srt").isEmpty());
    EXPECT_TRUE(contentTypeFilter("zq9unknownext").isEmpty());
    EXPECT_TRUE(contentTypeFilter("").isEmpty());
}

// The open dialog asks nothing on the GUI thread: a name the folder's reading lists is taken as
// it is, '"' and all; another is looked up off the GUI thread, a folder opened, a missing name
// said; several selected files are taken from the list, whatever their names hold.
TEST_F(SharedViews, MediaFilesPanelReturnsEveryChosenFileOrNothing) {
    tavtest::TempDir folder;
    const std::string quoted = "Film \"multi\" (2024).mkv";
    for (const std::string name : {"a.mkv", "b.mp4", quoted.c_str()}) {
        touch(folder / name);
    }
    fs::create_directories(folder / "sub");
    touch(folder / "sub" / "c.mkv");
    struct Row {
        const char* name;
        std::vector<QString> typed;     // each followed by Return
        std::vector<QString> selected;  // rows selected before
        std::vector<fs::path> expected;
    };
    const QString subPath = toQString(folder / "sub");
    const std::vector<Row> rows{
        {"two selected", {}, {"a.mkv", "b.mp4"}, {folder / "a.mkv", folder / "b.mp4"}},
        {"quoted name typed", {QString::fromStdString(quoted)}, {}, {folder / quoted}},
        {"several quoted names typed",
         {"\"b.mp4\" \"sub/c.mkv\""},
         {},
         {folder / "b.mp4", folder / "sub" / "c.mkv"}},
        {"quoted name selected with another",
         {},
         {QString::fromStdString(quoted), "b.mp4"},
         {folder / "b.mp4", folder / quoted}},
        {"folder typed, then a file in it", {subPath, "c.mkv"}, {}, {folder / "sub" / "c.mkv"}},
        {"file typed with its path", {subPath + "/c.mkv"}, {}, {folder / "sub" / "c.mkv"}},
        {"missing name", {"gone.mkv"}, {}, {}},
        {"nothing", {}, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "Choose media files");
            EXPECT_EQ(dialog->acceptLabel(), "Add");
            EXPECT_EQ(dialog->mode(), PathDialog::Mode::openFiles);
            dialog->setFolder(folder.path());
            ASSERT_TRUE(tavtest::waitUntil([&] { return !dialog->isReading(); }));
            auto* list = dialog->findChild<QAbstractItemView*>("folderList");
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            for (int r = 0; r < list->model()->rowCount(); ++r) {
                const QModelIndex index = list->model()->index(r, 0);
                if (std::find(row.selected.begin(), row.selected.end(), index.data().toString()) !=
                    row.selected.end()) {
                    list->selectionModel()->select(index, QItemSelectionModel::Select);
                }
            }
            if (!row.selected.empty()) {
                QTest::keyClick(name, Qt::Key_Return);
            }
            for (const QString& typed : row.typed) {
                const fs::path shown = dialog->folder();
                tavtest::typeAndReturn(*dialog, typed);
                // Looked up off the GUI thread: the dialog closes, opens the folder or says why.
                auto* status = dialog->findChild<QLabel*>("folderStatus");
                ASSERT_TRUE(tavtest::waitUntil([&] {
                    return !dialog->isVisible() ||
                           (dialog->folder() != shown && !dialog->isReading()) ||
                           status->text().startsWith("There is no \u201Cgone.mkv\u201D");
                }));
            }
            if (dialog->isVisible()) {
                dialog->reject();
            }
        });
        EXPECT_EQ(chooseMediaFiles("test", true), row.expected);
    }
}

TEST_F(SharedViews, SavePanelsStartInTheGivenFolderAndNeverConfirmOverwriting) {
    tavtest::TempDir folder;
    touch(folder / "joined.mkv");
    touch(folder / "other.mp4");
    touch(folder / ".hidden.mkv");
    fs::create_directories(folder / "shows");
    tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Choose output file");
        EXPECT_EQ(dialog->acceptLabel(), "Choose");
        EXPECT_EQ(dialog->mode(), PathDialog::Mode::saveFile);
        EXPECT_EQ(dialog->folder(), folder.path());
        // Read off the GUI thread: folders first, then the files of the container's kind.
        ASSERT_TRUE(tavtest::waitUntil([&] { return !dialog->isReading(); }));
        EXPECT_EQ(tavtest::shownNames(*dialog), (QStringList{"shows", "joined.mkv"}));
        dialog->accept();
    });
    auto chosen = chooseOutputFile("test", "joined.mkv", OutputContainer::mkv, folder.path());
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, folder / "joined.mkv");

    // A name typed without extension gets the one of the chosen kind. The name comes back as
    // typed (a folder that is not there included): the page that writes checks the folder off
    // the GUI thread. A name that names a folder, "/" at its end or not, opens that folder
    // first.
    struct Row {
        std::function<std::optional<fs::path>()> open;
        std::vector<QString> typed;
        std::optional<fs::path> expected;
    };
    const auto folderChosen = [&] { return chooseOutputFolder("test", folder.path()); };
    const auto mp4Chosen = [&] {
        return chooseOutputFile("test", "joined.mp4", OutputContainer::mp4, folder.path());
    };
    const std::vector<Row> rows{
        {[&] {
             return chooseOutputFile("test", "joined.mkv", OutputContainer::mkv, folder.path());
         },
         {"clip"},
         folder / "clip.mkv"},
        {mp4Chosen, {"clip.mp4"}, folder / "clip.mp4"},
        {mp4Chosen, {"missing/../later/clip"}, folder / "later" / "clip.mp4"},
        {mp4Chosen, {"shows/", "ep"}, folder / "shows" / "ep.mp4"},
        {mp4Chosen, {""}, std::nullopt},
        {[&] {
             return chooseSubtitleExportFile("test", "talk.vtt", SubtitleFileFormat::webVTT,
                                             folder.path());
         },
         {"talk"},
         folder / "talk.vtt"},
        {folderChosen, {""}, folder.path()},
        {folderChosen, {"shows"}, folder / "shows"},
        {folderChosen, {"shows/", ""}, folder / "shows"},
        {mp4Chosen, {"shows", "ep"}, folder / "shows" / "ep.mp4"},
        {mp4Chosen, {toQString(folder / "shows"), "ep"}, folder / "shows" / "ep.mp4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.front().toStdString());
        tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
            for (const QString& typed : row.typed) {
                tavtest::typeAndReturn(*dialog, typed);
                // A name the reading does not list is looked up off the GUI thread.
                ASSERT_TRUE(tavtest::waitUntil(
                    [&] { return !dialog->isVisible() || !dialog->isLookingUp(); }));
            }
            if (dialog->isVisible()) {
                dialog->reject();  // an empty name takes nothing
            }
        });
        EXPECT_EQ(row.open(), row.expected);
    }

    tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Export subtitles");
        EXPECT_EQ(dialog->acceptLabel(), "Export");
        dialog->reject();
    });
    EXPECT_FALSE(
        chooseSubtitleExportFile("test", "talk.vtt", SubtitleFileFormat::webVTT, folder.path()));

    tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Choose output folder");
        EXPECT_EQ(dialog->mode(), PathDialog::Mode::chooseFolder);
        dialog->reject();
    });
    EXPECT_FALSE(chooseOutputFolder("test", folder.path()));

    tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Choose the ffmpeg executable");
        EXPECT_EQ(dialog->mode(), PathDialog::Mode::openFile);
        dialog->reject();
    });
    EXPECT_FALSE(chooseFFmpegExecutable());
}

// A screen reader reads painted rows as list items with their painted buttons, and an editor
// open on the view; a press waits for the reader's call to return, and the interfaces of rows
// that went are gone, so nothing answers for a row that is no more.
TEST_F(SharedViews, ListRowsReachAScreenReaderWithTheirButtonsAndOpenEditor) {
    QStringListModel model({"one.mkv", "two.mkv", "three.mkv"});
    auto view = std::make_unique<QListView>();
    view->setModel(&model);
    view->setAccessibleName("Files");  // Qt makes the view's interface here already
    QStringList pressed;
    exposeListRows(view.get(), [&](int row) {
        const QString name = model.index(row).data().toString();
        return std::vector<AccessibleRowControl>{
            {QAccessible::Button, "Remove " + name,
             view->visualRect(model.index(row)).adjusted(200, 0, 0, 0), row != 1, std::nullopt,
             [&, name] {
                 pressed << name;
                 model.removeRows(static_cast<int>(model.stringList().indexOf(name)), 1);
             }}};
    });
    view->resize(300, 200);
    view->show();

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view.get());
    ASSERT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), "Files");
    ASSERT_EQ(list->childCount(), 3);
    QAccessibleInterface* row = list->child(2);
    EXPECT_EQ(row->role(), QAccessible::ListItem);
    EXPECT_EQ(row->text(QAccessible::Name), "three.mkv");
    EXPECT_EQ(row->parent(), list);
    EXPECT_EQ(list->indexOfChild(row), 2);
    ASSERT_EQ(row->childCount(), 1);
    QAccessibleInterface* button = row->child(0);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(button->text(QAccessible::Name), "Remove three.mkv");
    EXPECT_EQ(button->parent(), row);
    EXPECT_EQ(row->indexOfChild(button), 0);
    EXPECT_EQ(list->childAt(button->rect().center().x(), button->rect().center().y()), row);
    EXPECT_EQ(row->childAt(button->rect().center().x(), button->rect().center().y()), button);
    QAccessibleInterface* disabled = list->child(1)->child(0);
    EXPECT_TRUE(disabled->state().disabled);
    EXPECT_TRUE(disabled->actionInterface()->actionNames().isEmpty());

    const QAccessible::Id buttonID = QAccessible::uniqueId(button);
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(pressed.isEmpty());
    ASSERT_TRUE(tavtest::waitUntil([&] { return !pressed.isEmpty(); }));
    EXPECT_EQ(pressed, QStringList{"three.mkv"});
    EXPECT_EQ(QAccessible::accessibleInterface(buttonID), nullptr);
    EXPECT_EQ(list->childCount(), 2);
    EXPECT_EQ(list->child(2), nullptr);

    auto* editor = new QLineEdit(view.get());
    editor->show();
    ASSERT_EQ(list->childCount(), 3);
    QAccessibleInterface* editing = list->child(2);
    EXPECT_EQ(editing->object(), editor);
    EXPECT_EQ(editing->parent(), list);
    EXPECT_EQ(list->indexOfChild(editing), 2);

    const QAccessible::Id rowID = QAccessible::uniqueId(list->child(0));
    view.reset();
    EXPECT_EQ(QAccessible::accessibleInterface(rowID), nullptr);
}
