#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "model/OutputFolderCheck.h"
#include "model/Uuid.h"
#include "support/ReadOnlyMount.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

TEST(OutputFolderCheck, AnswersWhatCreatingAFileWouldAndLeavesNothingBehind) {
    tavtest::TempDir temp;
    tavtest::ReadOnlyMount readOnly(temp / "mounted");
    fs::create_directories(temp / "plain");
    fs::create_directories(temp / "locked");
    fs::permissions(temp / "locked", fs::perms(0555));
    std::ofstream(temp / "plain" / "file.txt") << "x";
    // A probe that a killed check left: the next check of the folder removes it.
    std::ofstream(temp / "plain" / (".tavrolin-write-check-" + Uuid::random().toString()));
    // Root passes permission bits; the probe file answers truthfully for both.
    const std::string locked = ::geteuid() == 0 ? "" : "(Permission denied)";

    // Each folder with a part of its sentence; empty for a writable one.
    std::vector<std::pair<fs::path, std::string>> rows{
        {temp / "plain", ""},
        {temp / "plain" / "new" / "deeper", ""},
        {temp / "locked", locked},
        {temp / "plain" / "file.txt",
         "\u201Cfile.txt\u201D is not a folder. Choose another output folder."},
    };
    if (readOnly.isMounted()) {
        rows.push_back({readOnly.path(),
                        "Tavrolin cannot create files in the output folder \u201Cmounted\u201D "
                        "(Read-only file system). Choose another folder."});
    } else {
        std::cout << "[ SKIPPED ] read-only row: " << readOnly.skipReason() << '\n';
    }
    for (const auto& [folder, expected] : rows) {
        SCOPED_TRACE(folder.string());
        const auto problem = outputFolderProblem(folder);
        if (expected.empty()) {
            EXPECT_FALSE(problem) << *problem;
        } else {
            ASSERT_TRUE(problem);
            EXPECT_NE(problem->find(expected), std::string::npos) << *problem;
        }
    }
    for (const auto& entry : fs::recursive_directory_iterator(temp.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tavrolin-write-check"),
                  std::string::npos);
    }
    // The user's own names that only look like one stay.
    tavtest::TempDir other;
    const std::vector<std::string> lookAlikes = {
        ".tavrolin-write-check-0f8fad5b-d9cb-469f-a165-70867728950e",
        ".tavrolin-write-check-0F8FAD5B-D9CB-469F-A165-70867728950E.mkv", ".tavrolin-write-check-"};
    for (const auto& name : lookAlikes) {
        std::ofstream(other / name) << "mine";
    }
    EXPECT_FALSE(outputFolderProblem(other.path()));
    for (const auto& name : lookAlikes) {
        EXPECT_TRUE(fs::exists(other / name)) << name;
    }
}
