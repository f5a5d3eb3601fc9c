#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "model/ErrorMessage.h"
#include "model/Uuid.h"
#include "rename/BatchRenamer.h"
#include "rename/RenameError.h"
#include "rename/RenameJournal.h"
#include "rename/RenamesInProgress.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// Stands for the process dying: no code of the renamer catches it.
struct SimulatedCrash {};

// A temporary name as the renamer makes them.
const std::string someTemporaryName = ".tavrolin-rename-0F8FAD5B-D9CB-469F-A165-70867728950E.mkv";

[[noreturn]] void failWith(int error, const fs::path& path) {
    throw fs::filesystem_error("injected", path, std::error_code(error, std::generic_category()));
}

// The real file system, with moves that fail or crash when a test says so.
class SteeredFileManager : public LocalFileManager {
  public:
    // Called before each move with its number (from 0); may throw.
    std::function<void(int move, const fs::path& from, const fs::path& to)> beforeMove;
    int moves = 0;               // attempted
    int refusedWriteError = 0;   // when set, creating a file fails with it
    int refusedProbeError = 0;   // when set, the folder's write probe fails with it
    int refusedRemoveError = 0;  // when set, removing a file fails with it
    // When set, creating a file crashes after writing this many bytes of its working copy.
    std::optional<std::size_t> crashWritingAt;
    std::size_t lastCreatedSize = 0;

    void checkWritable(const fs::path& folder) override {
        if (refusedProbeError != 0) {
            failWith(refusedProbeError, folder);
        }
        LocalFileManager::checkWritable(folder);
    }

    void createFile(const fs::path& path, std::string_view contents) override {
        lastCreatedSize = contents.size();
        if (refusedWriteError != 0) {
            throw fs::filesystem_error("injected", path,
                                       std::error_code(refusedWriteError, std::generic_category()));
        }
        if (crashWritingAt) {
            std::ofstream(workingNameFor(path), std::ios::binary)
                << contents.substr(0, *crashWritingAt);
            throw SimulatedCrash{};
        }
        LocalFileManager::createFile(path, contents);
    }

    void removeFile(const fs::path& path) override {
        if (refusedRemoveError != 0) {
            failWith(refusedRemoveError, path);
        }
        LocalFileManager::removeFile(path);
    }

    void moveItem(const fs::path& from, const fs::path& to) override {
        const int number = moves++;
        if (beforeMove) {
            beforeMove(number, from, to);
        }
        LocalFileManager::moveItem(from, to);
    }
};

class BatchRenamers : public ::testing::Test {
  protected:
    tavtest::TempDir folder;
    std::shared_ptr<SteeredFileManager> files = std::make_shared<SteeredFileManager>();
    BatchRenamer renamer{files};
    const RenameRule rule{"Show", 1, 1, 2};

    // Each file holds its own name as content, so every rename shows in the listing.
    std::vector<fs::path> make(const std::vector<std::string>& names) {
        std::vector<fs::path> paths;
        for (const auto& name : names) {
            std::ofstream(folder / name) << "content of " << name;
            paths.push_back(folder / name);
        }
        return paths;
    }
    // Name -> content hash of everything in the folder, hidden names included.
    std::map<std::string, std::size_t> snapshot() const {
        std::map<std::string, std::size_t> result;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            std::ifstream stream(entry.path());
            const std::string contents{std::istreambuf_iterator<char>(stream), {}};
            result[entry.path().filename().string()] = std::hash<std::string>{}(contents);
        }
        return result;
    }
    static std::size_t hashOf(const std::string& name) {
        return std::hash<std::string>{}("content of " + name);
    }
    // Empties the folder, then makes the files.
    std::vector<fs::path> remake(const std::vector<std::string>& names) {
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            fs::remove_all(entry.path());
        }
        return make(names);
    }
    // Move `at`, counted from now, fails with `error`, or crashes when `error` is 0.
    void breakMove(int at, int error = 0) {
        files->moves = 0;
        files->beforeMove = [at, error](int move, const fs::path&, const fs::path& to) {
            if (move == at) {
                error == 0 ? throw SimulatedCrash{} : failWith(error, to);
            }
        };
    }
    // The error of type Error that `action` throws; none when it throws none.
    template <typename Error>
    static std::optional<Error> thrown(const std::function<void()>& action) {
        try {
            action();
        } catch (const Error& error) {
            return error;
        }
        return std::nullopt;
    }
};

}  // namespace

TEST_F(BatchRenamers, RenamesThroughTemporaryNamesSoFilesMayExchangeNames) {
    // b and c exchange names by episode order; "Show - S01E03.mkv" keeps its name; a is new.
    const auto paths = make(
        {"Show - S01E02.mkv", "Show - S01E01.mkv", "Show - S01E03.mkv", "a.mp4", "unrelated.txt"});
    const auto plan = renamer.plan({paths[0], paths[1], paths[2], paths[3]}, rule);
    files->moves = 0;
    renamer.apply(plan);
    EXPECT_EQ(snapshot(), (std::map<std::string, std::size_t>{
                              {"Show - S01E01.mkv", hashOf("Show - S01E02.mkv")},
                              {"Show - S01E02.mkv", hashOf("Show - S01E01.mkv")},
                              {"Show - S01E03.mkv", hashOf("Show - S01E03.mkv")},
                              {"Show - S01E04.mp4", hashOf("a.mp4")},
                              {"unrelated.txt", hashOf("unrelated.txt")}}));
    EXPECT_EQ(files->moves, 6);  // the unchanged file is not touched
    // Applying the same names again moves nothing.
    files->moves = 0;
    renamer.apply(renamer.plan({folder / "Show - S01E01.mkv"}, rule));
    EXPECT_EQ(files->moves, 0);
}

TEST_F(BatchRenamers, AFailedRenameUndoesEveryMoveAndNamesTheFile) {
    struct Row {
        const char* name;
        std::function<void()> fault;  // set up after planning
        std::string message;
        int expectedMoves;
    };
    // Moves 0-2 are the first phase, 3-5 the second.
    const std::vector<Row> rows = {
        {"third move of the first phase", [&] { breakMove(2, EACCES); },
         "\u201Cc.mkv\u201D: Permission denied", 3 + 2},
        {"second move of the second phase", [&] { breakMove(4, EIO); },
         "\u201CShow - S01E02.mkv\u201D: Input/output error", 5 + 3},
        {"a file created at a new name, which is never replaced",
         [&] { make({"Show - S01E02.mkv"}); }, "\u201CShow - S01E02.mkv\u201D: File exists", 5 + 3},
        {"a folder that refuses the journal", [&] { files->refusedWriteError = EROFS; },
         "\u201C" + folder.path().filename().string() + "\u201D: Read-only file system", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto plan = renamer.plan(remake({"a.mkv", "b.mkv", "c.mkv"}), rule);
        files->moves = 0;
        row.fault();
        const auto before = snapshot();
        EXPECT_EQ(userMessage(thrown<fs::filesystem_error>([&] { renamer.apply(plan); }).value()),
                  row.message);
        EXPECT_EQ(snapshot(), before);  // every old name back, no journal, no temporary name
        EXPECT_EQ(files->moves, row.expectedMoves);
        files->beforeMove = nullptr;
        files->refusedWriteError = 0;
    }
}

TEST_F(BatchRenamers, ARollbackThatCannotRestoreNamesEveryStrandedFile) {
    const auto paths = make({"a.mkv", "b.mkv", "c.mkv"});
    const auto plan = renamer.plan(paths, rule);
    // Phase 2 fails at c; restoring a from its new name fails, restoring b to "b.mkv" is
    // refused because something took that name meanwhile.
    files->beforeMove = [&](int move, const fs::path& from, const fs::path& to) {
        if (move == 5) {
            failWith(ENOSPC, to);
        }
        if (move > 5 && from == folder / "Show - S01E01.mkv") {
            failWith(EACCES, from);
        }
        if (move > 5 && to == folder / "c.mkv") {
            make({"b.mkv"});  // arrives while the rollback runs
        }
    };
    const auto error = thrown<RenameError>([&] { renamer.apply(plan); }).value();
    EXPECT_EQ(error.errorCase(), RenameError::Case::namesNotRestored);
    const std::string message = error.what();
    EXPECT_TRUE(message.starts_with("\u201CShow - S01E03.mkv\u201D: No space left on device. "))
        << message;
    EXPECT_NE(message.find("\u201Ca.mkv\u201D is now \u201CShow - S01E01.mkv\u201D"),
              std::string::npos)
        << message;
    // b.mkv was taken, so b keeps its new name rather than going back into hiding.
    EXPECT_NE(message.find("\u201Cb.mkv\u201D is now \u201CShow - S01E02.mkv\u201D"),
              std::string::npos)
        << message;
    // Nothing was lost: every content is still somewhere, and the journal stays.
    const auto after = snapshot();
    std::multiset<std::size_t> contents;
    for (const auto& [name, hash] : after) {
        contents.insert(hash);
    }
    for (const char* name : {"a.mkv", "b.mkv", "c.mkv"}) {
        EXPECT_EQ(contents.count(hashOf(name)), name == std::string("b.mkv") ? 2u : 1u) << name;
    }
    EXPECT_TRUE(after.contains(std::string(renameJournalName)));
    EXPECT_EQ(after.at("c.mkv"), hashOf("c.mkv"));
}

TEST_F(BatchRenamers, AKillAfterAnyMoveIsRestoredOnTheNextStart) {
    // Forty files: two exchange names, one keeps its name, one has a name the new names shift
    // into, the others have hard names.
    std::vector<std::string> names = {"Show - S01E02.mkv",  "Show - S01E01.mkv",
                                      "Show - S01E03.mkv",  "Show - S01E05.mkv",
                                      "-dash $(x) 'q'.mkv", "\xE9t\xE9.mkv",
                                      "e\xCC\x81.mkv",      std::string(236, 'l') + ".mkv"};
    for (int i = static_cast<int>(names.size()); i < 40; ++i) {
        names.push_back("file " + std::to_string(i) + ".mp4");
    }
    const auto paths = make(names);
    make({"unrelated.txt"});
    const auto before = snapshot();
    tavtest::TempDir stateFolder;  // apart, so the record's removal is seen
    const auto state = stateFolder / "renames-in-progress";
    const auto inProgress = std::make_shared<RenamesInProgress>(state);
    BatchRenamer recording(files, {}, inProgress);
    const auto plan = recording.plan(paths, rule);
    for (int crashAt = 0; crashAt < 2 * 39; ++crashAt) {
        SCOPED_TRACE(crashAt);
        breakMove(crashAt);
        EXPECT_THROW(recording.apply(plan), SimulatedCrash);
        EXPECT_THROW(recording.apply(plan), RenameError);  // nothing renames over the journal
        // The next start: a new renamer finds the folder in the record and restores it.
        BatchRenamer next(files, {}, std::make_shared<RenamesInProgress>(state));
        const auto opened = next.openRecordedFolders();
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_EQ(opened[0].folder, folder.path());
        EXPECT_TRUE(opened[0].interruptedRename);
        EXPECT_EQ(opened[0].notice, "");
        EXPECT_EQ(next.restoreInterruptedRename(folder.path()), "");
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(inProgress->folders().empty());
    }
}

TEST_F(BatchRenamers, OpeningAFolderClearsWhatACrashLeftAndKeepsEveryUserFile) {
    std::vector<std::string> names;
    for (int i = 0; i < 24; ++i) {
        names.push_back("file " + std::to_string(i) + ".mp4");
    }
    std::string uuid = Uuid::random().toString();
    const std::string probe = ".tavrolin-write-check-" + uuid;
    const std::string working = ".tavrolin-rename-journal.partial-" + uuid;
    const auto touch = [&](const std::vector<std::string>& hidden) {
        for (const auto& name : hidden) {
            std::ofstream(folder / name) << "left";
        }
    };
    const auto crashWritingJournalAt = [&](std::size_t bytes) {
        return [&, bytes](const std::vector<fs::path>& paths) {
            const auto plan = renamer.plan(paths, rule);
            files->crashWritingAt = bytes;
            EXPECT_THROW(renamer.apply(plan), SimulatedCrash);
            files->crashWritingAt.reset();
            EXPECT_GT(files->lastCreatedSize, bytes);  // a real cut
        };
    };
    std::transform(uuid.begin(), uuid.end(), uuid.begin(), ::tolower);
    // Names of the user's that only look like leftovers.
    const std::vector<std::string> lookAlikes = {".tavrolin-write-check-" + uuid, probe + ".mkv",
                                                 working + "x",
                                                 ".tavrolin-rename-journal.partial-"};
    struct Row {
        std::string name;
        std::function<void(const std::vector<fs::path>&)> leave;
        std::vector<std::string> kept;
        std::string notice;  // part of it
    };
    const std::vector<Row> rows = {
        {"journal write cut at 0 bytes", crashWritingJournalAt(0), {}, ""},
        {"journal write cut at 27 bytes", crashWritingJournalAt(27), {}, ""},
        {"journal write cut at 300 bytes", crashWritingJournalAt(300), {}, ""},
        {"journal write cut at 2,000 bytes", crashWritingJournalAt(2000), {}, ""},
        {"a write check killed before it removed its probe",
         [&](auto&) { touch({probe}); },
         {},
         ""},
        {"look-alike names", [&](auto&) { touch(lookAlikes); }, lookAlikes, ""},
        {"a hidden rename name that no journal names",
         [&](auto&) { touch({someTemporaryName}); },
         {someTemporaryName},
         "“" + folder.path().filename().string() +
             "” holds hidden files from an earlier rename that no record names, left "
             "untouched: “" +
             someTemporaryName + "”. Show hidden files to give them names."},
        {"a leftover that cannot be removed",
         [&](auto&) {
             touch({probe});
             files->refusedRemoveError = EACCES;
         },
         {probe},
         "could not be removed (Permission denied): “" + probe + "”."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto paths = remake(names);
        const auto before = snapshot();
        row.leave(paths);
        // Opened again, as by the next run.
        const auto opened = BatchRenamer(files).openFolder(folder.path());
        files->refusedRemoveError = 0;
        EXPECT_FALSE(opened.interruptedRename);
        if (row.notice.empty()) {
            EXPECT_EQ(opened.notice, "");
        } else {
            EXPECT_NE(opened.notice.find(row.notice), std::string::npos) << opened.notice;
        }
        auto after = snapshot();
        for (const auto& name : row.kept) {
            EXPECT_EQ(after.erase(name), 1u) << name;
        }
        EXPECT_EQ(after, before);  // every original name, nothing hidden left
    }
}

TEST_F(BatchRenamers, ARestoreTrustsNamesAndNeverAppliesADamagedJournal) {
    enum class Outcome { restored, refused, stranded };
    struct Row {
        std::string name;
        // Changes the folder after a crash between the phases; gets the journal's entries.
        std::function<void(const std::vector<RenameJournalEntry>&)> damage;
        Outcome outcome;
        std::string message;  // part of the restore's message
    };
    const fs::path journal = folder / std::string(renameJournalName);
    const auto writeJournal = [&](const std::string& text) {
        fs::remove(journal);
        std::ofstream(journal, std::ios::binary) << text;
    };
    // The first format: no count, stamps or checksum.
    const auto firstFormat = [](const std::vector<RenameJournalEntry>& entries) {
        std::string text = "tavrolin rename journal 1\n";
        for (const auto& entry : entries) {
            text += std::to_string(entry.fingerprint.identity.device) + " " +
                    std::to_string(entry.fingerprint.identity.inode);
            for (const auto* name :
                 {&entry.temporaryName, &entry.sourceName, &entry.destinationName}) {
                text += ' ';
                appendEscapedName(text, *name);
            }
            text += '\n';
        }
        return text;
    };
    const auto shifted = [&](dev_t device) {
        return [&, device](std::vector<RenameJournalEntry> entries) {
            for (auto& entry : entries) {
                entry.fingerprint.identity.device += device;
                entry.fingerprint.identity.inode += 7;
            }
            writeJournal(renderRenameJournal(entries));
        };
    };
    const std::vector<Row> rows = {
        {"nothing changed since", [](auto&) {}, Outcome::restored, ""},
        {"another device number (a disk mounted again)", shifted(1), Outcome::restored, ""},
        {"inodes numbered anew on the same device (FAT mounted again)", shifted(0),
         Outcome::restored, ""},
        {"a journal of the first format",
         [&](auto& entries) { writeJournal(firstFormat(entries)); }, Outcome::restored, ""},
        {"a leftover temporary name that no journal names",
         [&](auto&) { std::ofstream(folder / someTemporaryName) << "stray"; }, Outcome::restored,
         "left untouched: \u201C" + someTemporaryName + "\u201D"},
        {"a journal of the first format whose files have other inodes",
         [&](std::vector<RenameJournalEntry> entries) {
             for (auto& entry : entries) {
                 fs::rename(folder / entry.temporaryName, folder / entry.destinationName);
                 entry.fingerprint.identity.inode += 7;
             }
             writeJournal(firstFormat(entries));
         },
         Outcome::refused, "\u201Ca.mkv\u201D was found under none of its names"},
        {"a journal of the first format cut at a line end",
         [&](auto& entries) {
             writeJournal(firstFormat({entries.begin(), entries.end() - 1}));
         },
         Outcome::refused, "These files still have hidden names: \u201C.tavrolin-rename-"},
        {"the journal cut at a line end",  // the parser refuses every such cut
         [&](auto& entries) {
             const std::string text = renderRenameJournal(entries);
             writeJournal(text.substr(0, text.find('\n', text.find('\n') + 1) + 1));
         },
         Outcome::refused, "is damaged or incomplete, so nothing was restored"},
        {"a file created at an old name", [&](auto&) { std::ofstream(folder / "b.mkv") << "new"; },
         Outcome::stranded, "\u201Cb.mkv\u201D is now \u201C.tavrolin-rename-"},
        {"a temporary file deleted and created anew",
         [&](auto& entries) {
             fs::remove(folder / entries[0].temporaryName);
             std::ofstream(folder / entries[0].temporaryName) << "a new file";
         },
         Outcome::stranded, "\u201Ca.mkv\u201D was found under none of its names"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto paths = remake({"a.mkv", "b.mkv", "Show - S01E01.mkv"});
        const auto before = snapshot();
        breakMove(3);  // every file hidden, none at its new name
        EXPECT_THROW(renamer.apply(renamer.plan(paths, rule)), SimulatedCrash);
        row.damage(parseRenameJournal(files->readFile(journal).value())->entries);
        const auto damaged = snapshot();

        std::string message;
        if (const auto error = thrown<RenameError>(
                [&] { message = renamer.restoreInterruptedRename(folder.path()); })) {
            message = error->what();
        }
        EXPECT_NE(message.find(row.message), std::string::npos) << message;
        auto after = snapshot();
        switch (row.outcome) {
            case Outcome::restored:
                EXPECT_EQ(after.erase(someTemporaryName), row.message.empty() ? 0u : 1u);
                EXPECT_EQ(after, before);  // the journal gone too
                break;
            case Outcome::refused:
                EXPECT_EQ(after, damaged);
                break;
            case Outcome::stranded:
                EXPECT_TRUE(after.contains(std::string(renameJournalName)));
                EXPECT_EQ(after.at("Show - S01E01.mkv"), hashOf("Show - S01E01.mkv"));
                break;
        }
    }
}

TEST_F(BatchRenamers, FolderProblemsComeFirstAndATornJournalThatHidesNothingIsCleared) {
    const auto paths = make({"a.mkv"});
    const auto missing = thrown<RenameError>([&] {
        renamer.plan({folder / "missing" / "a.mkv"}, {"", 0, 0, 0});
    });
    EXPECT_EQ(missing.value().errorCase(), RenameError::Case::folderMissing);
    // A torn journal, and what a crash while this version writes one leaves: a working copy.
    const std::string torn =
        renderRenameJournal({{{{1, 2}, 3, 4}, someTemporaryName, "a.mkv", "x.mkv"}}).substr(0, 50);
    std::ofstream(folder / std::string(renameJournalName)) << torn;
    std::ofstream(folder /
                  (std::string(renameJournalName) + ".partial-" + Uuid::random().toString()))
        << torn;
    EXPECT_THROW(renamer.plan(paths, {"", 0, 0, 0}), RenameError);
    const auto damaged =
        thrown<RenameError>([&] { renamer.restoreInterruptedRename(folder.path()); });
    EXPECT_EQ(damaged.value().errorCase(), RenameError::Case::unreadableJournal);
    const auto unnamed = thrown<RenameError>([&] { renamer.plan(paths, {"", 1, 1, 2}); });
    EXPECT_EQ(unnamed.value().errorCase(), RenameError::Case::emptyShowName);
    // A folder that takes no new file is reported by the plan, before anything can start.
    files->refusedProbeError = EACCES;
    const auto refused = thrown<RenameError>([&] { renamer.plan(paths, {"", 1, 1, 2}); });
    EXPECT_EQ(std::string(refused.value().what()),
              "Files in \u201C" + folder.path().filename().string() +
                  "\u201D cannot be renamed: Permission denied. Move the files to a folder "
                  "you can change, or allow changes to this one.");
    files->refusedProbeError = 0;
    // The journal hides nothing, so a rename goes ahead and clears both.
    renamer.apply(renamer.plan(paths, rule));
    EXPECT_EQ(snapshot().size(), 1u);
}

namespace {

TEST_F(BatchRenamers, NamesOfOneFileAreRefusedBeforeAnyMoveAndAnOlderRecordOfThemIsRestored) {
    const auto paths = make({"a.mkv", "c.mkv"});
    fs::create_hard_link(folder / "a.mkv", folder / "b.mkv");
    const std::vector<fs::path> batch = {paths[0], paths[1], folder / "b.mkv"};
    const auto before = snapshot();
    const std::string sentence =
        "\u201Ca.mkv\u201D and \u201Cb.mkv\u201D are two names of one file (hard links), so they "
        "cannot be renamed together. Leave one of them out of the batch.";
    const auto planned = thrown<RenameError>([&] { renamer.plan(batch, rule); });
    ASSERT_TRUE(planned);
    EXPECT_EQ(planned->errorCase(), RenameError::Case::namesOfOneFile);
    EXPECT_EQ(std::string(planned->what()), sentence);
    // A plan made elsewhere is refused as well, before the journal or any move.
    const std::vector<RenamePlanItem> plan = {{paths[0], folder / "Show - S01E01.mkv"},
                                              {paths[1], folder / "Show - S01E02.mkv"},
                                              {folder / "b.mkv", folder / "Show - S01E03.mkv"}};
    const auto applied = thrown<RenameError>([&] { renamer.apply(plan); });
    ASSERT_TRUE(applied);
    EXPECT_EQ(std::string(applied->what()), sentence);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(files->moves, 0);

    // An older version renamed them and was killed with both names hidden: each comes back.
    std::vector<RenameJournalEntry> entries;
    for (const std::string name : {"a.mkv", "b.mkv"}) {
        const std::string hidden = ".tavrolin-rename-" + Uuid::random().toString() + ".mkv";
        entries.push_back({*files->fingerprint(folder / name), hidden, name, "Show - " + name});
        fs::rename(folder / name, folder / hidden);
    }
    std::ofstream(folder / std::string(renameJournalName), std::ios::binary)
        << renderRenameJournal(entries);
    EXPECT_EQ(renamer.restoreInterruptedRename(folder.path()), "");
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(fs::hard_link_count(folder / "a.mkv"), 2u);
}

}  // namespace
