// The Remux workspace widgets on the offscreen platform.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>

#include "queue/JobQueueViewModel.h"
#include "remux/CardColumn.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxView.h"
#include "remux/RemuxViewModel.h"
#include "remux/StreamSourceCard.h"
#include "widgets/ElidedLabel.h"
#include "widgets/SymbolIcons.h"

using namespace tavrolin;
using tavtest::makeStream;
namespace fs = std::filesystem;

namespace {

constexpr auto video = MediaStreamKind::video;
constexpr auto audio = MediaStreamKind::audio;
constexpr auto subtitle = MediaStreamKind::subtitle;

RemuxSource readySource(std::vector<MediaStream> streams, std::set<std::int64_t> selected) {
    return RemuxSource{"/media/show/Episode 1.mkv", RemuxSource::Ready{std::move(streams)},
                       std::move(selected)};
}

// Object names of the widgets in a stream row, left to right.
std::vector<QString> rowParts(QWidget* row) {
    std::vector<QString> names;
    auto* layout = row->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (auto* widget = layout->itemAt(i)->widget()) {
            names.push_back(widget->objectName());
        }
    }
    return names;
}

// Reads every node under `node` as a screen reader does; returns how many there are.
int walkAccessibleTree(QAccessibleInterface* node) {
    if (node == nullptr || !node->isValid()) {
        return 0;
    }
    (void)node->text(QAccessible::Name);
    int visited = 1;
    for (int i = 0; i < node->childCount(); ++i) {
        visited += walkAccessibleTree(node->child(i));
    }
    return visited;
}

// Counts the resize events each watched widget gets.
class ResizeCounter : public QObject {
  public:
    void watch(QWidget* widget) { widget->installEventFilter(this); }
    int count(QObject* widget) const { return counts_.contains(widget) ? counts_.at(widget) : 0; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        counts_[watched] += event->type() == QEvent::Resize ? 1 : 0;
        return false;
    }

  private:
    std::map<QObject*, int> counts_;
};

QString pillText(QWidget* pill) {
    return pill->findChild<QLabel*>("text")->text();
}

class StreamSourceCardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tavtest::prepareRemuxTest();
        card = std::make_unique<StreamSourceCard>();
    }

    // Shows the inputs; rows that went are deleted at once.
    void show(const RemuxSource& source,
              const std::map<std::int64_t, std::string>& unsupported = {},
              const std::map<std::int64_t, std::string>& converted = {}) {
        card->setContent(source, unsupported, converted);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QWidget* list() { return card->findChild<QWidget*>("streamList"); }
    QWidget* row(std::int64_t index) {
        return card->findChild<QWidget*>(QStringLiteral("stream-%1").arg(index));
    }

    // Made after the application exists.
    std::unique_ptr<StreamSourceCard> card;
};

}  // namespace

TEST_F(StreamSourceCardTest, LoadingAndFailedStatesShowNoCount) {
    int retries = 0;
    card->onRetry = [&] { ++retries; };
    RemuxSource source{"/media/a b/clip.mkv", RemuxSource::Loading{}, {}};
    show(source);
    EXPECT_EQ(card->findChild<ElidedLabel*>("fileName")->text(), "clip.mkv");
    EXPECT_EQ(card->accessibleName(), "clip.mkv");
    EXPECT_EQ(card->findChild<ElidedLabel*>("folder")->text(), "/media/a b");
    EXPECT_EQ(card->findChild<QLabel*>("selectedCount")->text(), "");
    EXPECT_EQ(card->findChild<QLabel*>("loadingText")->text(),
              "Inspecting video, audio, and subtitle streams\u2026");
    EXPECT_EQ(list(), nullptr);

    source.inspectionState = RemuxSource::Failed{"<b>ffprobe</b> said: Invalid data"};
    show(source);
    auto* message = card->findChild<QLabel*>("failedMessage");
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text(), "<b>ffprobe</b> said: Invalid data");
    EXPECT_EQ(message->textFormat(), Qt::PlainText);
    EXPECT_EQ(card->findChild<QLabel*>("loadingText"), nullptr);
    EXPECT_EQ(card->findChild<QLabel*>("selectedCount")->text(), "");
    card->findChild<QPushButton*>("tryAgainButton")->click();
    EXPECT_EQ(retries, 1);

    // A failure that trying again cannot cure offers no retry.
    source.inspectionState = RemuxSource::Failed{"No streams.", false};
    show(source);
    EXPECT_EQ(card->findChild<QLabel*>("failedMessage")->text(), "No streams.");
    EXPECT_EQ(card->findChild<QPushButton*>("tryAgainButton"), nullptr);
}

TEST_F(StreamSourceCardTest, EveryRowShowsAndKindsAreDivided) {
    show(readySource({makeStream(0, audio, "aac")}, {0}));
    EXPECT_EQ(card->findChildren<QFrame*>("divider").size(), 0);
    EXPECT_NE(card->findChild<QWidget*>("group-audio"), nullptr);
    EXPECT_EQ(card->findChild<QWidget*>("group-video"), nullptr);
    EXPECT_EQ(card->findChild<QWidget*>("group-subtitle"), nullptr);
    const int oneRow = card->sizeHint().height();

    // Twenty rows make the card taller; the page around it scrolls, never the card.
    std::vector<MediaStream> twenty;
    for (int i = 0; i < 20; ++i) {
        twenty.push_back(makeStream(i, i < 2 ? video : (i < 10 ? audio : subtitle), "x"));
    }
    show(readySource(twenty, {}));
    EXPECT_EQ(card->findChildren<QFrame*>("divider").size(), 2);
    EXPECT_GT(card->sizeHint().height(), oneRow + 19 * row(1)->sizeHint().height());
    EXPECT_EQ(card->findChild<QAbstractScrollArea*>(), nullptr);
}

TEST_F(StreamSourceCardTest, GroupsFollowKindOrderWithCountsAndRowsInStreamOrder) {
    show(readySource({makeStream(0, subtitle, "subrip"), makeStream(1, audio, "aac"),
                      makeStream(2, video, "h264"), makeStream(3, audio, "ac3")},
                     {0, 1, 2, 3, 99}));
    auto* column = list()->layout();
    std::vector<QString> groups;
    for (int i = 0; i < column->count(); ++i) {
        if (auto* widget = column->itemAt(i)->widget();
            widget && widget->objectName().startsWith("group-")) {
            groups.push_back(widget->objectName());
            EXPECT_EQ(widget->findChild<QLabel*>("kindName")->text(),
                      widget->objectName() == "group-video"   ? "Video"
                      : widget->objectName() == "group-audio" ? "Audio"
                                                              : "Subtitle");
        }
    }
    EXPECT_EQ(groups, (std::vector<QString>{"group-video", "group-audio", "group-subtitle"}));
    auto* audioGroup = card->findChild<QWidget*>("group-audio");
    EXPECT_EQ(audioGroup->findChild<QLabel*>("kindCount")->text(), "2");
    EXPECT_EQ(audioGroup->findChild<QLabel*>("kindSymbol")->property("symbol"), "waveform");
    EXPECT_EQ(audioGroup->layout()->itemAt(1)->widget()->objectName(), "stream-1");
    EXPECT_EQ(audioGroup->layout()->itemAt(2)->widget()->objectName(), "stream-3");
    // Index 99 is not one of the file's streams.
    EXPECT_EQ(card->findChild<QLabel*>("selectedCount")->text(), "4 of 4 selected");
    EXPECT_EQ(row(1)->findChild<QLabel*>("index")->text(), "#1");
    EXPECT_EQ(row(1)->findChild<ElidedLabel*>("displayTitle")->text(), "Audio stream 1");
    EXPECT_EQ(row(1)->findChild<ElidedLabel*>("technicalSummary")->text(), "AAC \u00B7 2 channels");
}

TEST_F(StreamSourceCardTest, BadgesAndNotesInOrderWithTheirHelp) {
    auto both = makeStream(1, subtitle, "subrip", "eng", "Signs");
    both.isDefault = true;
    both.isForced = true;
    show(readySource({makeStream(0, video, "h264"), both}, {0, 1}),
         {{1, "SUBRIP subtitle is not compatible with the iPhone 17 Pro playback profile."}},
         {{1, "mov_text"}});
    EXPECT_EQ(rowParts(row(1)),
              (std::vector<QString>{"checkBox", "index", "defaultBadge", "forcedBadge",
                                    "omittedNote", "convertNote"}));
    auto* omitted = row(1)->findChild<QWidget*>("omittedNote");
    EXPECT_EQ(pillText(omitted), "Will be omitted");
    EXPECT_EQ(omitted->property("symbol"), "exclamationmark.triangle.fill");
    EXPECT_EQ(omitted->toolTip(),
              "SUBRIP subtitle is not compatible with the iPhone 17 Pro playback profile.");
    EXPECT_EQ(omitted->accessibleName(), "Will be omitted");
    EXPECT_EQ(omitted->accessibleDescription(), omitted->toolTip());
    auto* convert = row(1)->findChild<QWidget*>("convertNote");
    EXPECT_EQ(pillText(convert), "Converts to MOV_TEXT");
    EXPECT_EQ(convert->property("symbol"), "captions.bubble");
    EXPECT_EQ(convert->toolTip(),
              "Only this subtitle stream will be converted. Video and audio remain stream-copy.");
    EXPECT_EQ(pillText(row(1)->findChild<QWidget*>("defaultBadge")), "Default");
    EXPECT_EQ(rowParts(row(0)), (std::vector<QString>{"checkBox", "index"}));
    EXPECT_EQ(card->findChild<QLabel*>("selectedCount")->text(),
              "1 of 2 selected, 1 will be omitted");
}

TEST_F(StreamSourceCardTest, ClicksReportFlipsAndKindChanges) {
    std::vector<std::int64_t> toggles;
    std::vector<std::pair<MediaStreamKind, bool>> kindChanges;
    int removals = 0;
    card->onToggleStream = [&](std::int64_t index) { toggles.push_back(index); };
    card->onSetStreams = [&](MediaStreamKind kind, bool on) { kindChanges.emplace_back(kind, on); };
    card->onRemove = [&] { ++removals; };
    const auto source = readySource(
        {makeStream(0, video, "h264"), makeStream(4, audio, "aac"), makeStream(7, audio, "aac")},
        {0, 4});
    show(source);
    auto* ticked = row(4)->findChild<QCheckBox*>("checkBox");
    ASSERT_TRUE(ticked->isChecked());
    ticked->click();
    EXPECT_EQ(toggles, (std::vector<std::int64_t>{4}));
    EXPECT_TRUE(ticked->isChecked()) << "the box shows the selection it was given";
    EXPECT_FALSE(row(7)->findChild<QCheckBox*>("checkBox")->isChecked());

    // Alike on every group of every card, the buttons' names say which streams they pick.
    auto* audioGroup = card->findChild<QWidget*>("group-audio");
    auto* all = audioGroup->findChild<QPushButton*>("allButton");
    auto* none = audioGroup->findChild<QPushButton*>("noneButton");
    EXPECT_EQ(all->accessibleName(), "Select all audio streams of Episode 1.mkv");
    EXPECT_EQ(none->accessibleName(), "Select no audio streams of Episode 1.mkv");
    EXPECT_EQ(card->findChild<QToolButton*>("removeButton")->accessibleName(),
              "Remove Episode 1.mkv");
    all->click();
    none->click();
    EXPECT_EQ(kindChanges,
              (std::vector<std::pair<MediaStreamKind, bool>>{{audio, true}, {audio, false}}));
    card->findChild<QToolButton*>("removeButton")->click();
    EXPECT_EQ(removals, 1);
    EXPECT_EQ(card->findChild<QWidget*>("removeButton")->toolTip(), "Remove source file");

    // A new selection updates the ticks without rebuilding the rows.
    auto* rowBefore = row(7);
    auto changed = source;
    changed.selectedStreamIndices = {7};
    show(changed);
    EXPECT_EQ(row(7), rowBefore);
    EXPECT_TRUE(row(7)->findChild<QCheckBox*>("checkBox")->isChecked());
    EXPECT_FALSE(row(4)->findChild<QCheckBox*>("checkBox")->isChecked());
    EXPECT_EQ(card->findChild<QLabel*>("selectedCount")->text(), "1 of 3 selected");
}

// A card that changes moves the cards below it and resizes no other; the page hears the height.
TEST(CardColumnTest, CardsStackInOrderAndOnlyTheChangedOneIsResized) {
    tavtest::prepareRemuxTest();
    QWidget page;
    auto* column = new CardColumn(12, &page);
    column->setGeometry(0, 0, 300, 10);
    page.show();
    std::vector<QWidget*> cards;
    for (const int height : {30, 40, 50}) {
        cards.push_back(new QWidget);
        cards.back()->setFixedHeight(height);
    }
    QWidget* a = cards[0];
    QWidget* b = cards[1];
    QWidget* c = cards[2];
    struct Row {
        std::string step;
        std::function<void()> act;
        std::vector<std::pair<QWidget*, QRect>> placed;
        QWidget* resized;
        int height;
    };
    const std::vector<Row> rows{
        {"append",
         [&] {
             for (auto* card : cards) {
                 column->appendCard(card);
             }
         },
         {{a, {0, 0, 300, 30}}, {b, {0, 42, 300, 40}}, {c, {0, 94, 300, 50}}},
         nullptr,
         144},
        {"a card grows",
         [&] {
             b->setFixedHeight(70);
             column->cardChanged(b);
         },
         {{a, {0, 0, 300, 30}}, {b, {0, 42, 300, 70}}, {c, {0, 124, 300, 50}}},
         b,
         174},
        {"a card hides",
         [&] { a->hide(); },
         {{b, {0, 0, 300, 70}}, {c, {0, 82, 300, 50}}},
         nullptr,
         132},
        {"a new order",
         [&] {
             column->setCards({c, b});
         },
         {{c, {0, 0, 300, 50}}, {b, {0, 62, 300, 70}}},
         nullptr,
         132},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.step);
        ResizeCounter counter;
        for (auto* card : cards) {
            counter.watch(card);
        }
        row.act();
        QCoreApplication::processEvents();
        for (const auto& [card, rect] : row.placed) {
            EXPECT_EQ(card->geometry(), rect);
            EXPECT_TRUE(card->isVisible());
            if (row.step != "append") {
                EXPECT_EQ(counter.count(card), card == row.resized ? 1 : 0);
            }
        }
        EXPECT_EQ(column->sizeHint().height(), row.height);
    }
}

namespace {

class RemuxViewTest : public tavtest::FixedProbeRemuxTest {
  protected:
    void SetUp() override {
        FixedProbeRemuxTest::SetUp();
        view = std::make_unique<RemuxView>(*model);
        view->resize(1000, 800);
        view->show();
    }
    void TearDown() override {
        view.reset();
        model.reset();
    }

    template <typename T = QWidget>
    T* find(const char* name) {
        return view->findChild<T*>(name);
    }
    bool shown(const char* name) { return find(name)->isVisibleTo(view.get()); }
    QString statusText(const char* name) { return find(name)->findChild<QLabel*>("text")->text(); }

    std::unique_ptr<RemuxView> view;
};

}  // namespace

TEST_F(RemuxViewTest, EmptyWorkspace) {
    EXPECT_TRUE(shown("emptyState"));
    EXPECT_FALSE(shown("cardList"));
    EXPECT_FALSE(shown("applyToAllBlock"));
    // The disabled buttons beside it say why.
    EXPECT_EQ(statusText("validationMessage"), "Add at least one source file.");
    EXPECT_FALSE(find<QPushButton>("addToQueueButton")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("remuxNowButton")->isEnabled());
    // Without a configured language model the panel says so and offers no draft.
    EXPECT_TRUE(shown("naturalLanguageDraftPanel"));
    EXPECT_EQ(statusText("statusLine"),
              "No local model server is set. Enter its address and model name in Settings to "
              "create drafts, or configure Remux manually.");
    EXPECT_FALSE(find<QPushButton>("createDraftButton")->isEnabled());

    // A cancelled panel adds nothing.
    int panels = 0;
    view->setMediaFileChooser([&] {
        ++panels;
        return std::vector<fs::path>{};
    });
    find<QPushButton>("addFilesButton")->click();
    EXPECT_EQ(panels, 1);
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(find<QPushButton>("addFilesButton")->text(), "Add Files\u2026");
}

TEST_F(RemuxViewTest, CardsFollowSourcesAndApplyToAllNeedsTwo) {
    const auto first =
        add("one.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "aac", "eng")});
    EXPECT_FALSE(shown("emptyState"));
    ASSERT_NE(view->cardFor(first), nullptr);
    EXPECT_FALSE(shown("applyToAllBlock"));

    const auto second =
        add("two.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "aac", "eng")});
    EXPECT_TRUE(shown("applyToAllBlock"));
    auto* toggle = find<QCheckBox>("applyToAllToggle");
    EXPECT_EQ(toggle->toolTip(),
              "Matches stream kind, language, role, title, and technical metadata when possible.");
    toggle->click();
    EXPECT_TRUE(model->appliesIndividualStreamChangesToAllSources());
    view->cardFor(first)->findChild<QWidget*>("stream-1")->findChild<QCheckBox*>()->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown("propagationSummary"));
    EXPECT_EQ(statusText("propagationSummary"),
              "Removed the matching English audio in 1 of 1 other file.");
    EXPECT_EQ(find("propagationSummary")->property("symbol"), "arrow.triangle.branch");
    toggle->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown("propagationSummary")) << "a stored summary hides with the switch";

    // Cards are looked at again only when their source changed on its own; each still shows it.
    const std::vector<std::pair<std::string, std::function<void()>>> rows{
        {"a tick", [&] { model->toggleStream(1, first); }},
        {"a kind", [&] { model->setStreams(audio, false, second); }},
        {"a retried inspection", [&] { model->retryInspection(first); }},
        {"a tick carried to every file",
         [&] {
             model->setAppliesIndividualStreamChangesToAllSources(true);
             model->toggleStream(1, second);
         }},
        {"the container", [&] { model->setContainer(OutputContainer::mp4); }},
    };
    for (const auto& [step, act] : rows) {
        SCOPED_TRACE(step);
        act();
        ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
        QCoreApplication::processEvents();
        for (const auto& source : model->sources()) {
            EXPECT_EQ(view->cardFor(source.url)->source(), source);
        }
    }
    model->setAppliesIndividualStreamChangesToAllSources(false);
    model->takeChangedSources();
    model->toggleStream(0, first);
    EXPECT_EQ(model->takeChangedSources(), (std::set<fs::path>{first}));

    // The card's "remove" reaches the model and the card goes.
    view->cardFor(first)->onRemove();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->cardFor(first), nullptr);
    EXPECT_NE(view->cardFor(second), nullptr);
    EXPECT_FALSE(shown("applyToAllBlock"));
}

TEST_F(RemuxViewTest, OutputControlsWriteTheModel) {
    add("clip.mkv", {makeStream(0, video, "h264")});
    auto* field = find<QLineEdit>("folderField");
    EXPECT_EQ(field->text().toStdString(), folder.path().string());
    EXPECT_EQ(field->placeholderText(), "Output folder path");
    EXPECT_FALSE(model->hasUserSelectedOutputDirectory());
    field->setFocus();
    QTest::keyClick(field, Qt::Key_X);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_TRUE(model->hasUserSelectedOutputDirectory()) << "typing back the old text counts";
    EXPECT_EQ(model->outputDirectoryText(), folder.path().string());

    auto* containers = find<QComboBox>("containerPicker");
    auto* targets = find<QComboBox>("targetPicker");
    ASSERT_EQ(containers->count(), 6);
    EXPECT_EQ(containers->itemText(0), "Same as Input");
    EXPECT_EQ(containers->itemText(5), "WEBM");
    EXPECT_EQ(containers->width(), 170);
    EXPECT_EQ(targets->width(), 220);
    EXPECT_EQ(targets->itemText(1), "iPhone 17 Pro");

    targets->activated(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->container(), OutputContainer::mp4);
    EXPECT_EQ(containers->currentText(), "MP4");
    containers->activated(3);
    targets->activated(0);
    containers->activated(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->container(), std::nullopt);
    EXPECT_EQ(model->playbackTarget(), std::nullopt);
    targets->activated(1);
    containers->activated(3);
    targets->activated(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(containers->currentText(), "MKV") << "a chosen container stays";
}

TEST_F(RemuxViewTest, FooterMessagesWithSymbolsAndColours) {
    add("clip.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "opus"),
                     makeStream(2, subtitle, "subrip"), makeStream(3, subtitle, "dvd_subtitle")});
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    // The new container's output names are checked off the GUI thread first.
    ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(statusText("subtitleNote"),
              "1 selected subtitle stream will be converted to MOV_TEXT. Video and audio will "
              "remain stream-copy.");
    EXPECT_EQ(find("subtitleNote")->property("symbol"), "captions.bubble");
    EXPECT_EQ(find("subtitleNote")->property("color").value<QColor>(), tint::blue());
    EXPECT_EQ(statusText("playbackStatus"),
              "Compatible with iPhone 17 Pro after omitting 1 selected track.");
    EXPECT_EQ(find("playbackStatus")->property("symbol"), "checkmark.shield");
    EXPECT_EQ(find("playbackStatus")->property("color").value<QColor>(), tint::green());
    EXPECT_EQ(find("compatibilitySummary")->property("symbol"), "exclamationmark.triangle.fill");
    EXPECT_EQ(find("compatibilitySummary")->property("color").value<QColor>(), tint::orange());
    EXPECT_FALSE(shown("validationMessage"));
    EXPECT_TRUE(find<QPushButton>("remuxNowButton")->isEnabled());

    model->setContainer(OutputContainer::mkv);
    QCoreApplication::processEvents();
    EXPECT_EQ(statusText("playbackStatus"),
              "iPhone 17 Pro playback requires one of these containers: M4V, MOV, MP4.");
    EXPECT_EQ(find("playbackStatus")->property("symbol"), "xmark.octagon.fill");
    EXPECT_EQ(find("playbackStatus")->property("color").value<QColor>(), tint::red());
    EXPECT_TRUE(shown("validationMessage"));
    EXPECT_EQ(find("validationMessage")->property("symbol"), "info.circle");
    EXPECT_EQ(statusText("validationMessage"), statusText("playbackStatus"));
    EXPECT_FALSE(find<QPushButton>("addToQueueButton")->isEnabled());
    EXPECT_FALSE(find<QPushButton>("remuxNowButton")->isEnabled());
    EXPECT_FALSE(shown("subtitleNote")) << "Matroska converts nothing";
}

TEST_F(RemuxViewTest, OutputClashesShowBeforeAnythingIsQueued) {
    add("a.mkv", {makeStream(0, video, "h264")});
    add("a.mp4", {makeStream(0, video, "h264")});
    std::ofstream(folder / "b-converted.mp4") << "kept";
    struct Row {
        std::string step;
        std::function<void()> act;
        std::optional<QString> message;
    };
    const std::vector<Row> rows{
        {"same output", [&] { model->setContainer(OutputContainer::mp4); },
         QStringLiteral("\u201Ca.mkv\u201D and \u201Ca.mp4\u201D would both be written to "
                        "\u201Ca-converted.mp4\u201D.")},
        {"own extensions", [&] { model->setContainer(std::nullopt); }, std::nullopt},
        {"existing output",
         [&] {
             add("b.mov", {makeStream(0, video, "h264")});
             model->setContainer(OutputContainer::mp4);
             model->removeSource(folder / "a.mp4");
         },
         QStringLiteral("An output named \u201Cb-converted.mp4\u201D already exists. Choose "
                        "another output folder or container, or move the existing file away.")},
        {"output folder that cannot hold files",
         [&] { model->setOutputDirectoryText((folder / "b-converted.mp4").string()); },
         QStringLiteral("\u201Cb-converted.mp4\u201D is not a folder. Choose another output "
                        "folder.")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.step);
        row.act();
        ASSERT_TRUE(tavtest::waitUntil([&] { return !model->isCheckingOutputFolder(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(shown("validationMessage"), row.message.has_value());
        if (row.message) {
            EXPECT_EQ(statusText("validationMessage"), *row.message);
        }
        EXPECT_EQ(find<QPushButton>("remuxNowButton")->isEnabled(), !row.message);
        EXPECT_EQ(find<QPushButton>("addToQueueButton")->isEnabled(), !row.message);
    }
    find<QPushButton>("remuxNowButton")->click();
    EXPECT_EQ(queue->jobs().size(), 0u) << "nothing is queued while a clash shows";
}

TEST_F(RemuxViewTest, UnsupportedStreamsAlertCancelAndContinue) {
    // As a person does: once the view shows the button usable (the model's check may end a turn
    // before the view renders that), it is clicked.
    const auto addToQueue = [&] {
        auto* button = find<QPushButton>("addToQueueButton");
        ASSERT_TRUE(tavtest::waitUntil([&] { return button->isEnabled(); }));
        button->click();
    };
    const auto clip = add("clip.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "aac"),
                                       makeStream(2, subtitle, "dvd_subtitle")});
    model->setContainer(OutputContainer::mp4);

    ASSERT_NO_FATAL_FAILURE(addToQueue());
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->compatibilityAlert() != nullptr; }));
    QMessageBox* alert = view->compatibilityAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), "Unsupported Streams");
    EXPECT_EQ(alert->text().toStdString(), model->unsupportedStreamsAlertMessage());
    alert->button(QMessageBox::Cancel)->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->compatibilityAlert(), nullptr);
    EXPECT_FALSE(model->isShowingCompatibilityConfirmation());
    EXPECT_EQ(model->pendingSubmission(), std::nullopt);
    EXPECT_EQ(model->sources().size(), 1u);
    EXPECT_EQ(model->sources()[0].selectedStreamIndices, (std::set<std::int64_t>{0, 1, 2}));
    EXPECT_TRUE(queue->jobs().empty());

    ASSERT_NO_FATAL_FAILURE(addToQueue());
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->compatibilityAlert() != nullptr; }));
    alert = view->compatibilityAlert();
    ASSERT_NE(alert, nullptr);
    alert->findChild<QPushButton*>("continueButton")->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(queue->jobs().size(), 1u);
    const auto* request = queue->jobs()[0].request.as<RemuxRequest>();
    ASSERT_EQ(request->selectedStreams.size(), 2u);
    EXPECT_EQ(request->input, clip);
    EXPECT_FALSE(queue->isWorkerActive());
    EXPECT_TRUE(shown("emptyState"));
    EXPECT_EQ(find<QLineEdit>("folderField")->text(), "");

    // Only a title is lost: no stream is dropped, and the alert says so.
    add("titled.mkv", {makeStream(0, video, "h264", "eng", "Main")});
    model->setContainer(OutputContainer::mov);
    ASSERT_NO_FATAL_FAILURE(addToQueue());
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->compatibilityAlert() != nullptr; }));
    EXPECT_EQ(view->compatibilityAlert()->windowTitle(), "Properties Not Kept");
    EXPECT_EQ(view->compatibilityAlert()->findChild<QPushButton*>("continueButton")->text(),
              "Continue Without Them");
}

TEST_F(RemuxViewTest, ManyFilesGetTheirCardsInOrderOverSeveralTurns) {
    std::vector<fs::path> files;
    for (int i = 0; i < 40; ++i) {
        const auto path = folder / ("file-" + std::to_string(100 + i) + ".mkv");
        probe->streams[path] = {makeStream(0, video, "h264")};
        files.push_back(path);
    }
    model->addFiles(files);
    QCoreApplication::processEvents();
    EXPECT_LT(std::size_t(view->findChildren<StreamSourceCard*>().size()), files.size())
        << "cards come a few per turn";
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return model->runningInspectionCount() == 0 &&
               std::size_t(view->findChildren<StreamSourceCard*>().size()) == files.size() &&
               view->cardFor(files.back())->findChild<QCheckBox*>() != nullptr;
    }));

    // Cards stand in the order of the sources, top to bottom.
    const auto cardsTopToBottom = [&] {
        std::vector<std::pair<int, fs::path>> placed;
        for (const auto& file : model->sources()) {
            auto* card = view->cardFor(file.url);
            placed.emplace_back(card->mapTo(view.get(), QPoint(0, 0)).y(), file.url);
        }
        std::sort(placed.begin(), placed.end());
        std::vector<fs::path> order;
        for (const auto& entry : placed) {
            order.push_back(entry.second);
        }
        return order;
    };
    QCoreApplication::processEvents();
    EXPECT_EQ(cardsTopToBottom(), files);

    model->removeSource(files[3]);
    model->removeSource(files[20]);
    files.erase(files.begin() + 20);
    files.erase(files.begin() + 3);
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->cardFor(files.front()) != nullptr; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(view->cardFor(folder / "file-103.mkv"), nullptr);
    EXPECT_EQ(cardsTopToBottom(), files);
    for (const auto& file : files) {
        EXPECT_TRUE(view->cardFor(file)->isVisibleTo(view.get())) << file;
        EXPECT_TRUE(view->cardFor(file)->findChild<QCheckBox*>()->isVisibleTo(view.get())) << file;
    }
}

// A new file's card and rows take their place without laying out the cards already shown, the
// cost that grew with every card; every card ends at the column's width.
TEST_F(RemuxViewTest, AddingAFileResizesNoShownCard) {
    std::vector<fs::path> files;
    for (const char* name : {"a.mkv", "b.mkv", "c.mkv"}) {
        files.push_back(add(name, {makeStream(0, video, "h264"), makeStream(1, audio, "aac")}));
    }
    // Cards share a time budget per turn and the page lays out later: the column has taken its
    // final height once every card stands at the height it asks for, one gap apart.
    auto* column = find("cardList");
    const auto laidOut = [&] {
        int bottom = -12;
        for (const auto& file : files) {
            auto* card = view->cardFor(file);
            if (card == nullptr || card->findChild<QCheckBox*>() == nullptr) {
                return false;
            }
            bottom += 12 + card->sizeHint().height();
        }
        return column->height() == bottom;
    };
    // Counted only from then on: the first three have been placed before the fourth comes.
    ASSERT_TRUE(tavtest::waitUntil(laidOut));
    QCoreApplication::processEvents();
    ResizeCounter counter;
    for (const auto& file : files) {
        counter.watch(view->cardFor(file));
        counter.watch(view->cardFor(file)->findChild<QWidget*>("stream-1"));
    }
    const auto last = add("d.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "aac")});
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return view->cardFor(last) && view->cardFor(last)->findChild<QCheckBox*>(); }));
    QCoreApplication::processEvents();
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_EQ(counter.count(view->cardFor(file)), 0);
        EXPECT_EQ(counter.count(view->cardFor(file)->findChild<QWidget*>("stream-1")), 0);
    }

    // A card whose rows come after it was placed (inspected again) grows, and the cards below
    // make room: every card as tall as it asks, as wide as the column, one gap apart.
    files.push_back(last);
    model->retryInspection(files[1]);
    ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
    ASSERT_TRUE(tavtest::waitUntil(laidOut));
    int top = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        auto* card = view->cardFor(file);
        EXPECT_EQ(card->geometry(), QRect(0, top, column->width(), card->sizeHint().height()));
        top = card->geometry().bottom() + 1 + 12;
    }
    EXPECT_EQ(column->height(), top - 12);
}

// Pressed through the accessibility interface, Add to Queue takes the cards away under a reader
// that keeps reading the tree; then every Tab stop is a named control.
TEST_F(RemuxViewTest, ScreenReaderPressesAddToQueueAndWalksTheControls) {
    QAccessible::setActive(true);
    // Reads the object of every announcement at once, as a screen reader's bridge does.
    const auto previousHandler = QAccessible::installUpdateHandler(
        [](QAccessibleEvent* event) { walkAccessibleTree(event->accessibleInterface()); });
    const auto one = add("one.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "aac")});
    add("two.mkv", {makeStream(0, video, "h264")});

    int stops = 0;
    for (QWidget* at = view->nextInFocusChain(); at != view.get(); at = at->nextInFocusChain()) {
        if ((at->focusPolicy() & Qt::TabFocus) && at->isEnabled() && at->isVisibleTo(view.get())) {
            ++stops;
            SCOPED_TRACE(at->metaObject()->className() + (" " + at->objectName().toStdString()));
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(at)->text(QAccessible::Name).isEmpty());
            EXPECT_EQ(qobject_cast<QScrollArea*>(at), nullptr) << "containers take no focus";
        }
    }
    EXPECT_GE(stops, 14);

    view->cardFor(one)->findChild<QCheckBox*>()->setFocus();
    const auto walkView = [&] {
        return walkAccessibleTree(QAccessible::queryAccessibleInterface(view.get()));
    };
    const int before = walkView();
    QAccessible::queryAccessibleInterface(find<QPushButton>("addToQueueButton"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(tavtest::waitUntil([&] { return walkView() > 0 && queue->jobs().size() == 2u; }));
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_LT(walkView(), before);
    EXPECT_TRUE(shown("emptyState"));
    QAccessible::installUpdateHandler(previousHandler);
    QAccessible::setActive(false);
}
