// A check of the output folder that stalls (a hung network mount) never holds the window: the
// Split page says it is checking, keeps its queue button off and goes on serving events, and a
// newer folder's answer is not overwritten by the stalled one's.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <condition_variable>
#include <mutex>

#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitView.h"
#include "joinsplit/SplitViewModel.h"
#include "joinsplit_ui/PreviewTestSupport.h"
#include "model/OutputFolderCheck.h"
#include "remux/RemuxTestSupport.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// Holds every check that reaches it until opened (or, should the check run on the GUI thread
// after all, until a generous bound, so the test fails instead of hanging).
class Gate {
  public:
    void pass() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.wait_for(lock, std::chrono::seconds(30), [&] { return open_; });
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
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int waiting_ = 0;
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
    JobQueueViewModel queue(std::make_shared<tavtest::UnusedProcessor>());
    SplitViewModel model(queue, std::make_shared<tavtest::GatedPreviewService>());
    model.setOutputFolderProbe([gate, stalled, late](const fs::path& checked) {
        if (checked != stalled) {
            return outputFolderProblem(checked);
        }
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
    chosen = good;
    model.chooseOutputDirectory();
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(std::nullopt); }));
    gate->set(false);
    chosen = stalled;
    model.chooseOutputDirectory();
    ASSERT_TRUE(tavtest::waitUntil([&] { return gate->waiting() == 1; }));
    chosen = good;
    model.chooseOutputDirectory();
    ASSERT_TRUE(tavtest::waitUntil([&] { return shows(std::nullopt); }));
    EXPECT_EQ(gate->waiting(), 1);
    gate->set(true);
    ASSERT_TRUE(tavtest::waitUntil([&] { return gate->waiting() == 0; }));
    tavtest::processEventsFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(shows(std::nullopt));

    queueButton->click();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue.jobs().size() == 1u; }));
    EXPECT_TRUE(fs::is_empty(good)) << "the probe leaves nothing";
}
