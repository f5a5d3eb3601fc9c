#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "engine/FileOperations.h"
#include "model/TextMetrics.h"
#include "support/TempDir.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
using tavtest::readFile;
using tavtest::writeFile;
namespace fs = std::filesystem;

namespace {

int errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const fs::filesystem_error& error) {
        return error.code().value();
    }
    return 0;
}

// Splits a hidden name "." + kept + marker + UUID + tail, checks the UUID and the tail, and
// returns the kept part.
std::string keptPart(const std::string& name, const std::string& marker, const std::string& tail) {
    const std::size_t at = name.rfind(marker);
    EXPECT_NE(at, std::string::npos) << name;
    EXPECT_EQ(name.front(), '.');
    if (at == std::string::npos) {
        return {};
    }
    const std::string rest = name.substr(at + marker.size());
    EXPECT_EQ(rest.size(), 36 + tail.size()) << name;
    EXPECT_TRUE(Uuid::fromString(rest.substr(0, 36))) << name;
    EXPECT_EQ(rest.substr(std::min<std::size_t>(36, rest.size())), tail) << name;
    return name.substr(1, at - 1);
}

// True when `text` is whole repetitions of `unit`.
bool repeats(const std::string& text, const std::string& unit) {
    if (text.empty() || text.size() % unit.size() != 0) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += unit.size()) {
        if (text.compare(i, unit.size(), unit) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(MoveNoReplace, MovesAFileToAFreeName) {
    tavtest::TempDir dir;
    writeFile(dir / "a", "content");
    moveNoReplace(dir / "a", dir / "b");
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_EQ(readFile(dir / "b"), "content");
}

TEST(MoveNoReplace, NeverReplacesAnExistingName) {
    tavtest::TempDir dir;
    writeFile(dir / "new", "new");
    writeFile(dir / "old", "old");
    fs::create_symlink(dir / "nowhere", dir / "dangling");

    try {
        moveNoReplace(dir / "new", dir / "old");
        FAIL() << "the move replaced a file";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code().value(), EEXIST);
        EXPECT_EQ(error.path1(), dir / "old");  // the name the user knows comes first
        EXPECT_EQ(error.path2(), dir / "new");
    }
    EXPECT_EQ(errorOf([&] { moveNoReplace(dir / "new", dir / "dangling"); }), EEXIST);
    EXPECT_EQ(readFile(dir / "old"), "old");
    EXPECT_EQ(readFile(dir / "new"), "new");
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_EQ(errorOf([&] { moveNoReplace(dir / "missing", dir / "free"); }), ENOENT);
}

TEST(MoveNoReplace, LinkFallbackMovesAndRefusesTheSameWay) {
    tavtest::TempDir dir;
    writeFile(dir / "a", "content");
    writeFile(dir / "taken", "taken");
    moveNoReplaceByLink(dir / "a", dir / "b");
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_EQ(readFile(dir / "b"), "content");
    EXPECT_EQ(errorOf([&] { moveNoReplaceByLink(dir / "b", dir / "taken"); }), EEXIST);
    EXPECT_EQ(readFile(dir / "taken"), "taken");
    EXPECT_EQ(readFile(dir / "b"), "content");
    // Folders cannot be hard-linked: refused rather than renamed over anything.
    fs::create_directory(dir / "folder");
    EXPECT_EQ(errorOf([&] { moveNoReplaceByLink(dir / "folder", dir / "elsewhere"); }), ENOTSUP);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(HiddenNames, WorkingAndBackupNamesBesideTheTarget) {
    const Uuid uuid = Uuid::random();
    const std::string text = uuid.toString();
    EXPECT_EQ(hiddenSiblingName("/Movies/Trip.mkv", ".tmp-tavrolin-", uuid),
              fs::path("/Movies/.Trip.tmp-tavrolin-" + text + ".mkv"));
    EXPECT_EQ(hiddenSiblingName("/Movies/Trip", ".tmp-tavrolin-", uuid),
              fs::path("/Movies/.Trip.tmp-tavrolin-" + text));
    EXPECT_EQ(hiddenSiblingName("/Movies/a.b.mp4", ".tmp-tavrolin-", uuid),
              fs::path("/Movies/.a.b.tmp-tavrolin-" + text + ".mp4"));
    EXPECT_EQ(hiddenBackupName("/Movies/Trip.mkv", ".tavrolin-backup-", uuid),
              fs::path("/Movies/.Trip.mkv.tavrolin-backup-" + text));
}

TEST(HiddenNames, LongNamesAreShortenedAtCharacterBoundaries) {
    tavtest::TempDir dir;
    // 83 clusters of "e" + combining accent (3 bytes each) + ".mkv": a 253-byte name.
    std::string stem;
    for (int i = 0; i < 83; ++i) {
        stem += "e\u0301";
    }
    const fs::path target = dir / (stem + ".mkv");
    writeFile(target, "source");  // the file system takes the long name itself

    const fs::path working = hiddenSiblingName(target, ".tmp-tavrolin-", Uuid::random());
    const std::string name = working.filename().string();
    EXPECT_LE(name.size(), maximumFileNameBytes);
    EXPECT_TRUE(repeats(keptPart(name, ".tmp-tavrolin-", ".mkv"), "e\u0301")) << name;
    EXPECT_GT(name.size(), maximumFileNameBytes - 3);  // nothing shortened beyond need
    writeFile(working, "working");
    EXPECT_EQ(readFile(working), "working");

    const fs::path backup = hiddenBackupName(target, ".tavrolin-backup-", Uuid::random());
    const std::string backupName = backup.filename().string();
    EXPECT_LE(backupName.size(), maximumFileNameBytes);
    // Here the whole file name, extension included, is the part that may be shortened.
    const std::string keptName = keptPart(backupName, ".tavrolin-backup-", "");
    EXPECT_TRUE(repeats(keptName, "e\u0301")) << backupName;
    EXPECT_GT(backupName.size(), maximumFileNameBytes - 3);
    writeFile(backup, "backup");
    EXPECT_TRUE(fs::exists(backup));
}

TEST(HiddenNames, AnExtensionTooLongToKeepIsRefused) {
    const fs::path target = "/x/a." + std::string(240, 'e');
    EXPECT_EQ(errorOf([&] { hiddenSiblingName(target, ".tmp-tavrolin-", Uuid::random()); }),
              ENAMETOOLONG);
}

TEST(WriteNewFile, CreatesFlushesAndNeverReplaces) {
    tavtest::TempDir dir;
    const std::string text = "line \u00E9\n";
    writeNewFile(dir / "f.txt", text);
    EXPECT_EQ(readFile(dir / "f.txt"), text);

    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat info {};
    ASSERT_EQ(::stat((dir / "f.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

    EXPECT_EQ(errorOf([&] { writeNewFile(dir / "f.txt", "other"); }), EEXIST);
    EXPECT_EQ(readFile(dir / "f.txt"), text);
    EXPECT_EQ(errorOf([&] { writeNewFile(dir / "no" / "f.txt", "x"); }), ENOENT);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"f.txt"});
}
