// The natural-language draft of the Remux workspace, with a parser held at a gate.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <condition_variable>

#include "model/CancellationError.h"
#include "remux/RemuxNaturalLanguageDraftView.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxView.h"

using namespace tavrolin;
using tavtest::makeStream;
namespace fs = std::filesystem;

namespace {

// Waits inside `parse` until the test gives an answer (a plan or an error) or the request is
// stopped; answers go to waiting calls in order, a stopped call takes none.
class GatedParser final : public RemuxIntentParsing {
  public:
    RemuxIntentParserAvailability availability() const override {
        std::lock_guard lock(mutex_);
        return available_;
    }
    RemuxIntentPlan parse(const std::string& instruction, std::stop_token stop) const override {
        std::unique_lock lock(mutex_);
        instructions_.push_back(instruction);
        answered_.wait(lock, stop, [&] { return !answers_.empty(); });
        if (stop.stop_requested()) {
            throw CancellationError();
        }
        const Answer answer = answers_.front();
        answers_.erase(answers_.begin());
        if (answer.error) {
            throw std::runtime_error(*answer.error);
        }
        return answer.plan;
    }

    void setAvailability(RemuxIntentParserAvailability availability) {
        std::lock_guard lock(mutex_);
        available_ = std::move(availability);
    }
    // Answers the next waiting call, in call order.
    void answer(RemuxIntentPlan plan, std::optional<std::string> error = std::nullopt) {
        {
            std::lock_guard lock(mutex_);
            answers_.push_back({std::move(plan), std::move(error)});
        }
        answered_.notify_all();
    }
    std::vector<std::string> instructions() const {
        std::lock_guard lock(mutex_);
        return instructions_;
    }

  private:
    struct Answer {
        RemuxIntentPlan plan;
        std::optional<std::string> error;
    };
    mutable std::mutex mutex_;
    mutable std::condition_variable_any answered_;
    mutable std::vector<std::string> instructions_;
    mutable std::vector<Answer> answers_;
    RemuxIntentParserAvailability available_ = RemuxIntentParserAvailability::available();
};

RemuxIntentPlan englishAudioForPhone() {
    RemuxStreamOperation operation;
    operation.kind = MediaStreamKind::audio;
    operation.operation = RemuxStreamSetOperation::retainOnly;
    operation.predicate.languages = {"English"};
    return {
        RemuxContainerPreference::sameAsInput(), RemuxPlaybackPreference::iPhone17Pro, {operation}};
}

class RemuxDraftTest : public tavtest::FixedProbeRemuxTest {
  protected:
    void SetUp() override {
        FixedProbeRemuxTest::SetUp();
        parser = std::make_shared<GatedParser>();
        model->setIntentParser(parser);
        movie = add("movie.mkv", {makeStream(0, MediaStreamKind::video, "h264"),
                                  makeStream(1, MediaStreamKind::audio, "aac", "eng"),
                                  makeStream(2, MediaStreamKind::audio, "aac", "fre"),
                                  makeStream(3, MediaStreamKind::subtitle, "subrip", "eng")});
        model->setNaturalLanguageInstruction(" \n only English audio\t\n");
    }

    bool created() {
        return tavtest::waitUntil([&] { return !model->isCreatingNaturalLanguageDraft(); });
    }

    std::shared_ptr<GatedParser> parser;
    fs::path movie;
    tavtest::TempDir output;
};

}  // namespace

TEST_F(RemuxDraftTest, WhenADraftCanBeRequested) {
    EXPECT_TRUE(model->canCreateNaturalLanguageDraft());
    struct Row {
        const char* name;
        std::function<void()> change;
        std::function<void()> undo;
    };
    const std::vector<Row> rows{
        {"blank instruction", [&] { model->setNaturalLanguageInstruction(" \n\u2003"); },
         [&] { model->setNaturalLanguageInstruction("x"); }},
        {"parser unavailable",
         [&] { parser->setAvailability(RemuxIntentParserAvailability::unavailable("no")); },
         [&] { parser->setAvailability(RemuxIntentParserAvailability::available()); }},
        {"a source that failed",
         [&] {
             probe->failures[folder / "bad.mkv"] = "broken";
             add("bad.mkv", {});
         },
         [&] { model->removeSource(folder / "bad.mkv"); }},
        {"no sources", [&] { model->removeSource(movie); },
         [&] { movie = add("movie.mkv", probe->streams.at(movie)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.change();
        EXPECT_FALSE(model->canCreateNaturalLanguageDraft());
        model->createNaturalLanguageDraft();
        EXPECT_FALSE(model->isCreatingNaturalLanguageDraft());
        row.undo();
        EXPECT_TRUE(model->canCreateNaturalLanguageDraft());
    }
    EXPECT_TRUE(parser->instructions().empty());
}

TEST_F(RemuxDraftTest, CreatingReviewingFailingAndApplying) {
    model->createNaturalLanguageDraft();
    EXPECT_TRUE(model->isCreatingNaturalLanguageDraft());
    EXPECT_FALSE(model->canCreateNaturalLanguageDraft());
    ASSERT_TRUE(tavtest::waitUntil([&] { return parser->instructions().size() == 1; }));
    EXPECT_EQ(parser->instructions()[0], "only English audio");
    // Controls changed meanwhile do not reach the request.
    model->setContainer(OutputContainer::mkv);
    parser->answer(englishAudioForPhone());
    ASSERT_TRUE(created());
    ASSERT_TRUE(model->naturalLanguageDraft());
    EXPECT_EQ(model->naturalLanguageDraft()->instruction, "only English audio");
    EXPECT_EQ(model->naturalLanguageDraft()->changes,
              (std::vector<std::string>{"Use the MP4 container.",
                                        "Check the tracks against iPhone 17 Pro playback.",
                                        "movie.mkv: keep 1 English audio track."}));

    model->toggleStream(3, movie);
    model->applyNaturalLanguageDraft();
    EXPECT_EQ(model->container(), OutputContainer::mp4);
    EXPECT_EQ(model->playbackTarget(), PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(model->sources()[0].selectedStreamIndices, (std::set<std::int64_t>{0, 1, 3}));
    EXPECT_EQ(model->appliedNaturalLanguageSummary(),
              "Applied 3 draft changes. Review the controls before queueing.");
    EXPECT_FALSE(model->naturalLanguageDraft());
    model->toggleStream(2, movie);
    EXPECT_FALSE(model->appliedNaturalLanguageSummary()) << "manual edits clear the summary";

    // A failure is shown; discarding keeps the instruction.
    model->createNaturalLanguageDraft();
    parser->answer({}, "The model server could not be reached.");
    ASSERT_TRUE(created());
    EXPECT_EQ(model->naturalLanguageError(), "The model server could not be reached.");
    model->discardNaturalLanguageDraft();
    EXPECT_FALSE(model->naturalLanguageError());
    EXPECT_EQ(model->naturalLanguageInstruction(), " \n only English audio\t\n");

    // Same as input under a kept target is what the request asked for.
    RemuxIntentPlan subtitlesOnly;
    subtitlesOnly.container = RemuxContainerPreference::sameAsInput();
    subtitlesOnly.operations.resize(1);
    subtitlesOnly.operations[0].kind = MediaStreamKind::subtitle;
    subtitlesOnly.operations[0].operation = RemuxStreamSetOperation::removeAll;
    model->createNaturalLanguageDraft();
    parser->answer(subtitlesOnly);
    ASSERT_TRUE(created());
    model->applyNaturalLanguageDraft();
    EXPECT_EQ(model->appliedNaturalLanguageSummary(),
              "Applied 2 draft changes. Review the controls before queueing.");
    EXPECT_EQ(model->container(), std::nullopt);
    EXPECT_EQ(model->playbackTarget(), PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(model->sources()[0].selectedStreamIndices, (std::set<std::int64_t>{0, 1, 2}));

    // One change: the singular sentence.
    subtitlesOnly.operations[0].operation = RemuxStreamSetOperation::retainAll;
    model->createNaturalLanguageDraft();
    parser->answer(subtitlesOnly);
    ASSERT_TRUE(created());
    model->applyNaturalLanguageDraft();
    EXPECT_EQ(model->appliedNaturalLanguageSummary(),
              "Applied 1 draft change. Review the controls before queueing.");
}

TEST_F(RemuxDraftTest, SourceChangesAndQueueingInvalidateTheDraft) {
    struct Row {
        const char* name;
        std::function<void()> action;
    };
    const std::vector<Row> rows{
        {"add", [&] { add("second.mkv", {makeStream(0, MediaStreamKind::video, "h264")}); }},
        {"remove", [&] { model->removeSource(folder / "second.mkv"); }},
        {"retry",
         [&] {
             model->retryInspection(movie);
             ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
         }},
        {"queue",
         [&] {
             model->setOutputDirectoryText(output.path().string());
             ASSERT_EQ(model->validationMessage(), std::nullopt);
             ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::queue));
             ASSERT_TRUE(model->sources().empty());
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // A draft under review goes, and so does a request still running.
        model->createNaturalLanguageDraft();
        parser->answer(englishAudioForPhone());
        ASSERT_TRUE(created());
        ASSERT_TRUE(model->naturalLanguageDraft());
        model->createNaturalLanguageDraft();
        ASSERT_TRUE(model->isCreatingNaturalLanguageDraft());
        row.action();
        EXPECT_FALSE(model->isCreatingNaturalLanguageDraft());
        EXPECT_FALSE(model->naturalLanguageDraft());
        EXPECT_FALSE(model->naturalLanguageError());
        tavtest::processEventsFor(std::chrono::milliseconds(30));
        EXPECT_FALSE(model->naturalLanguageDraft()) << "the stopped request's result is dropped";
    }

    // A stopped request that ends late leaves the newer request's state alone: the removal
    // and the new request happen in one turn, so the stopped one reports after it.
    add("kept.mkv", {makeStream(0, MediaStreamKind::video, "h264")});
    const auto late = add("late.mkv", {makeStream(0, MediaStreamKind::video, "h264")});
    const auto calls = parser->instructions().size();
    model->createNaturalLanguageDraft();
    ASSERT_TRUE(tavtest::waitUntil([&] { return parser->instructions().size() == calls + 1; }));
    model->removeSource(late);
    model->createNaturalLanguageDraft();
    ASSERT_TRUE(tavtest::waitUntil([&] { return parser->instructions().size() == calls + 2; }));
    tavtest::processEventsFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(model->isCreatingNaturalLanguageDraft());
    parser->answer(englishAudioForPhone());
    ASSERT_TRUE(created());
    EXPECT_TRUE(model->naturalLanguageDraft());
}

TEST_F(RemuxDraftTest, PanelShowsEachState) {
    RemuxView view(*model);
    view.resize(900, 900);
    view.show();
    auto* panel = view.draftPanel();
    const auto button = [&](const char* name) { return panel->findChild<QPushButton*>(name); };
    const auto shown = [&](const char* name) {
        return panel->findChild<QWidget*>(name)->isVisibleTo(panel);
    };
    const auto rows = [&](const char* name) {
        QStringList texts;
        for (auto* label : panel->findChild<QWidget*>(name)->findChildren<QLabel*>("text")) {
            texts << label->text();
        }
        return texts;
    };
    EXPECT_EQ(panel->findChild<QPlainTextEdit*>("instructionField")->toPlainText(),
              " \n only English audio\t\n");
    EXPECT_EQ(panel->findChild<QWidget*>("statusLine")->findChild<QLabel*>("text")->text(),
              "The instruction is processed on this computer. No filename or track metadata is "
              "sent to the model.");

    button("createDraftButton")->click();
    view.refresh();
    EXPECT_EQ(button("createDraftButton")->text(), "Creating\u2026");
    EXPECT_FALSE(button("createDraftButton")->isEnabled());
    EXPECT_TRUE(shown("progressRow"));
    // Cancel ends the request silently and keeps the instruction for another try.
    button("cancelDraftButton")->click();
    view.refresh();
    EXPECT_FALSE(shown("progressRow"));
    EXPECT_FALSE(model->naturalLanguageError());
    EXPECT_EQ(model->naturalLanguageInstruction(), " \n only English audio\t\n");
    button("createDraftButton")->click();
    parser->answer(englishAudioForPhone());
    ASSERT_TRUE(created());
    view.refresh();
    EXPECT_TRUE(shown("draftBlock"));
    EXPECT_FALSE(shown("progressRow"));
    EXPECT_EQ(rows("planRows"), QStringList{"Keep only the English audio tracks."});
    EXPECT_EQ(rows("changeRows").size(), 3);
    EXPECT_TRUE(rows("warningRows").isEmpty());
    EXPECT_TRUE(button("applyDraftButton")->isEnabled());
    button("applyDraftButton")->click();
    view.refresh();
    EXPECT_FALSE(shown("draftBlock"));
    EXPECT_EQ(panel->findChild<QWidget*>("appliedSummary")->findChild<QLabel*>("text")->text(),
              "Applied 3 draft changes. Review the controls before queueing.");

    // Only warnings: nothing to apply, but Discard works.
    model->createNaturalLanguageDraft();
    parser->answer(englishAudioForPhone());
    ASSERT_TRUE(created());
    view.refresh();
    EXPECT_EQ(rows("warningRows"),
              QStringList{"The current controls already match the interpreted plan. Nothing "
                          "needs to be applied."});
    EXPECT_FALSE(button("applyDraftButton")->isEnabled());
    button("discardButton")->click();
    view.refresh();
    EXPECT_FALSE(shown("draftBlock"));
    EXPECT_FALSE(shown("appliedSummary"));
}
