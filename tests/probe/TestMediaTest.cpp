#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;
using tavtest::runTool;
using tavtest::TempDir;
using tavtest::TestMedia;

// The generated media must have the layout the other tests rely on.
TEST(TestMediaTest, GeneratesEveryFileOnceInOneFolder) {
    const TestMedia& media = TestMedia::shared();
    EXPECT_EQ(&media, &TestMedia::shared());
    for (const fs::path& file : {media.matroska, media.mp4ClipA, media.mp4ClipB, media.rawH264,
                                 media.truncated, media.randomBytes}) {
        EXPECT_GT(fs::file_size(file), 0u) << file;
        EXPECT_EQ(file.parent_path(), media.folder);
    }
    EXPECT_EQ(fs::file_size(media.empty), 0u);
    EXPECT_EQ(fs::file_size(media.randomBytes), 64u * 1024u);

    std::set<std::string> names;
    for (const fs::path& file : media.oddNames) {
        EXPECT_EQ(fs::file_size(file), fs::file_size(media.mp4ClipA)) << file;
        names.insert(file.filename().string());
    }
    EXPECT_EQ(names.size(), media.oddNames.size());
    EXPECT_TRUE(names.count("latin1 caf\xE9.mp4"));
    EXPECT_TRUE(names.count("-leading-dash.mp4"));
    EXPECT_TRUE(names.count(std::string(210, 'n') + ".mp4"));
}

TEST(TestMediaTest, GenerateCachesByNameAndRunToolReportsStatus) {
    auto first = TestMedia::generate(
        "tone.wav", {"-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "pcm_s16le"});
    auto stamp = fs::last_write_time(first);
    auto second = TestMedia::generate("tone.wav", {"-this-would-fail"});
    EXPECT_EQ(first, second);
    EXPECT_EQ(fs::last_write_time(second), stamp);
    EXPECT_THROW(TestMedia::generate("bad.wav", {"-no-such-option"}), std::exception);

    std::string output;
    EXPECT_EQ(runTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of",
                       "csv=p=0", first.string()},
                      &output),
              0);
    EXPECT_EQ(output, "pcm_s16le\n");
    EXPECT_NE(runTool({"ffprobe", "-v", "error", TestMedia::shared().randomBytes.string()}), 0);
    EXPECT_EQ(runTool({"sh", "-c", "exit 7"}), 7);
}

// A process id that was just in use and whose process is gone.
pid_t finishedProcessId() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(TestMediaTest, FoldersOfProcessesThatDiedAreRemovedLater) {
    TempDir root;
    const std::string dead = std::to_string(finishedProcessId());
    const std::string self = std::to_string(::getpid());
    for (const std::string& name :
         {"tavrolin-test-" + dead + "-aaaaaa", "tavrolin-media-" + dead + "-bbbbbb",
          "tavrolin-test-" + self + "-cccccc", std::string("tavrolin-test-1-dddddd"),
          "tavrolin-test-" + dead, "tavrolin-bench-" + dead + "-eeeeee", "other-" + dead}) {
        fs::create_directories(root / name / "inner");
    }
    // A read-only folder inside does not stop the removal.
    fs::permissions(root / ("tavrolin-test-" + dead + "-aaaaaa") / "inner", fs::perms::owner_read);
    // A plain file with such a name is not a folder of ours.
    std::ofstream(root / ("tavrolin-media-" + dead + "-ffffff")) << "x";

    tavtest::removeStaleTestFolders(root.path());
    std::vector<std::string> kept{"other-" + dead,
                                  "tavrolin-bench-" + dead + "-eeeeee",
                                  "tavrolin-media-" + dead + "-ffffff",
                                  "tavrolin-test-" + dead,
                                  "tavrolin-test-1-dddddd",
                                  "tavrolin-test-" + self + "-cccccc"};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(root.entries(), kept);

    // This process's own folders carry its id.
    const auto mine = TestMedia::shared().folder.filename().string();
    EXPECT_TRUE(mine.starts_with("tavrolin-media-" + self + "-")) << mine;
    EXPECT_TRUE(root.path().filename().string().starts_with("tavrolin-test-" + self + "-"));
}

}  // namespace
