#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "process/ModuleLoader.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

TEST(ModuleLoader, OpensWhatTheModuleFolderHoldsAndNamesWhatIsWrong) {
    tavtest::TempDir folder;
    // A real shared library: the C library this test runs on, under another name.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::printf), &info), 0);
    fs::create_symlink(info.dli_fname, folder / "libreal.so");
    std::ofstream(folder / "libgarbage.so") << "not a shared library";
    fs::create_directories(folder / "libfolder.so");
    ASSERT_EQ(setenv("TAVROLIN_MODULE_DIR", folder.path().c_str(), 1), 0);
    EXPECT_EQ(moduleFolders(), std::vector<fs::path>{folder.path()});

    struct Row {
        const char* file;
        const char* entry;
        std::optional<ModuleUnavailableError::Case> error;
        const char* detail;
    };
    const Row rows[] = {
        {"libreal.so", "printf", std::nullopt, ""},
        {"libreal.so", "tavrolin_no_such_entry", ModuleUnavailableError::Case::unloadable,
         "no entry point"},
        {"libgarbage.so", "entry", ModuleUnavailableError::Case::unloadable, "libgarbage.so"},
        {"libfolder.so", "entry", ModuleUnavailableError::Case::missing, "is missing"},
        {"libabsent.so", "entry", ModuleUnavailableError::Case::missing, "is missing"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.entry);
        try {
            EXPECT_NE(moduleEntry("The test part", row.file, row.entry), nullptr);
            EXPECT_FALSE(row.error.has_value());
        } catch (const ModuleUnavailableError& error) {
            ASSERT_TRUE(row.error.has_value()) << error.what();
            EXPECT_EQ(error.errorCase(), *row.error);
            EXPECT_THAT(error.what(),
                        testing::AllOf(testing::StartsWith("The test part needs the module “" +
                                                           std::string(row.file) + "”"),
                                       testing::HasSubstr(row.detail),
                                       testing::HasSubstr("Reinstall Tavrolin")));
        }
    }

    // Without the variable, the folder beside the executable comes first, then lib/tavrolin.
    ASSERT_EQ(unsetenv("TAVROLIN_MODULE_DIR"), 0);
    const fs::path executable = fs::read_symlink("/proc/self/exe");
    const std::vector<fs::path> folders = moduleFolders();
    ASSERT_GE(folders.size(), 2u);
    EXPECT_EQ(folders[0], executable.parent_path());
    EXPECT_EQ(folders[1], executable.parent_path().parent_path() / "lib" / "tavrolin");
}

TEST(ModuleLoader, LooksInTheBuildTreeOnlyFromInsideIt) {
    const fs::path build = "/src/tavrolin/build/dev";
    // The executable's folder, and whether the build tree is looked in from there.
    const std::pair<fs::path, bool> rows[] = {
        {build, true},
        {build / "tests", true},
        {build / "bench" / ".." / "tests", true},
        {"/usr/bin", false},
        {"/src/tavrolin/build/dev2", false},  // a sibling whose name starts alike
        {"/src/tavrolin/build", false},
        {build / ".." / "release", false},
    };
    for (const auto& [executableFolder, looksInBuildTree] : rows) {
        SCOPED_TRACE(executableFolder.string());
        const std::vector<fs::path> folders = moduleFolders(executableFolder, build);
        ASSERT_EQ(folders.size(), looksInBuildTree ? 3u : 2u);
        EXPECT_EQ(folders[0], executableFolder);
        EXPECT_EQ(folders.back() == build, looksInBuildTree);
    }
    EXPECT_EQ(moduleFolders("/usr/bin", {}),
              (std::vector<fs::path>{"/usr/bin", "/usr/lib/tavrolin"}));
}
