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

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Points TMPDIR at a test's folder while it lives; children forked meanwhile inherit it.
struct TemporaryRootAt {
    explicit TemporaryRootAt(const fs::path& folder) {
        if (const char* root = std::getenv("TMPDIR")) {
            old = root;
        }
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryRootAt() { old ? ::setenv("TMPDIR", old->c_str(), 1) : ::unsetenv("TMPDIR"); }
    std::optional<std::string> old;
};

// Runs `body` in a child process that then ends without any clean-up, as a killed app does,
// and returns how it ended.
int inKilledRun(const std::function<void()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return status;
}

// A record an ended run left, as its JobRecord wrote it.
void leaveRecord(const fs::path& records, const std::function<void(JobRecord&)>& fill) {
    inKilledRun([&] { fill(*new JobRecord(records)); });
}

void put(const fs::path& file, const std::string& contents) {
    fs::create_directories(file.parent_path());
    tavtest::writeFile(file, contents);
}

fs::path workingNameOf(const fs::path& output) {
    return hiddenSiblingName(output, workingMarker, Uuid::random());
}

// A job of `records` replacing `film` with "new", killed just before or just after the swap.
void killReplacementAtSwap(const fs::path& records, const fs::path& film, bool afterSwap) {
    const int status = inKilledRun([&] {
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
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

TEST(JobLeftovers, AKilledHostTakesItsFFmpegAlongAndTheNextStartRemovesOnlyWhatItRecorded) {
    const fs::path clip = tavtest::TestMedia::generate(
        "ten-seconds.mp4", {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=10:duration=10", "-c:v",
                            "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    tavtest::TempDir scratch;
    for (const char* name : {"out", "tmp", "state"}) {
        fs::create_directory(scratch / name);
    }
    const fs::path out = scratch / "out";
    const fs::path pidFile = scratch / "ffmpeg.pid";
    const TemporaryRootAt temporaryRoot(scratch / "tmp");
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
                                      scratch / "state");
            processor.process(JoinRequest{{clip, clip}, out / "clip-clip.mkv"}, {}, {});
        } catch (...) {
        }
        ::_exit(0);
    }
    const auto working = [&] {
        for (const auto& name : namesIn(out)) {
            if (name.starts_with(".clip-clip.tmp-tavrolin-")) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitFor([&] { return fs::exists(pidFile) && working(); }));
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
    JobRecord running(scratch / "state");
    const fs::path runningCopy =
        hiddenSiblingName(out / "other.mkv", ".tmp-tavrolin-", Uuid::random());
    running.addWorkingOutput(runningCopy, out / "other.mkv");
    std::ofstream(runningCopy) << "being written";
    ASSERT_EQ(namesIn(scratch / "state").size(), 2u);

    EXPECT_EQ(
        removeJobLeftovers(scratch / "state"),
        std::vector<std::string>{
            "Removed an unfinished copy of \u201Cclip-clip.mkv\u201D left by an earlier run."});
    EXPECT_EQ(namesIn(out), (std::vector<std::string>{".clip-clip.tmp-notes.mkv",
                                                      runningCopy.filename().string()}));
    EXPECT_TRUE(fs::is_empty(scratch / "tmp"));
    EXPECT_EQ(namesIn(scratch / "state").size(), 1u);
    EXPECT_TRUE(removeJobLeftovers(scratch / "state").empty());
}

// Only names of exactly the app's shape go; the record goes unless something of that shape
// could not be reached. A kill at a replacement's swap, before or after it, leaves the original
// or the new file under its name and nothing hidden beside it.
TEST(JobLeftovers, ARecordRemovesOnlyWhatHasTheAppsOwnShape) {
    tavtest::TempDir scratch;
    const fs::path videos = scratch / "videos";
    const fs::path tmp = scratch / "tmp";
    fs::create_directories(videos);
    fs::create_directories(tmp);
    const TemporaryRootAt temporaryRoot(tmp);
    const fs::path film = videos / "Film.mkv";
    const std::string concat = "Tavrolin-Concat-" + Uuid::random().toString() + ".txt";
    const std::string report = "Tavrolin-Report-" + Uuid::random().toString() + ".fifo";
    const fs::path working = workingNameOf(film);
    const fs::path longOutput = videos / (std::string(300, 'x') + ".mkv");
    const fs::path backup =
        hiddenBackupName(film, SafeFileReplacement::backupMarker, Uuid::random());

    struct Row {
        const char* name;
        std::function<void()> make;
        std::function<void(JobRecord&)> record;  // none: `make` left the record
        std::vector<std::string> kept;           // what stays in videos/ and tmp/, "name=contents"
        std::vector<std::string> lines;
    };
    const std::vector<Row> rows = {
        {"the user's output named as its own working copy",
         [&] { put(film, "film"); },
         [&](JobRecord& r) { r.addWorkingOutput(film, film); },
         {"Film.mkv=film"},
         {}},
        {"a hidden file with the marker that is no working name of the output",
         [&] { put(videos / ".notes.tmp-tavrolin-x.mkv", "notes"); },
         [&](JobRecord& r) { r.addWorkingOutput(videos / ".notes.tmp-tavrolin-x.mkv", film); },
         {".notes.tmp-tavrolin-x.mkv=notes"},
         {}},
        {"a working name recorded for an output in another folder",
         [&] { put(working, "mine"); },
         [&](JobRecord& r) { r.addWorkingOutput(working, scratch / "elsewhere" / "Film.mkv"); },
         {working.filename().string() + "=mine"},
         {}},
        {"a path through ..",
         [&] { put(working, "mine"); },
         [&](JobRecord& r) {
             r.addWorkingOutput(videos / "sub" / ".." / working.filename(), film);
         },
         {working.filename().string() + "=mine"},
         {}},
        {"a symbolic link under the working name",
         [&] {
             put(film, "film");
             fs::create_symlink(film, working);
         },
         [&](JobRecord& r) { r.addWorkingOutput(working, film); },
         {working.filename().string() + "=film", "Film.mkv=film"},
         {}},
        {"a user's folder named Tavrolin-Exports",
         [&] { put(videos / "Tavrolin-Exports" / "clip.mkv", "clip"); },
         [&](JobRecord& r) { r.setTemporaryFolder(videos / "Tavrolin-Exports"); },
         {"Tavrolin-Exports/clip.mkv=clip"},
         {}},
        {"a temporary folder holding a file the app never writes",
         [&] {
             put(tmp / "Tavrolin-a1B2c3" / concat, "list");
             put(tmp / "Tavrolin-a1B2c3" / "notes.txt", "notes");
         },
         [&](JobRecord& r) { r.setTemporaryFolder(tmp / "Tavrolin-a1B2c3"); },
         {"Tavrolin-a1B2c3/" + concat + "=list", "Tavrolin-a1B2c3/notes.txt=notes"},
         {}},
        {"a FIFO under a list's name",
         [&] {
             fs::create_directory(tmp / "Tavrolin-a1B2c3");
             ::mkfifo((tmp / "Tavrolin-a1B2c3" / concat).c_str(), 0600);
         },
         [&](JobRecord& r) { r.setTemporaryFolder(tmp / "Tavrolin-a1B2c3"); },
         {"Tavrolin-a1B2c3/" + concat + "="},
         {}},
        {"a symbolic link under a temporary folder's name",
         [&] {
             put(videos / "clip.mkv", "clip");
             fs::create_directory_symlink(videos, tmp / "Tavrolin-a1B2c3");
         },
         [&](JobRecord& r) { r.setTemporaryFolder(tmp / "Tavrolin-a1B2c3"); },
         {"Tavrolin-a1B2c3=", "clip.mkv=clip"},
         {}},
        {"a temporary folder of the app's, still empty",
         [&] { fs::create_directory(tmp / "Tavrolin-Q1w2E3"); },
         [&](JobRecord& r) { r.setTemporaryFolder(tmp / "Tavrolin-Q1w2E3"); },
         {},
         {}},
        {"the app's own items, a long name shortened among them",
         [&] {
             put(tmp / "Tavrolin-a1B2c3" / concat, "list");
             ::mkfifo((tmp / "Tavrolin-a1B2c3" / report).c_str(), 0600);
             put(working, "half");
         },
         [&](JobRecord& r) {
             r.addWorkingOutput(working, film);
             r.setTemporaryFolder(tmp / "Tavrolin-a1B2c3");
             const fs::path longWorking = workingNameOf(longOutput);
             put(longWorking, "half");
             r.addWorkingOutput(longWorking, longOutput);
         },
         {},
         {"Removed an unfinished copy of \u201CFilm.mkv\u201D left by an earlier run.",
          "Removed an unfinished copy of \u201C" + longOutput.filename().string() +
              "\u201D left by an earlier run."}},
        {"a backup beside a whole replaced file",
         [&] {
             put(film, "new");
             put(backup, "old");
         },
         [&](JobRecord& r) { r.addBackup(backup, film); },
         {"Film.mkv=new"},
         {"Removed the backup of \u201CFilm.mkv\u201D left by an earlier run; the replaced "
          "file is whole."}},
        {"a backup whose original is gone",
         [&] { put(backup, "old"); },
         [&](JobRecord& r) { r.addBackup(backup, film); },
         {"Film.mkv=old"},
         {"Restored \u201CFilm.mkv\u201D from its backup left by an earlier run."}},
        {"a kill before the replacement's swap",
         [&] {
             put(film, "old");
             killReplacementAtSwap(scratch / "state", film, false);
         },
         {},
         {"Film.mkv=old"},
         {"Removed an unfinished copy of \u201CFilm.mkv\u201D left by an earlier run."}},
        {"a kill after the replacement's swap",
         [&] {
             put(film, "old");
             killReplacementAtSwap(scratch / "state", film, true);
         },
         {},
         {"Film.mkv=new"},
         {"Removed the backup of \u201CFilm.mkv\u201D left by an earlier run; the replaced file "
          "is whole."}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path records = scratch / "state";
        ASSERT_NO_FATAL_FAILURE(row.make());
        if (row.record) {
            leaveRecord(records, row.record);
        }
        ASSERT_EQ(namesIn(records).size(), 1u);

        EXPECT_EQ(removeJobLeftovers(records), row.lines);
        std::vector<std::string> kept;
        for (const auto& root : {videos, tmp}) {
            for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
                if (!it->is_directory() || it->is_symlink()) {
                    const bool file = it->is_regular_file();
                    kept.push_back(it->path().lexically_relative(root).string() + "=" +
                                   (file ? tavtest::readFile(it->path()) : ""));
                }
            }
        }
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(kept, row.kept);
        EXPECT_TRUE(fs::is_empty(records));
        tavtest::removeTestFolder(records);
        for (const auto& root : {videos, tmp}) {
            tavtest::removeTestFolder(root);
            fs::create_directory(root);
        }
    }

    // A working copy on a drive that is not mounted: the record stays until the drive is back.
    const fs::path onDrive = videos / "drive" / "Film.mkv";
    const fs::path copy = workingNameOf(onDrive);
    leaveRecord(scratch / "state", [&](JobRecord& r) { r.addWorkingOutput(copy, onDrive); });
    EXPECT_TRUE(removeJobLeftovers(scratch / "state").empty());
    EXPECT_EQ(namesIn(scratch / "state").size(), 1u);
    put(copy, "half");
    EXPECT_EQ(removeJobLeftovers(scratch / "state"),
              std::vector<std::string>{
                  "Removed an unfinished copy of \u201CFilm.mkv\u201D left by an earlier run."});
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::is_empty(scratch / "state"));
}

// Every join, chapters, replacement and split with chapters rewrites its record while it runs.
TEST(JobLeftovers, ARunningJobsRecordRewrittenDuringOtherInstancesCleanUpsLosesNothing) {
    tavtest::TempDir scratch;
    const fs::path records = scratch / "state";
    JobFiles job(records);
    job.useWorkingOutput(workingNameOf(scratch / "join.mkv"), scratch / "join.mkv");
    put(job.workingOutput, "being written");
    const fs::path list = job.writeTemporaryInput(concatListInput, "file 'a'");

    // Other instances start meanwhile, on threads of their own: flock tells their open files
    // apart as it tells processes apart.
    std::atomic<bool> done = false;
    std::atomic<int> sweeps = 0;
    std::vector<std::jthread> instances;
    for (int i = 0; i < 3; ++i) {
        instances.emplace_back([&] {
            while (!done) {
                EXPECT_TRUE(removeJobLeftovers(records).empty());
                ++sweeps;
            }
        });
    }
    // And one whose every record is rewritten between its open and its lock.
    for (int round = 0; round < 200 || sweeps < 200; ++round) {
        const auto lines = removeJobLeftovers(
            records, [&](const fs::path&) { job.recordBackup(scratch / "x", scratch / "y"); });
        EXPECT_TRUE(lines.empty());
        ASSERT_TRUE(fs::exists(job.workingOutput)) << "round " << round;
        ASSERT_TRUE(fs::exists(list)) << "round " << round;
    }
    done = true;
    instances.clear();
    EXPECT_EQ(namesIn(records).size(), 1u);
}

}  // namespace
}  // namespace tavrolin
