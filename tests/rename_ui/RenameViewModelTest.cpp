// The Sequence Rename workspace model on real folders.
#include <gtest/gtest.h>

#include <functional>

#include "model/Uuid.h"
#include "rename/RenamesInProgress.h"
#include "rename_ui/RenameTestSupport.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

class RenameViewModelTest : public ::testing::Test, protected tavtest::RenameFixture {
  protected:
    std::vector<std::string> fileNames() const {
        std::vector<std::string> names;
        for (const auto& file : model->files()) {
            names.push_back(file.filename().string());
        }
        return names;
    }
    std::vector<std::string> planNames() const {
        std::vector<std::string> names;
        for (const auto& item : model->plan()) {
            names.push_back(item.source.filename().string() + " > " +
                            item.destination.filename().string());
        }
        return names;
    }
};

}  // namespace

TEST_F(RenameViewModelTest, AddingKeepsNewFilesWithExtensionsSortedAfterTheListedOnes) {
    struct Row {
        const char* name;
        std::vector<fs::path> urls;
        bool added;
        int plans;
        std::vector<std::string> files;  // the whole list afterwards
    };
    const fs::path dir = folder.path();
    const std::vector<Row> rows = {
        {"sorted as a file browser lists them",
         {dir / "Episode 10.mkv", dir / "Episode 2.mkv", dir / "Episode 1.mkv"},
         true,
         1,
         {"Episode 1.mkv", "Episode 2.mkv", "Episode 10.mkv"}},
        {"names without extension are looked into as folders; relative paths and repeats add "
         "nothing",
         {dir / "notes", dir / "trailing.", "relative.mkv", dir / "Episode 2.mkv"},
         true,
         0,
         {"Episode 1.mkv", "Episode 2.mkv", "Episode 10.mkv"}},
        {"a second addition is sorted within itself and goes last, once",
         {dir / "b 9.mp4", dir / "a.mkv", dir / "b 9.mp4"},
         true,
         1,
         {"Episode 1.mkv", "Episode 2.mkv", "Episode 10.mkv", "a.mkv", "b 9.mp4"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const int listingsBefore = files->listings();
        EXPECT_EQ(model->addFiles(row.urls), row.added);
        ASSERT_TRUE(settle());
        EXPECT_EQ(fileNames(), row.files);
        EXPECT_EQ(files->listings(), listingsBefore + row.plans);
    }
}

TEST_F(RenameViewModelTest, EveryChangePlansAgainAndShowsThePlanOrTheError) {
    const auto paths = make({"x 1.mkv", "x 2.mkv", "Show - S01E02.mkv"});
    model->addFiles({paths[0], paths[1]});
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->errorMessage(), "Enter a show name.");
    EXPECT_TRUE(model->plan().empty());
    EXPECT_FALSE(model->canRename());

    model->setShowName("Show");
    model->refreshPlan();
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->errorMessage(),
              "A different file named \u201CShow - S01E02.mkv\u201D already exists.");

    model->setStartingEpisode(3);
    model->setPadding(3);
    model->refreshPlan();
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->errorMessage(), std::nullopt);
    EXPECT_EQ(planNames(), (std::vector<std::string>{"x 1.mkv > Show - S001E003.mkv",
                                                     "x 2.mkv > Show - S001E004.mkv"}));
    EXPECT_TRUE(model->canRename());

    // Moving past either end changes nothing and plans nothing.
    const int listings = files->listings();
    model->move(paths[0], -1);
    model->move(paths[1], +1);
    model->move(folder / "absent.mkv", +1);
    EXPECT_EQ(files->listings(), listings);
    model->move(paths[1], -1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(planNames(), (std::vector<std::string>{"x 2.mkv > Show - S001E003.mkv",
                                                     "x 1.mkv > Show - S001E004.mkv"}));

    model->setSeason(0);
    model->refreshPlan();
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->errorMessage(), "Season, episode, and padding values must be positive.");
    EXPECT_TRUE(model->plan().empty());

    // Removing every file clears the plan and the message without asking the renamer.
    model->remove(paths[0]);
    ASSERT_TRUE(settle());
    const int listingsBeforeLast = files->listings();
    model->remove(paths[1]);
    EXPECT_EQ(files->listings(), listingsBeforeLast);
    EXPECT_TRUE(model->files().empty());
    EXPECT_TRUE(model->plan().empty());
    EXPECT_EQ(model->errorMessage(), std::nullopt);
}

TEST_F(RenameViewModelTest, FolderAndNumberProblemsAreSaidInOneSentence) {
    struct Row {
        const char* name;
        // Acts on the model for "TV/Season 1", which holds "Episode 10.mkv", "Episode 2.mkv", a
        // hidden file, a file without extension and a subfolder.
        std::function<void(RenameViewModel&, const fs::path& season)> act;
        std::vector<std::string> files;
        std::vector<std::string> plan;
        std::optional<std::string> error;
        std::optional<std::string> notice;
        std::optional<std::string> planNotice;
    };
    const auto episodes = [](const fs::path& season) {
        return std::vector<fs::path>{season / "Episode 2.mkv", season / "Episode 10.mkv"};
    };
    const std::vector<Row> rows = {
        {"a dropped folder gives its visible files, in order, once",
         [&](RenameViewModel& m, const fs::path& season) {
             EXPECT_TRUE(m.addFiles({season / "Episode 10.mkv"}));
             EXPECT_TRUE(m.addFiles({season}));
         },
         {"Episode 10.mkv", "Episode 2.mkv"},
         {"Episode 10.mkv > Show - S01E01.mkv", "Episode 2.mkv > Show - S01E02.mkv"},
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"a dropped folder without files says so",
         [&](RenameViewModel& m, const fs::path& season) {
             EXPECT_TRUE(m.addFiles({season / "Extras"}));
         },
         {},
         {},
         std::nullopt,
         "\u201CExtras\u201D holds no files to rename. Drop the episode files, or the folder "
         "that holds them.",
         std::nullopt},
        {"the folder moved away after the files were added",
         [&](RenameViewModel& m, const fs::path& season) {
             m.addFiles(episodes(season));
             ASSERT_TRUE(tavtest::waitUntil([&] { return !m.hasPendingWork(); }));
             ASSERT_FALSE(m.plan().empty());
             fs::rename(season, season.parent_path() / "Season 1 (old)");
             m.refreshPlan();
         },
         {"Episode 2.mkv", "Episode 10.mkv"},
         {},
         "\u201CSeason 1\u201D is no longer in \u201CTV\u201D. Add its files again from where "
         "they are now.",
         std::nullopt,
         std::nullopt},
        {"episode numbers past the padding widen all of them, and say so",
         [&](RenameViewModel& m, const fs::path& season) {
             m.setStartingEpisode(99);
             m.addFiles(episodes(season));
         },
         {"Episode 2.mkv", "Episode 10.mkv"},
         {"Episode 2.mkv > Show - S01E099.mkv", "Episode 10.mkv > Show - S01E100.mkv"},
         std::nullopt,
         std::nullopt,
         "Episode numbers reach 100, too many for 2 digits, so every episode number gets 3 "
         "digits to keep the files in order."},
        {"files already named as planned: Rename Files says why it is off",
         [&](RenameViewModel& m, const fs::path& season) {
             std::ofstream(season / "Show - S01E01.mkv") << "named";
             m.addFiles({season / "Show - S01E01.mkv"});
         },
         {"Show - S01E01.mkv"},
         {"Show - S01E01.mkv > Show - S01E01.mkv"},
         std::nullopt,
         std::nullopt,
         "Every file already has the name shown, so there is nothing to rename. Change the show "
         "name, season or first episode to rename them."},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.name);
        const fs::path season = folder / std::to_string(i) / "TV" / "Season 1";
        fs::create_directories(season / "Extras");
        for (const char* name : {"Episode 10.mkv", "Episode 2.mkv", ".hidden.mkv", "notes"}) {
            std::ofstream(season / name) << name;
        }
        RenameViewModel page(std::make_shared<BatchRenamer>(files));
        page.setShowName("Show");
        row.act(page, season);
        ASSERT_TRUE(tavtest::waitUntil([&] { return !page.hasPendingWork(); }));
        std::vector<std::string> names;
        for (const auto& file : page.files()) {
            names.push_back(file.filename().string());
        }
        std::vector<std::string> plan;
        for (const auto& item : page.plan()) {
            plan.push_back(item.source.filename().string() + " > " +
                           item.destination.filename().string());
        }
        EXPECT_EQ(names, row.files);
        EXPECT_EQ(plan, row.plan);
        EXPECT_EQ(page.errorMessage(), row.error);
        EXPECT_EQ(page.notice(), row.notice);
        EXPECT_EQ(page.planNotice(), row.planNotice);
    }
}

TEST_F(RenameViewModelTest, RenamingAppliesTheShownPlanOnlyAndReportsFailures) {
    const auto paths = make({"b.mkv", "a.mkv"});
    model->addFiles(paths);
    model->setShowName("Show");
    model->refreshPlan();
    ASSERT_TRUE(settle());

    // A failing move keeps the files and the plan and shows the failure.
    files->failsMoves = true;
    const auto plan = model->plan();
    model->renameAll();
    EXPECT_TRUE(model->isRenaming());
    EXPECT_FALSE(model->canRename());
    model->renameAll();  // ignored while one runs
    ASSERT_TRUE(settle());
    files->failsMoves = false;
    EXPECT_FALSE(model->isRenaming());
    EXPECT_EQ(model->errorMessage(), "\u201Ca.mkv\u201D: Permission denied");
    EXPECT_EQ(model->plan(), plan);
    EXPECT_EQ(contents(),
              (std::map<std::string, std::string>{{"a.mkv", "a.mkv"}, {"b.mkv", "b.mkv"}}));
    model->renameAll();  // ignored while an error shows
    EXPECT_FALSE(model->isRenaming());

    // A rule changed without a new plan: the fresh plan is shown, nothing is renamed.
    model->refreshPlan();
    ASSERT_TRUE(settle());
    model->setSeason(2);
    model->renameAll();
    ASSERT_TRUE(settle());
    EXPECT_EQ(planNames(),
              (std::vector<std::string>{"a.mkv > Show - S02E01.mkv", "b.mkv > Show - S02E02.mkv"}));
    EXPECT_EQ(contents().size(), 2u);
    EXPECT_TRUE(contents().contains("a.mkv"));

    model->renameAll();
    ASSERT_TRUE(settle());
    EXPECT_EQ(contents(), (std::map<std::string, std::string>{{"Show - S02E01.mkv", "a.mkv"},
                                                              {"Show - S02E02.mkv", "b.mkv"}}));
    EXPECT_EQ(fileNames(), (std::vector<std::string>{"Show - S02E01.mkv", "Show - S02E02.mkv"}));
    EXPECT_EQ(planNames(), (std::vector<std::string>{"Show - S02E01.mkv > Show - S02E01.mkv",
                                                     "Show - S02E02.mkv > Show - S02E02.mkv"}));
    EXPECT_EQ(model->notice(), "Renamed 2 files.");
    // A plan that leaves every name as it is has nothing to rename.
    EXPECT_FALSE(model->canRename());
    model->renameAll();
    EXPECT_FALSE(model->isRenaming());

    // One more file: only it moves, and the line counts it alone.
    model->addFiles(make({"c.mkv"}));
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->notice(), std::nullopt);
    ASSERT_TRUE(model->canRename());
    model->renameAll();
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->notice(), "Renamed 1 file.");
    EXPECT_EQ(contents().size(), 3u);
    EXPECT_TRUE(contents().contains("Show - S02E03.mkv"));
    EXPECT_FALSE(model->canRename());
}

TEST_F(RenameViewModelTest, APlanStartedDuringARenameNeverShowsTheOldNames) {
    const auto paths = make({"a.mkv", "b.mkv"});
    model->addFiles(paths);
    model->setShowName("Show");
    model->refreshPlan();
    ASSERT_TRUE(settle());

    files->hold();  // the rename waits in its fresh plan
    model->renameAll();
    model->setShowName("Other");
    model->refreshPlan();  // waits behind the rename, with the old names
    files->release();
    ASSERT_TRUE(settle());
    EXPECT_EQ(fileNames(), (std::vector<std::string>{"Show - S01E01.mkv", "Show - S01E02.mkv"}));
    EXPECT_EQ(planNames(), (std::vector<std::string>{"Show - S01E01.mkv > Other - S01E01.mkv",
                                                     "Show - S01E02.mkv > Other - S01E02.mkv"}));
    EXPECT_EQ(model->errorMessage(), std::nullopt);
}

TEST_F(RenameViewModelTest, ARenameKilledBetweenThePhasesIsOfferedOnTheNextStartAndRestored) {
    // A run killed between the phases: every file hidden, the journal and the record left.
    struct Killed {};
    class KilledAfterPhaseOne : public tavtest::ObservedFileManager {
      public:
        void moveItem(const fs::path& from, const fs::path& to) override {
            if (!to.filename().string().starts_with(".tavrolin-rename-")) {
                throw Killed{};
            }
            ObservedFileManager::moveItem(from, to);
        }
    };
    const auto paths = make({"a.mkv", "b.mkv"});
    const auto before = contents();
    tavtest::TempDir state;
    const auto record = [&] { return std::make_shared<RenamesInProgress>(state / "record"); };
    BatchRenamer killed(std::make_shared<KilledAfterPhaseOne>(), {}, record());
    EXPECT_THROW(killed.apply(killed.plan(paths, {"Show", 1, 1, 2})), Killed);

    // Leftovers of killed write checks and journal writes, which opening the folder removes.
    const auto leaveLeftovers = [&] {
        for (const char* prefix : {".tavrolin-write-check-", ".tavrolin-rename-journal.partial-"}) {
            std::ofstream(folder / (prefix + Uuid::random().toString())) << "left";
        }
    };
    const auto hiddenNames = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path().filename().string().starts_with(".tavrolin-") &&
                entry.path().filename() != ".tavrolin-rename-journal") {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    };
    const std::size_t hiddenFiles = hiddenNames().size();

    // Adding the folder itself offers the restore too, though it shows no file.
    leaveLeftovers();
    EXPECT_TRUE(model->addFiles({folder.path()}));
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->interruptedRenames(), std::vector<fs::path>{folder.path()});
    EXPECT_EQ(hiddenNames().size(), hiddenFiles);  // the renamed files' hidden names stay
    EXPECT_EQ(model->notice(), std::nullopt);      // the journal speaks for them
    EXPECT_TRUE(model->files().empty());
    // So does adding its files: the journal is looked for before the missing files.
    model->addFiles(paths);
    ASSERT_TRUE(settle());
    EXPECT_EQ(model->interruptedRenameFolder(), folder.path());
    EXPECT_FALSE(model->canRename());

    RenameViewModel next(std::make_shared<BatchRenamer>(files, RenamePlanner{}, record()));
    leaveLeftovers();
    next.lookForInterruptedRenames();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !next.hasPendingWork(); }));
    ASSERT_EQ(next.interruptedRenames(), std::vector<fs::path>{folder.path()});
    EXPECT_EQ(hiddenNames().size(), hiddenFiles);
    next.restoreNames(folder.path());
    ASSERT_TRUE(tavtest::waitUntil([&] { return !next.hasPendingWork(); }));
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(next.interruptedRenames().empty());
    EXPECT_EQ(next.errorMessage(), std::nullopt);
    EXPECT_TRUE(record()->folders().empty());
    // The restore ends with a line that counts the names that came back.
    const std::string folderName = folder.path().filename().string();
    EXPECT_EQ(next.notice(), "Restored 2 names in \u201C" + folderName + "\u201D.");

    // A hidden rename name that no journal names is the user's file: kept, and said so.
    const std::string stray = ".tavrolin-rename-" + Uuid::random().toString() + ".mkv";
    std::ofstream(folder / stray) << "stray";
    leaveLeftovers();
    next.addFiles(paths);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !next.hasPendingWork(); }));
    EXPECT_EQ(hiddenNames(), std::vector<std::string>{stray});
    EXPECT_NE(next.notice().value_or("").find("left untouched: \u201C" + stray + "\u201D"),
              std::string::npos);
    fs::remove(folder / stray);
    EXPECT_THROW(killed.apply(killed.plan({paths[0]}, {"Show", 1, 1, 2})), Killed);
    next.restoreNames(folder.path());
    ASSERT_TRUE(tavtest::waitUntil([&] { return !next.hasPendingWork(); }));
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(next.notice(), "Restored 1 name in \u201C" + folderName + "\u201D.");
}
