// The file dialog as a person uses it: keys, clicks and Return on the real dialog over real
// folders, a hung one included (see SlowFolder). The slow folder's rounds through every page's
// dialog are in the slow-folder window test.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCompleter>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <fstream>
#include <tuple>

#include "shell/QtPreferencesStore.h"
#include "support/QtTestApplication.h"
#include "support/SaveDialogAnswer.h"
#include "support/SlowFolder.h"
#include "support/TempDir.h"
#include "widgets/AppStyle.h"
#include "widgets/FilePanels.h"
#include "widgets/FilePlaces.h"
#include "widgets/PathDialog.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using tavtest::shownNames;

namespace {

class PathDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { tavtest::qtApplication(); }
    void TearDown() override { tavtest::SlowFolder::stop(); }
};

void write(const fs::path& file, std::size_t bytes) {
    std::ofstream(file) << std::string(bytes, 'x');
}

template <typename Child>
Child* child(PathDialog& dialog, const char* name) {
    return dialog.findChild<Child*>(QString::fromLatin1(name));
}
QTreeView* listOf(PathDialog& dialog) {
    return child<QTreeView>(dialog, "folderList");
}
QString statusOf(PathDialog& dialog) {
    return child<QLabel>(dialog, "folderStatus")->text();
}

// The entry named `name`, in `column`.
QModelIndex rowNamed(PathDialog& dialog, const QString& name, int column = 0) {
    const auto row = shownNames(dialog).indexOf(name);
    return row < 0 ? QModelIndex() : listOf(dialog)->model()->index(static_cast<int>(row), column);
}

// As the desktop sends a double-click: a click, then a press that it reports as a double one.
void doubleClick(QAbstractItemView* list, const QModelIndex& index) {
    const QPoint at = list->visualRect(index).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

// Shows a dialog of `mode` on `folder`, read.
void open(PathDialog& dialog, const fs::path& folder) {
    dialog.show();
    dialog.setFolder(folder);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !dialog.isReading(); }));
}

}  // namespace

// Hidden files with Ctrl+H, the filter, the sortable columns with sizes and times read off the
// GUI thread, Backspace and Alt+Up to go up, and a location typed with completion.
TEST_F(PathDialogTest, BrowsesByKeysFiltersSortsAndTypesALocation) {
    tavtest::TempDir folder;
    const fs::path shows = folder / "shows";
    for (const char* sub : {"season 1", "b-dir", ".cache"}) {
        fs::create_directories(shows / sub);
    }
    const auto now = fs::file_time_type::clock::now();
    const std::vector<std::tuple<const char*, std::size_t, int>> files{{"clip 10.mp4", 3000, 1},
                                                                       {"clip 2.mkv", 10, 3},
                                                                       {"notes.txt", 50, 2},
                                                                       {".secret.mp4", 5, 0}};
    for (const auto& [name, bytes, hoursAgo] : files) {
        write(shows / name, bytes);
        fs::last_write_time(shows / name, now - std::chrono::hours(hoursAgo));
    }
    PathDialog dialog(PathDialog::Mode::openFiles);
    dialog.setFileFilter(QStringLiteral("Media files"), {"mp4", "mkv"});
    ASSERT_NO_FATAL_FAILURE(open(dialog, shows));
    QTreeView* list = listOf(dialog);
    EXPECT_EQ(shownNames(dialog), (QStringList{"b-dir", "season 1", "clip 2.mkv", "clip 10.mp4"}));
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return !rowNamed(dialog, "clip 10.mp4", 1).data().toString().isEmpty() &&
               !rowNamed(dialog, "clip 10.mp4", 2).data().toString().isEmpty();
    }));

    list->setFocus();
    QTest::keyClick(list, Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(shownNames(dialog).contains(".cache"));
    EXPECT_TRUE(shownNames(dialog).contains(".secret.mp4"));
    QTest::keyClick(child<QLineEdit>(dialog, "fileNameEdit"), Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(shownNames(dialog).contains(".secret.mp4"));

    auto* filter = child<QComboBox>(dialog, "fileFilter");
    EXPECT_EQ(filter->currentText(), "Media files");
    QTest::keyClick(filter, Qt::Key_Down);
    EXPECT_EQ(filter->currentText(), "All files");
    EXPECT_TRUE(shownNames(dialog).contains("notes.txt"));

    // A click on a heading sorts by it, a second turns the order; folders stay first.
    const auto clickHeading = [&](int column) {
        QHeaderView* header = list->header();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, 5));
    };
    struct Order {
        int column;
        QStringList files;
    };
    for (const auto& [column, expected] : std::vector<Order>{
             {1, {"clip 2.mkv", "notes.txt", "clip 10.mp4"}},
             {1, {"clip 10.mp4", "notes.txt", "clip 2.mkv"}},
             {2, {"clip 2.mkv", "notes.txt", "clip 10.mp4"}},
             {0, {"clip 2.mkv", "clip 10.mp4", "notes.txt"}},
         }) {
        SCOPED_TRACE(column);
        clickHeading(column);
        const QStringList names = shownNames(dialog);
        EXPECT_EQ(names.mid(0, 2).contains("b-dir") && names.mid(0, 2).contains("season 1"), true);
        EXPECT_EQ(names.mid(2), expected);
    }

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Backspace);
    EXPECT_EQ(dialog.folder(), folder.path());

    // The location completes the folder typed from a reading of its own.
    auto* location = child<QLineEdit>(dialog, "folderLocation");
    location->setFocus();
    location->selectAll();
    QTest::keyClicks(location, toQString(shows) + "/se");
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return location->completer()->completionCount() == 1 &&
               location->completer()->currentCompletion() == toQString(shows / "season 1");
    }));
    QTest::keyClicks(location, "ason 1");
    QTest::keyClick(location, Qt::Key_Return);
    EXPECT_EQ(dialog.folder(), shows / "season 1");
    EXPECT_TRUE(dialog.isVisible());
    QTest::keyClick(list, Qt::Key_Up, Qt::AltModifier);
    EXPECT_EQ(dialog.folder(), shows);
}

// In a folder dialog files show dimmed: a double-click or their name typed never takes one.
TEST_F(PathDialogTest, FolderDialogNeverTakesAFile) {
    tavtest::TempDir folder;
    fs::create_directories(folder / "out");
    write(folder / "clip.mp4", 10);
    PathDialog dialog(PathDialog::Mode::chooseFolder);
    ASSERT_NO_FATAL_FAILURE(open(dialog, folder.path()));
    QTreeView* list = listOf(dialog);
    const QModelIndex file = rowNamed(dialog, "clip.mp4");
    ASSERT_TRUE(file.isValid());
    EXPECT_FALSE(file.flags() & Qt::ItemIsEnabled);
    doubleClick(list, file);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.folder(), folder.path());

    tavtest::typeAndReturn(dialog, "clip.mp4");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(statusOf(dialog).startsWith("\u201Cclip.mp4\u201D is a file."));

    doubleClick(list, rowNamed(dialog, "out"));
    EXPECT_EQ(dialog.folder(), folder / "out");
    ASSERT_TRUE(tavtest::waitUntil([&] { return !dialog.isReading(); }));
    QTest::mouseClick(child<QPushButton>(dialog, "acceptButton"), Qt::LeftButton);
    EXPECT_EQ(dialog.chosen(), folder / "out");
}

// Home, the user folders, drives and bookmarks, read from the desktop's own files.
TEST_F(PathDialogTest, PlacesComeFromTheDesktopsFiles) {
    const fs::path home = "/home/ann";
    using Kind = FilePlace::Kind;
    EXPECT_EQ(userFolderPlaces("# written by xdg-user-dirs-update\n"
                               "XDG_VIDEOS_DIR=\"$HOME/Videos\"\n"
                               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                               "XDG_MUSIC_DIR=\"$HOME/\"\n"
                               "XDG_DOWNLOAD_DIR=\"/data/Downloads\"\n",
                               home),
              (std::vector<FilePlace>{{Kind::userFolder, "Desktop", home / "Desktop"},
                                      {Kind::userFolder, "Downloads", "/data/Downloads"},
                                      {Kind::userFolder, "Videos", home / "Videos"}}));
    EXPECT_EQ(drivePlaces("22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
                          "28 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
                          "40 28 8:17 / /media/ann/My\\040Disk rw shared:9 - vfat /dev/sdb1 rw\n"
                          "41 28 0:50 / /run/user/1000 rw - tmpfs tmpfs rw\n"
                          "42 28 0:51 / /srv/films rw - nfs4 nas:/films rw\n"
                          "43 28 8:33 / /mnt/backup rw - ext4 /dev/sdc1 rw\n"
                          "44 28 8:33 / /mnt/backup rw - ext4 /dev/sdc1 rw\n"),
              (std::vector<FilePlace>{{Kind::drive, "My Disk", "/media/ann/My Disk"},
                                      {Kind::drive, "films", "/srv/films"},
                                      {Kind::drive, "backup", "/mnt/backup"}}));
    EXPECT_EQ(bookmarkPlaces("file:///home/ann/Films%20HD Films\n"
                             "sftp://host/share\n"
                             "file:///data/raw\n"),
              (std::vector<FilePlace>{{Kind::bookmark, "Films", "/home/ann/Films HD"},
                                      {Kind::bookmark, "raw", "/data/raw"}}));

    // The dialog reads them from $XDG_CONFIG_HOME and opens a place clicked.
    tavtest::TempDir config;
    tavtest::TempDir target;
    fs::create_directories(config / "gtk-3.0");
    std::ofstream(config / "user-dirs.dirs") << "XDG_VIDEOS_DIR=\"$HOME/Videos\"\n";
    std::ofstream(config / "gtk-3.0" / "bookmarks")
        << "file://" << target.path().string() << " Target\n";
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path().string()));
    PathDialog dialog(PathDialog::Mode::openFile);
    ASSERT_NO_FATAL_FAILURE(open(dialog, config.path()));
    qputenv("XDG_CONFIG_HOME", before);
    auto* places = child<QListWidget>(dialog, "placesList");
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return !places->findItems("Videos", Qt::MatchExactly).isEmpty() &&
               !places->findItems("Target", Qt::MatchExactly).isEmpty();
    }));
    EXPECT_EQ(places->item(0)->text(), "Home");
    QListWidgetItem* bookmark = places->findItems("Target", Qt::MatchExactly).front();
    QTest::mouseClick(places->viewport(), Qt::LeftButton, {},
                      places->visualItemRect(bookmark).center());
    EXPECT_EQ(dialog.folder(), target.path());
}

// Each page's dialog opens where that page's was last left, in the next run too.
TEST_F(PathDialogTest, EachPageRemembersItsLastFolderAcrossRuns) {
    tavtest::TempDir folder;
    fs::create_directories(folder / "films");
    write(folder / "films" / "a.mp4", 10);
    const QString settings = toQString(folder / "settings.ini");
    const auto chooseIn = [&](const char* page, const QString& typed) {
        std::optional<fs::path> startedIn;
        tavtest::whenDialogOpens<PathDialog>([&](PathDialog* dialog) {
            startedIn = dialog->folder();
            if (typed.isEmpty()) {
                dialog->reject();
            } else {
                tavtest::typeAndReturn(*dialog, typed);
            }
        });
        chooseMediaFiles(page, true);
        return startedIn;
    };
    {
        rememberPanelFoldersIn(std::make_shared<QtPreferencesStore>(settings));
        EXPECT_EQ(chooseIn("remux", toQString(folder / "films" / "a.mp4")),
                  toPath(QDir::homePath()));
        EXPECT_EQ(chooseIn("remux", ""), folder / "films");
        EXPECT_EQ(chooseIn("join", ""), toPath(QDir::homePath()));
    }
    rememberPanelFoldersIn(std::make_shared<QtPreferencesStore>(settings));  // the next run
    EXPECT_EQ(chooseIn("remux", ""), folder / "films");
    rememberPanelFoldersIn(nullptr);
}

// On a folder that never answers, the dialog asks nothing on the GUI thread: a typed name's
// look-up and a listing each say the folder does not answer after a while, Return pressed again
// for the same name sends no second thread out, a folder dialog looks a name typed during the
// listing up rather than take it unread, and both dialogs go at once, their threads left waiting.
TEST_F(PathDialogTest, AHungFolderIsSaidAndHoldsNeitherTheDialogNorItsEnd) {
    tavtest::TempDir folder;
    const fs::path hung = folder / "hung";
    fs::create_directories(hung / "jm");
    write(hung / "a.mp4", 10);
    {
        PathDialog dialog(PathDialog::Mode::openFiles);
        ASSERT_NO_FATAL_FAILURE(open(dialog, hung));
        // Sizes and times are read after the names; the folder hangs once they are in.
        ASSERT_TRUE(tavtest::waitUntil(
            [&] { return !rowNamed(dialog, "a.mp4", 1).data().toString().isEmpty(); }));
        tavtest::SlowFolder::start(hung, 1h);
        const auto notAnswering = [&](const char* name) {
            return statusOf(dialog) == QStringLiteral(
                                           "The folder \u201C%1\u201D does not answer. Choose "
                                           "another folder, or try again once it answers.")
                                           .arg(QString::fromLatin1(name));
        };
        tavtest::typeAndReturn(dialog, "new.mp4");
        ASSERT_TRUE(tavtest::waitUntil([&] { return notAnswering("hung"); }));
        tavtest::typeAndReturn(dialog, "new.mp4");
        dialog.setFolder(hung / "jm");
        ASSERT_TRUE(tavtest::waitUntil([&] { return notAnswering("jm"); }));
        EXPECT_TRUE(dialog.isVisible());
        // The name's one look-up and the listing of "jm".
        EXPECT_EQ(tavtest::SlowFolder::waiting(), 2);

        PathDialog folders(PathDialog::Mode::chooseFolder);
        folders.show();
        folders.setFolder(hung);
        tavtest::typeAndReturn(folders, "x.mp4");
        EXPECT_TRUE(folders.isVisible() && folders.isLookingUp());
        EXPECT_EQ(tavtest::SlowFolder::guiThreadCalls(), 0)
            << "last: " << tavtest::SlowFolder::lastOnGuiThread();
    }
    EXPECT_TRUE(tavtest::waitUntil([] { return tavtest::SlowFolder::waiting() == 4; }));
    tavtest::SlowFolder::stop();  // before the folder is removed
}
