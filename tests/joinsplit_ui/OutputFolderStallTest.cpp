// A check of the output folder that stalls (a hung network mount) never holds the window: the
// pages say they are checking, keep queueing waiting and go on serving events, a newer folder's
// answer is not overwritten by the stalled one's, the stalled folder asked again gets no second
// thread, and a checker goes without waiting for it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "joinsplit/JoinViewModel.h"
#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitView.h"
#include "joinsplit/SplitViewModel.h"
#include "model/OutputFolderCheck.h"
#include "remux/RemuxTestSupport.h"
#include "support/IdleServices.h"
#include "support/PreviewTestSupport.h"
#include "support/SaveDialogAnswer.h"
#include "transcription/TranscriptionViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Holds every check that reaches it until opened (or, should the check run on the GUI thread
// after all, until a generous bound, so the test fails instead of hanging).
class Gate {
  public:
    explicit Gate(std::chrono::seconds bound = std::chrono::seconds(30)) : bound_(bound) {}
    void pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait_for(lock, bound_, [&] { return open_; });
        --waiting_;
    }
    void set(bool open) {
        {
            const std::lock_guard lock(mutex_);
            open_ = open;
        }
        changed_.notify_all();
    }
    int waiting() {
        const std::lock_guard lock(mutex_);
        return waiting_;
    }

  private:
    std::chrono::seconds bound_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
};

// Counts turns of the event loop.
struct Ticks {
    Ticks() {
        QObject::connect(&timer, &QTimer::timeout, [this] { ++count; });
        timer.start(5);
    }
    int count = 0;
    QTimer timer;
};

}  // namespace

TEST(OutputFolderStall, AStalledCheckLeavesTheWindowServingAndTheQueueWaiting) {
    tavtest::prepareRemuxTest();
    tavtest::TempDir folder;
    const fs::path stalled = folder / "stalled";
    const fs::path good = folder / "good";
    fs::create_directories(stalled);
    fs::create_directories(good);
    const std::string late = "\u201Cstalled\u201D answered late.";
    auto gate = std::make_shared<Gate>();
    auto asked = std::make_shared<std::atomic<int>>(0);
    JobQueueViewModel queue(std::make_shared<tavtest::UnusedProcessor>());
    SplitViewModel model(queue, std::make_shared<tavtest::GatedPreviewService>());
    model.setOutputFolderProbe([gate, asked, stalled, late](const fs::path& checked) {
        if (checked != stalled) {
            return outputFolderProblem(checked);
        }
        ++*asked;
        gate->pass();
        return std::optional(late);
    });
    fs::path chosen;
    model.setFolderChooser([&](const auto&) { return std::optional(chosen); });
    SplitView view(model);
    view.show();
    auto* validation = view.editor()->findChild<QLabel*>("validationMessage");
    auto* queueButton = view.editor()->findChild<QPushButton*>("queueButton");
    const auto shows = [&](const std::optional<std::string>& message) {
        return validation->isVisibleTo(view.editor()) == message.has_value() &&
               (!message || validation->text().toStdString() == *message) &&
               queueButton->isEnabled() == !message;
    };
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);

    model.addFiles({folder / "a.mp4"});
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(std::nullopt); }));

    // Stalled: the page says so and the event loop keeps serving while the probe hangs.
    chosen = stalled;
    model.chooseOutputDirectory();
    EXPECT_FALSE(queueButton->isEnabled());
    ASSERT_TRUE(tavtest::waitUntil([&] { return gate->waiting() == 1; }));
    const int ticksWhenStalled = ticks;
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return ticks >= ticksWhenStalled + 20 && shows(std::string(checkingFolderText)); }));
    EXPECT_EQ(gate->waiting(), 1);
    gate->set(true);
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(late); }));

    // A newer folder answers while the old check still hangs; the late answer is dropped.
    // Asked again, with other names too, the hung folder gets no second thread: the newest
    // question waits for the first check and is asked once that answers.
    chosen = good;
    model.chooseOutputDirectory();
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(std::nullopt); }));
    gate->set(false);
    *asked = 0;
    for (const auto& [folder, container] : {std::pair{stalled, OutputContainer::mkv},
                                            {good, OutputContainer::mp4},
                                            {stalled, OutputContainer::mov}}) {
        chosen = folder;
        model.chooseOutputDirectory();
        model.setContainer(container);
        model.chooseOutputDirectory();
        if (folder == good) {
            ASSERT_TRUE(tavtest::waitUntil([&] { return shows(std::nullopt); }));
        }
    }
    const int ticksWhenAskedAgain = ticks;
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return ticks >= ticksWhenAskedAgain + 20 &&
               (shows(std::string(checkingFolderText)) || shows(folderNotAnsweringText(stalled)));
    }));
    EXPECT_EQ(gate->waiting(), 1);
    EXPECT_EQ(*asked, 1);
    gate->set(true);
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(late); }));
    EXPECT_EQ(*asked, 2);
    chosen = good;
    model.chooseOutputDirectory();
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(std::nullopt); }));

    queueButton->click();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue.jobs().size() == 1u; }));
    EXPECT_TRUE(fs::is_empty(good)) << "the probe leaves nothing";
}

// Quit never waits for a folder: the checker goes while its probe still blocks, the probe's
// late answer reaches no one, and the abandoned thread ends on its own once the mount answers.
TEST(OutputFolderStall, ACheckerGoesWithoutWaitingForItsStalledProbe) {
    tavtest::prepareRemuxTest();
    auto gate = std::make_shared<Gate>(std::chrono::seconds(10));
    auto heldByProbe = std::make_shared<int>();
    const std::weak_ptr<int> probeAlive = heldByProbe;
    bool answered = false;
    auto checker = std::make_unique<OutputFolderChecker>();
    checker->setProbe([gate, heldByProbe = std::move(heldByProbe)](const fs::path&) {
        gate->pass();
        return std::optional<std::string>("late");
    });
    checker->check({"/stalled"}, false, [&](const auto&) { answered = true; });
    ASSERT_TRUE(tavtest::waitUntil([&] { return gate->waiting() == 1; }));
    checker.reset();
    EXPECT_EQ(gate->waiting(), 1) << "the checker went before its probe answered";
    gate->set(true);
    ASSERT_TRUE(tavtest::waitUntil([&] { return probeAlive.expired(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(answered);
}

// Remux, Join and Transcribe ask about the folder and the outputs' names off the GUI thread:
// while that stalls, the page says it is checking and queues nothing; the answer queues the job
// later. Join's save dialog hands back the typed name without asking the folder itself.
TEST(OutputFolderStall, EveryPageQueuesOnceAStalledCheckAnswers) {
    tavtest::prepareRemuxTest();
    tavtest::TempDir folder;
    const auto& media = tavtest::TestMedia::shared();
    auto gate = std::make_shared<Gate>();
    const OutputFolderChecker::Probe probe = [gate](const fs::path&) {
        gate->pass();
        return std::optional<std::string>();
    };
    JobQueueViewModel queue(std::make_shared<tavtest::IdleProcessor>());
    RemuxViewModel remux(queue, tavtest::realProbe());
    remux.setOutputFolderProbe(probe);
    JoinViewModel join(queue, tavtest::realProbe());
    join.setOutputFolderProbe(probe);
    TranscriptionViewModel transcribe(
        TranscriptionViewModel::Services{
            tavtest::realProbe(), std::make_shared<tavtest::NoTranscriber>(),
            std::make_shared<tavtest::NoSummaries>(), std::make_shared<SubtitleFileExporter>(),
            std::make_shared<InMemoryPreferencesStore>()},
        queue,
        TranscriptionViewModel::Panels{[&](const std::string&, OutputContainer, const auto&) {
                                           return std::optional(folder / "t-out.mkv");
                                       },
                                       {}});
    transcribe.setOutputFolderProbe(probe);
    struct Row {
        std::string page;
        std::function<void()> setUp;
        std::function<void()> act;
        std::function<std::optional<std::string>()> shown;
    };
    const std::vector<Row> rows{
        {"Remux",
         [&] {
             remux.addFiles({tavtest::copyMedia(media.mp4ClipA, folder, "r.mp4")});
             ASSERT_TRUE(tavtest::waitUntil([&] { return remux.runningInspectionCount() == 0; }));
         },
         [&] { remux.submit(RemuxViewModel::SubmissionMode::queue); },
         [&] { return remux.validationMessage(); }},
        {"Join",
         [&] {
             join.addFiles({tavtest::copyMedia(media.mp4ClipA, folder, "a.mp4"),
                            tavtest::copyMedia(media.mp4ClipB, folder, "b.mp4")});
             ASSERT_TRUE(tavtest::waitUntil([&] { return join.runningInspectionCount() == 0; }));
         },
         [&] {
             tavtest::answerSaveDialog("j");
             join.chooseOutputAndQueue();
         },
         [&] { return join.outputProblem(); }},
        {"Transcribe",
         [&] {
             transcribe.addSources({tavtest::copyMedia(media.matroska, folder, "t.mkv")});
             ASSERT_TRUE(tavtest::waitUntil([&] { return !transcribe.isInspecting(); }));
             transcribe.setCues({{1, 0.2, 0.9, "hello", {}}});
         },
         [&] { transcribe.exportSelectedMedia(); }, [&] { return transcribe.state().message; }},
    };
    Ticks ticks;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.page);
        gate->set(true);
        row.setUp();
        ASSERT_TRUE(tavtest::waitUntil([&] { return row.shown() == std::nullopt; }));
        gate->set(false);
        const auto jobs = queue.jobs().size();
        row.act();
        ASSERT_TRUE(tavtest::waitUntil([&] { return gate->waiting() == 1; }));
        const int ticksWhenStalled = ticks.count;
        ASSERT_TRUE(tavtest::waitUntil([&] {
            return ticks.count >= ticksWhenStalled + 20 &&
                   row.shown() == std::string(checkingFolderText);
        }));
        EXPECT_EQ(queue.jobs().size(), jobs);
        gate->set(true);
        ASSERT_TRUE(tavtest::waitUntil([&] { return queue.jobs().size() == jobs + 1; }));
    }
    EXPECT_TRUE(std::any_of(queue.jobs().begin(), queue.jobs().end(), [&](const auto& job) {
        return job.request.output() == folder / "j.mp4";
    })) << "the name typed in the dialog, with the container's extension";
}

// A hung folder holds no control for good: Transcribe's Export SRT… there says after a while
// that the folder does not answer and frees the exports; another folder chosen then exports.
TEST(OutputFolderStall, AFolderThatDoesNotAnswerFreesTranscribesExports) {
    tavtest::prepareRemuxTest();
    tavtest::TempDir folder;
    const fs::path hung = folder / "hung";
    fs::create_directories(hung);
    auto gate = std::make_shared<Gate>(std::chrono::seconds(60));
    JobQueueViewModel queue(std::make_shared<tavtest::IdleProcessor>());
    fs::path chosen = hung / "talk.srt";
    TranscriptionViewModel transcribe(
        TranscriptionViewModel::Services{
            tavtest::realProbe(), std::make_shared<tavtest::NoTranscriber>(),
            std::make_shared<tavtest::NoSummaries>(), std::make_shared<SubtitleFileExporter>(),
            std::make_shared<InMemoryPreferencesStore>()},
        queue, TranscriptionViewModel::Panels{{}, [&](const auto&, auto, const auto&) {
                                                  return std::optional(chosen);
                                              }});
    transcribe.setOutputFolderProbe([gate, hung](const fs::path& checked) {
        if (checked == hung) {
            gate->pass();
        }
        return outputFolderProblem(checked);
    });
    transcribe.addSources(
        {tavtest::copyMedia(tavtest::TestMedia::shared().matroska, folder, "t.mkv")});
    ASSERT_TRUE(tavtest::waitUntil([&] { return !transcribe.isInspecting(); }));
    transcribe.setCues({{1, 0.2, 0.9, "hello", {}}});

    transcribe.exportSubtitles();
    ASSERT_TRUE(tavtest::waitUntil([&] { return gate->waiting() == 1; }));
    EXPECT_TRUE(transcribe.isCheckingOutputFolder());
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return transcribe.state().errorMessage == folderNotAnsweringText(hung); }, 60s));
    EXPECT_FALSE(transcribe.isCheckingOutputFolder());
    EXPECT_EQ(gate->waiting(), 1) << "the folder still hangs";

    chosen = folder / "talk.srt";
    transcribe.exportSubtitles();
    ASSERT_TRUE(tavtest::waitUntil([&] { return fs::exists(folder / "talk.srt"); }, 60s));
    EXPECT_TRUE(tavtest::waitUntil(
        [&] { return transcribe.state().message == std::string("Exported talk.srt."); }));
    gate->set(true);
}
