#include "engine/JobLeftovers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "engine/FFmpegProcessor.h"
#include "engine/FileOperations.h"
#include "engine/JobFiles.h"
#include "engine/SafeFileReplacement.h"
#include "model/Uuid.h"
#include "process/FoundationProcessRunner.h"
#include "support/StandInTools.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include "EngineTestHelpers.h"

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

// Polls the disk until `condition` holds, for at most ten seconds.
bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Points TMPDIR at a test's folder while it lives; children forked meanwhile inherit it.
struct TemporaryRootAt {
    explicit TemporaryRootAt(const fs::path& folder) { ::setenv("TMPDIR", folder.c_str(), 1); }
    ~TemporaryRootAt() { old ? ::setenv("TMPDIR", old->c_str(), 1) : ::unsetenv("TMPDIR"); }
    std::optional<std::string> old =
        std::getenv("TMPDIR") ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;
};

// Runs `fill` in a child process that then ends without any clean-up, as a killed app does:
// the record it wrote stays, unlocked.
void leaveRecord(const fs::path& records, const std::function<void(JobRecord&)>& fill) {
    const pid_t child = ::fork();
    if (child == 0) {
        fill(*new JobRecord(records));
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
}

void put(const fs::path& file, const std::string& contents) {
    fs::create_directories(file.parent_path());
    tavtest::writeFile(file, contents);
}

// A job of `records` replacing `film` with "new", killed just before or just after the swap.
void replaceKilledAtSwap(const fs::path& records, const fs::path& film, bool afterSwap) {
    JobFiles files(records);
    files.useWorkingOutput(hiddenWorkingOutput(film), film);
    put(files.workingOutput, "new");
    ReplacementSteps steps;
    steps.beforeSwap = [&](const fs::path& backup, const fs::path& original) {
        files.recordBackup(backup, original);
        if (!afterSwap) {
            ::raise(SIGKILL);
        }
    };
    steps.swapped = [] { ::raise(SIGKILL); };
    SafeFileReplacement().replace(film, files.workingOutput, steps);
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(JobLeftovers, AKilledHostTakesItsFFmpegAlongAndTheNextStartRemovesOnlyWhatItRecorded) {
    const fs::path clip = tavtest::TestMedia::generate(
        "ten-seconds.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=10:duration=10", "-c:v",
                            "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    tavtest::TempDir scratch, out, tmp, state;
    const fs::path pidFile = scratch / "ffmpeg.pid";
    const TemporaryRootAt temporaryRoot(tmp.path());
    // The real ffmpeg, reading its input in real time: the join takes twenty seconds.
    const auto tools = tavtest::standInTools(
        scratch / "tools", std::string(tavtest::kAnswersVersion) + "echo $$ > '" +
                               pidFile.string() + ".new'\nmv '" + pidFile.string() + ".new' '" +
                               pidFile.string() + "'\nexec /usr/bin/ffmpeg -re \"$@\"\n");
    std::ofstream(out / ".clip-clip.tmp-notes.mkv") << "the user's own";

    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        try {
            FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), tools,
                                      state.path());
            processor.process(JoinRequest{{clip, clip}, out / "clip-clip.mkv"}, {}, {});
        } catch (...) {
        }
        ::_exit(0);
    }
    ASSERT_TRUE(waitFor([&] {
        return fs::exists(pidFile) &&
               std::ranges::any_of(out.entries(), [](const std::string& name) {
                   return name.starts_with(".clip-clip.tmp-tavrolin-");
               });
    }));
    pid_t ffmpeg = 0;
    std::ifstream(pidFile) >> ffmpeg;
    ASSERT_GT(ffmpeg, 0);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, ffmpeg, 0));
    ASSERT_GE(pidfd, 0);
    ASSERT_EQ(::kill(host, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(host, &status, 0), host);
    pollfd exited{pidfd, POLLIN, 0};
    EXPECT_EQ(::poll(&exited, 1, 2000), 1) << "ffmpeg outlived the process that started it";
    ::close(pidfd);

    // A job of a running instance holds its record: it is left alone.
    JobRecord running(state.path());
    const fs::path runningCopy = hiddenWorkingOutput(out / "other.mkv");
    running.addWorkingOutput(runningCopy, out / "other.mkv");
    std::ofstream(runningCopy) << "being written";
    ASSERT_EQ(state.entries().size(), 2u);

    EXPECT_EQ(
        removeJobLeftovers(state.path()),
        std::vector<std::string>{
            "Removed an unfinished copy of \u201Cclip-clip.mkv\u201D left by an earlier run."});
    EXPECT_EQ(out.entries(), (std::vector<std::string>{".clip-clip.tmp-notes.mkv",
                                                       runningCopy.filename().string()}));
    EXPECT_TRUE(tmp.entries().empty());
    EXPECT_EQ(state.entries().size(), 1u);
    EXPECT_TRUE(removeJobLeftovers(state.path()).empty());
}

// Only names of exactly the app's shape go, and a record goes once nothing of that shape it
// names is left where it can be reached. A kill at a replacement's swap, before or after it,
// leaves the original or the new file under its name and nothing hidden beside it.
TEST(JobLeftovers, ARecordRemovesOnlyWhatHasTheAppsOwnShape) {
    tavtest::TempDir videos, tmp, state;
    const TemporaryRootAt temporaryRoot(tmp.path());
    const fs::path film = videos / "Film.mkv";
    const std::string concat = "Tavrolin-Concat-" + Uuid::random().toString() + ".txt";
    const std::string report = "Tavrolin-Report-" + Uuid::random().toString() + ".fifo";
    const auto unfinished = [](const std::string& name) {
        return "Removed an unfinished copy of \u201C" + name + "\u201D left by an earlier run.";
    };

    // Working names that are no working copy of theirs: the user's output itself, a hidden file
    // with the marker, a working name recorded for another folder or through "..", a symbolic
    // link under a working name.
    const fs::path notes = videos / ".notes.tmp-tavrolin-x.mkv";
    const fs::path mine = hiddenWorkingOutput(film);
    const fs::path link = hiddenWorkingOutput(film);
    put(film, "film");
    put(notes, "notes");
    put(mine, "mine");
    fs::create_symlink(film, link);
    leaveRecord(state.path(), [&](JobRecord& r) {
        r.addWorkingOutput(film, film);
        r.addWorkingOutput(notes, film);
        r.addWorkingOutput(mine, videos / "elsewhere" / "Film.mkv");
        r.addWorkingOutput(videos / "sub" / ".." / mine.filename(), film);
        r.addWorkingOutput(link, film);
    });
    // Folders that are no temporary folder of the app's: a user's folders named like one (one
    // of exactly its shape, but not in the temporary folder), one holding a file the app never
    // writes, a FIFO under a list's name, a symbolic link to a folder of inputs. Then an empty
    // one of the app's.
    put(videos / "Tavrolin-Exports" / concat, "list");
    put(videos / "Tavrolin-e1B2c3" / concat, "list");
    put(tmp / "Tavrolin-a1B2c3" / concat, "list");
    put(tmp / "Tavrolin-a1B2c3" / "notes.txt", "notes");
    fs::create_directory(tmp / "Tavrolin-b1B2c3");
    ::mkfifo((tmp / "Tavrolin-b1B2c3" / concat).c_str(), 0600);
    put(videos / "inputs" / concat, "list");
    fs::create_directory_symlink(videos / "inputs", tmp / "Tavrolin-c1B2c3");
    fs::create_directory(tmp / "Tavrolin-Q1w2E3");
    for (const fs::path& folder :
         {videos / "Tavrolin-Exports", videos / "Tavrolin-e1B2c3", tmp / "Tavrolin-a1B2c3",
          tmp / "Tavrolin-b1B2c3", tmp / "Tavrolin-c1B2c3", tmp / "Tavrolin-Q1w2E3"}) {
        leaveRecord(state.path(), [&](JobRecord& r) { r.setTemporaryFolder(folder); });
    }
    // The app's own items: inputs, working copies (a long name shortened), a backup beside a
    // whole replaced file and one whose original is gone.
    const fs::path longOutput = videos / (std::string(300, 'x') + ".mkv");
    const fs::path own = hiddenWorkingOutput(videos / "Own.mkv");
    const fs::path longWorking = hiddenWorkingOutput(longOutput);
    const auto backupOf = [&](const char* name) {
        return hiddenBackupName(videos / name, SafeFileReplacement::backupMarker, Uuid::random());
    };
    const fs::path wholeBackup = backupOf("Whole.mkv");
    const fs::path goneBackup = backupOf("Gone.mkv");
    put(tmp / "Tavrolin-d1B2c3" / concat, "list");
    ::mkfifo((tmp / "Tavrolin-d1B2c3" / report).c_str(), 0600);
    put(own, "half");
    put(longWorking, "half");
    put(videos / "Whole.mkv", "new");
    put(wholeBackup, "old");
    put(goneBackup, "old");
    put(videos / "Before.mkv", "old");
    put(videos / "After.mkv", "old");
    leaveRecord(state.path(), [&](JobRecord& r) {
        r.addWorkingOutput(own, videos / "Own.mkv");
        r.setTemporaryFolder(tmp / "Tavrolin-d1B2c3");
        r.addWorkingOutput(longWorking, longOutput);
        r.addBackup(wholeBackup, videos / "Whole.mkv");
        r.addBackup(goneBackup, videos / "Gone.mkv");
    });
    // Replacements stopped within a swap made of a link and a rename (the original not yet
    // replaced, its backup a second link to it) and of two moves (the original moved aside).
    const fs::path linkedBackup = backupOf("Linked.mkv");
    const fs::path movedBackup = backupOf("Moved.mkv");
    put(videos / "Linked.mkv", "old");
    fs::create_hard_link(videos / "Linked.mkv", linkedBackup);
    put(movedBackup, "old");
    leaveRecord(state.path(), [&](JobRecord& r) {
        for (const auto& [name, backup] :
             {std::pair{"Linked.mkv", linkedBackup}, std::pair{"Moved.mkv", movedBackup}}) {
            const fs::path copy = hiddenWorkingOutput(videos / name);
            put(copy, "new");
            r.addWorkingOutput(copy, videos / name);
            r.addBackup(backup, videos / name);
        }
    });
    for (const bool afterSwap : {false, true}) {
        leaveRecord(state.path(), [&](JobRecord&) {
            replaceKilledAtSwap(state.path(), videos / (afterSwap ? "After.mkv" : "Before.mkv"),
                                afterSwap);
        });
    }
    // A working copy on a drive that is not mounted: the record stays until the drive is back.
    const fs::path onDrive = videos / "drive" / "OnDrive.mkv";
    const fs::path driveCopy = hiddenWorkingOutput(onDrive);
    leaveRecord(state.path(), [&](JobRecord& r) { r.addWorkingOutput(driveCopy, onDrive); });
    ASSERT_EQ(state.entries().size(), 12u);

    EXPECT_EQ(sorted(removeJobLeftovers(state.path())),
              sorted({unfinished("Own.mkv"), unfinished(longOutput.filename().string()),
                      "Removed the unfinished replacement of \u201CBefore.mkv\u201D left by an "
                      "earlier run; the original file was not changed.",
                      "Removed the unfinished replacement of \u201CLinked.mkv\u201D left by an "
                      "earlier run; the original file was not changed.",
                      "Restored \u201CMoved.mkv\u201D from its backup left by an earlier run.",
                      "Removed the backup of \u201CWhole.mkv\u201D left by an earlier run; the "
                      "replaced file is whole.",
                      "Removed the backup of \u201CAfter.mkv\u201D left by an earlier run; the "
                      "replaced file is whole.",
                      "Restored \u201CGone.mkv\u201D from its backup left by an earlier run."}));
    // Every entry left: a folder as "name/", anything else as "name=contents".
    std::vector<std::string> kept;
    for (const fs::path& root : {videos.path(), tmp.path()}) {
        for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
            const bool folder = it->is_directory() && !it->is_symlink();
            kept.push_back(it->path().lexically_relative(root).string() +
                           (folder                  ? "/"
                            : it->is_regular_file() ? "=" + tavtest::readFile(it->path())
                                                    : "="));
        }
    }
    EXPECT_EQ(sorted(kept), sorted({"Film.mkv=film",
                                    ".notes.tmp-tavrolin-x.mkv=notes",
                                    mine.filename().string() + "=mine",
                                    link.filename().string() + "=film",
                                    "Tavrolin-Exports/",
                                    "Tavrolin-Exports/" + concat + "=list",
                                    "Tavrolin-e1B2c3/",
                                    "Tavrolin-e1B2c3/" + concat + "=list",
                                    "inputs/",
                                    "inputs/" + concat + "=list",
                                    "Tavrolin-a1B2c3/",
                                    "Tavrolin-a1B2c3/" + concat + "=list",
                                    "Tavrolin-a1B2c3/notes.txt=notes",
                                    "Tavrolin-b1B2c3/",
                                    "Tavrolin-b1B2c3/" + concat + "=",
                                    "Tavrolin-c1B2c3=",
                                    "Whole.mkv=new",
                                    "Gone.mkv=old",
                                    "Before.mkv=old",
                                    "After.mkv=new",
                                    "Linked.mkv=old",
                                    "Moved.mkv=old"}));
    EXPECT_EQ(state.entries().size(), 1u);
    put(driveCopy, "half");
    EXPECT_EQ(removeJobLeftovers(state.path()), std::vector{unfinished("OnDrive.mkv")});
    EXPECT_FALSE(fs::exists(driveCopy));
    EXPECT_TRUE(state.entries().empty());
}

// Every join, chapters, replacement and split with chapters rewrites its record while it runs.
TEST(JobLeftovers, ARunningJobsRecordRewrittenDuringOtherInstancesCleanUpsLosesNothing) {
    tavtest::TempDir scratch, records;
    JobFiles job(records.path());
    job.useWorkingOutput(hiddenWorkingOutput(scratch / "join.mkv"), scratch / "join.mkv");
    put(job.workingOutput, "being written");
    const fs::path list = job.writeTemporaryInput(concatListInput, "file 'a'");

    // Other instances start meanwhile, on threads of their own: flock tells their open files
    // apart as it tells processes apart.
    std::atomic<int> sweeps = 0;
    std::vector<std::jthread> instances;
    for (int i = 0; i < 3; ++i) {
        instances.emplace_back([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                EXPECT_TRUE(removeJobLeftovers(records.path()).empty());
                ++sweeps;
            }
        });
    }
    // And one whose every record is rewritten between its open and its lock. What the record
    // says is read back: a rewrite that a clean-up got between must not lose its entry.
    const auto recordText = [&] {
        for (const auto& name : records.entries()) {
            if (!name.starts_with(".") && name.ends_with(".job")) {
                return tavtest::readFile(records / name);
            }
        }
        return std::string();
    };
    int rewrites = 0;
    for (int round = 0; round < 200 || sweeps < 200; ++round) {
        const auto lines = removeJobLeftovers(records.path(), [&](const fs::path&) {
            job.recordBackup(scratch / ("x" + std::to_string(++rewrites)), scratch / "y");
        });
        EXPECT_TRUE(lines.empty());
        ASSERT_TRUE(fs::exists(job.workingOutput)) << "round " << round;
        ASSERT_TRUE(fs::exists(list)) << "round " << round;
        const std::string latest = (scratch / ("x" + std::to_string(rewrites))).native();
        ASSERT_NE(recordText().find(latest + '\0'), std::string::npos) << "round " << round;
    }
    instances.clear();
    EXPECT_EQ(records.entries().size(), 1u);
}

}  // namespace
}  // namespace tavrolin
