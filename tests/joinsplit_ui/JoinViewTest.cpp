// The Join screen on the offscreen platform: status line, list buttons, picker, save panel.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include <fstream>

#include "joinsplit/JoinView.h"
#include "joinsplit/JoinViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "shell/RootView.h"
#include "support/ReadOnlyMount.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FileListEditor.h"
#include "widgets/StatusLine.h"
#include "widgets/SymbolIcons.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class JoinViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        probe = std::make_shared<tavtest::FixedProbe>();
        queue = std::make_unique<JobQueueViewModel>(std::make_shared<tavtest::UnusedProcessor>());
        model = std::make_unique<JoinViewModel>(*queue, probe);
        view = std::make_unique<JoinView>(*model);
    }
    void TearDown() override {
        view.reset();
        model.reset();
    }

    fs::path file(const std::string& name, bool matching = true) {
        const fs::path path = folder / name;
        auto video = tavtest::makeStream(0, MediaStreamKind::video, "h264");
        video.width = matching ? 1920 : 1280;
        probe->streams[path] = {video, tavtest::makeStream(1, MediaStreamKind::audio, "aac")};
        return path;
    }
    void settle() {
        ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
        QCoreApplication::processEvents();
    }
    StatusLine* status() { return view->findChild<StatusLine*>("status"); }
    QPushButton* queueButton() { return view->findChild<QPushButton*>("queueButton"); }
    int rowCount() {
        return view->findChild<FileListEditor*>("fileList")->listView()->model()->rowCount();
    }
    // Clicks a row's button where the list draws it.
    void press(int row, FileListEditor::Button button) {
        auto* editor = view->findChild<FileListEditor*>("fileList");
        if (!view->isVisible()) {
            view->resize(900, 900);
            view->show();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        }
        QCoreApplication::processEvents();
        QTest::mouseClick(editor->listView()->viewport(), Qt::LeftButton, {},
                          editor->buttonRect(row, button).center());
        QCoreApplication::processEvents();
    }

    tavtest::TempDir folder;
    std::shared_ptr<tavtest::FixedProbe> probe;
    std::unique_ptr<JobQueueViewModel> queue;
    std::unique_ptr<JoinViewModel> model;
    std::unique_ptr<JoinView> view;
};

}  // namespace

TEST_F(JoinViewTest, StatusSymbolColourAndButtonFollowTheModel) {
    const QColor secondary = secondaryTextColor(view->palette());
    const std::string hint =
        "Add at least two files. Tavrolin will inspect their stream layouts before queueing.";
    probe->failures[folder / "bad.mkv"] = "Not a media file.";
    struct Row {
        const char* name;
        std::function<void()> change;
        std::string status;
        const char* symbol;
        QColor color;
        bool enabled;
    };
    const Row rows[] = {
        {"empty", [] {}, hint, "info.circle", secondary, false},
        {"one file", [&] { model->addFiles({file("a.mkv")}); }, hint, "info.circle", secondary,
         false},
        {"inspecting",
         [&] {
             model->addFiles({file("b.mkv")});
             view->refresh();  // before the inspections report back
         },
         "Inspecting codecs and stream layouts\u2026", "info.circle", secondary, false},
        {"matching", [&] { settle(); },
         "Ready for a lossless join: stream order, codecs, dimensions, channels, and MP4 "
         "compatibility match.",
         "checkmark.shield", tint::green(), true},
        {"container picked", [&] { view->findChild<QComboBox*>("containerPicker")->activated(4); },
         "H264 video cannot be written to WEBM by FFmpeg. Choose MP4, MOV, MKV or M4V as the "
         "output container.",
         "exclamationmark.triangle.fill", tint::orange(), false},
        {"MP3 picked", [&] { view->findChild<QComboBox*>("containerPicker")->activated(5); },
         "H264 video cannot be written to MP3 by FFmpeg. Choose MP4, MOV, MKV or M4V as the "
         "output container.",
         "exclamationmark.triangle.fill", tint::orange(), false},
        {"failed inspection",
         [&] {
             model->setContainer(OutputContainer::mkv);
             model->addFiles({folder / "bad.mkv"});
             settle();
         },
         "Could not inspect bad.mkv: Not a media file.", "exclamationmark.triangle.fill",
         tint::orange(), false},
        {"mismatch",
         [&] {
             model->remove(folder / "bad.mkv");
             model->addFiles({file("c.mkv", false)});
             settle();
         },
         "#0 Video stream 0 in \u201Cc.mkv\u201D does not match \u201Ca.mkv\u201D: 1280 pixels "
         "wide against 1920 pixels wide. Remove \u201Cc.mkv\u201D from the list, or join it "
         "with files made alike.",
         "exclamationmark.triangle.fill", tint::orange(), false},
    };
    auto* empty = view->findChild<FileListEditor*>("fileList")->emptyView();
    EXPECT_EQ(empty->title(), "Drop or add at least two files");
    EXPECT_EQ(empty->description(),
              "Files should have matching codecs, dimensions, and stream layouts.");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.change();
        if (std::string(row.name) != "inspecting") {
            QCoreApplication::processEvents();
        }
        EXPECT_TRUE(status()->isVisibleTo(view.get()));
        EXPECT_EQ(status()->text().toStdString(), row.status);
        EXPECT_EQ(status()->property("symbol").toString(), row.symbol);
        EXPECT_EQ(status()->property("color").value<QColor>(), row.color);
        EXPECT_EQ(queueButton()->isEnabled(), row.enabled);
    }
    EXPECT_EQ(view->findChild<QComboBox*>("containerPicker")->currentText(), "MKV");
}

TEST_F(JoinViewTest, ListButtonsMoveAndRemoveAndQueueAsksForTheOutput) {
    const auto a = file("a.mkv"), b = file("b.mkv"), c = file("c.mkv");
    auto* editor = view->findChild<FileListEditor*>("fileList");
    EXPECT_EQ(rowCount(), 0);
    int panels = 0;
    view->setMediaFileChooser([&] {
        ++panels;
        return std::vector<fs::path>{a, b, c};
    });
    view->findChild<QPushButton*>("addFilesButton")->click();
    settle();
    EXPECT_EQ(panels, 1);
    EXPECT_EQ(editor->files(), (std::vector<fs::path>{a, b, c}));

    press(0, FileListEditor::Button::moveLater);
    press(2, FileListEditor::Button::moveEarlier);
    EXPECT_EQ(editor->files(), (std::vector<fs::path>{b, c, a}));
    press(1, FileListEditor::Button::remove);
    EXPECT_EQ(model->files(), (std::vector<fs::path>{b, a}));
    EXPECT_EQ(editor->files(), model->files());

    std::vector<std::string> asked;
    model->setOutputFileChooser([&](const std::string& name, OutputContainer container,
                                    const std::optional<fs::path>& start) {
        asked.push_back(name + " " + displayName(container) + " " + start->string());
        return std::optional(folder / "out.mp4");
    });
    EXPECT_EQ(queueButton()->text(), "Choose Output && Queue");
    queueButton()->click();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(asked, std::vector<std::string>{"joined.mp4 MP4 " + folder.path().string()});
    ASSERT_EQ(queue->jobs().size(), 1u);
    EXPECT_EQ(*queue->jobs()[0].request.as<JoinRequest>(),
              (JoinRequest{{b, a}, folder / "out.mp4"}));
    EXPECT_EQ(rowCount(), 0);
    EXPECT_FALSE(queueButton()->isEnabled());
}

// Join checks the chosen output before queueing: a name that exists, a folder that takes no file.
TEST_F(JoinViewTest, OutputsThatCannotBeWrittenShowBeforeQueueing) {
    std::ofstream(folder / "joined.mp4") << "kept";
    tavtest::ReadOnlyMount readOnly(folder / "read-only");
    model->addFiles({file("a.mkv"), file("b.mkv")});
    settle();
    fs::path answer;
    std::vector<std::string> suggested;
    model->setOutputFileChooser(
        [&](const std::string& name, OutputContainer, const std::optional<fs::path>&) {
            suggested.push_back(name);
            return std::optional(answer);
        });
    const auto refused = [&](const fs::path& output, const std::string& why) {
        answer = output;
        queueButton()->click();
        ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(status()->text().toStdString(), why);
        EXPECT_TRUE(queue->jobs().empty());
        EXPECT_TRUE(queueButton()->isEnabled()) << "another output can be chosen";
    };
    refused(folder / "joined.mp4",
            "An output named \u201Cjoined.mp4\u201D already exists. Choose "
            "the output again with another name.");
    if (readOnly.isMounted()) {
        refused(folder / "read-only" / "out.mp4",
                "Tavrolin cannot create files in the output folder \u201Cread-only\u201D "
                "(Read-only file system). Choose another folder.");
    } else {
        std::cout << "[ SKIPPED ] read-only folder: " << readOnly.skipReason() << '\n';
    }
    answer = folder / "joined 2.mp4";
    queueButton()->click();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
    QCoreApplication::processEvents();
    ASSERT_EQ(queue->jobs().size(), 1u);
    EXPECT_EQ(queue->jobs()[0].request.as<JoinRequest>()->output, answer);
    EXPECT_EQ(suggested.front(), "joined 2.mp4") << "a taken name is not offered";
}

TEST_F(JoinViewTest, WindowDropsReachTheJoinList) {
    auto preferences = std::make_shared<InMemoryPreferencesStore>();
    RootView root(*queue, preferences);
    root.select(WorkspaceSection::join);
    const auto& clip = tavtest::TestMedia::shared().mp4ClipA;
    EXPECT_TRUE(root.handleDrop({QUrl::fromLocalFile(QString::fromStdString(clip.string())),
                                 QUrl(QStringLiteral("https://example.com/a.mp4"))}));
    EXPECT_FALSE(root.handleDrop({QUrl::fromLocalFile(QString::fromStdString(clip.string()))}));
    QCoreApplication::processEvents();
    auto* list =
        root.workspacePage(WorkspaceSection::join)->view()->findChild<FileListEditor*>("fileList");
    EXPECT_EQ(list->files(), std::vector<fs::path>{clip});
}
