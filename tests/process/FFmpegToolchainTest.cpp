#include "process/FFmpegToolchain.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "model/MediaProcessingError.h"
#include "support/TempDir.h"

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

fs::path writeFile(const fs::path& path, fs::perms permissions) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\nexit 0\n";
    fs::permissions(path, permissions);
    return path;
}

fs::path makeTool(const fs::path& path) {
    return writeFile(path, fs::perms(0755));
}

// A toolchain layout in a temporary folder: two search folders, a bundle, a custom folder.
class ToolLocationTest : public ::testing::Test {
  protected:
    tavtest::TempDir root;
    fs::path first = root / "local-bin";
    fs::path second = root / "bin";
    fs::path bundle = root / "app" / "bin";
    fs::path libexec = root / "app" / "libexec" / "tavrolin";
    fs::path custom = root / "custom";
    std::shared_ptr<InMemoryPreferencesStore> preferences =
        std::make_shared<InMemoryPreferencesStore>();

    void SetUp() override {
        for (const auto& folder : {first, second, bundle, libexec, custom}) {
            fs::create_directories(folder);
        }
    }

    ToolLocations locations() const {
        ToolLocations result;
        result.preferences = preferences;
        result.bundledFFmpegCandidates = {bundle / "ffmpeg", libexec / "ffmpeg"};
        result.searchFolders = {first, second};
        return result;
    }

    static std::string messageOf(const ToolLocations& locations) {
        try {
            FFmpegToolchain::resolve(locations);
        } catch (const MediaProcessingError& error) {
            EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::toolNotFound);
            return error.what();
        }
        return "resolved";
    }
};

TEST(IsExecutableFile, RequiresARegularFileWithExecutePermissionAfterLinks) {
    tavtest::TempDir root;
    const auto tool = makeTool(root / "tool");
    const auto plain = writeFile(root / "plain", fs::perms(0644));
    fs::create_directory(root / "folder");
    fs::permissions(root / "folder", fs::perms(0755));
    fs::create_symlink(tool, root / "link-to-tool");
    fs::create_symlink(plain, root / "link-to-plain");
    fs::create_symlink(root / "gone", root / "dangling");

    EXPECT_TRUE(isExecutableFile(tool));
    EXPECT_TRUE(isExecutableFile(root / "link-to-tool"));
    EXPECT_FALSE(isExecutableFile(plain));
    EXPECT_FALSE(isExecutableFile(root / "link-to-plain"));
    EXPECT_FALSE(isExecutableFile(root / "folder"));
    EXPECT_FALSE(isExecutableFile(root / "dangling"));
    EXPECT_FALSE(isExecutableFile(root / "missing"));
    EXPECT_FALSE(isExecutableFile(""));
}

TEST_F(ToolLocationTest, CustomPathWithItsOwnProbeWinsOverBundleAndSearchFolders) {
    for (const auto& folder : {first, second, bundle, custom}) {
        makeTool(folder / "ffmpeg");
        makeTool(folder / "ffprobe");
    }
    preferences->setString("customFFmpegPath", (custom / "ffmpeg").string());
    const auto toolchain = FFmpegToolchain::resolve(locations());
    EXPECT_EQ(toolchain, (FFmpegToolchain{custom / "ffmpeg", custom / "ffprobe"}));
}

TEST_F(ToolLocationTest, CustomPathUnderAnyNameLooksForProbeBesideIt) {
    makeTool(custom / "my-ffmpeg-build");
    makeTool(custom / "ffprobe");
    makeTool(second / "ffprobe");
    preferences->setString("customFFmpegPath", (custom / "my-ffmpeg-build").string());
    const auto toolchain = FFmpegToolchain::resolve(locations());
    EXPECT_EQ(toolchain.ffmpeg, custom / "my-ffmpeg-build");
    EXPECT_EQ(toolchain.ffprobe, custom / "ffprobe");
}

TEST_F(ToolLocationTest, CustomPathWithoutProbeTakesProbeFromSearchFolders) {
    makeTool(custom / "ffmpeg");
    makeTool(second / "ffprobe");
    preferences->setString("customFFmpegPath", (custom / "ffmpeg").string());
    const auto toolchain = FFmpegToolchain::resolve(locations());
    EXPECT_EQ(toolchain, (FFmpegToolchain{custom / "ffmpeg", second / "ffprobe"}));
}

TEST_F(ToolLocationTest, UnusableCustomPathFallsBackToTheNextCandidate) {
    makeTool(bundle / "ffmpeg");
    makeTool(bundle / "ffprobe");
    const auto expected = FFmpegToolchain{bundle / "ffmpeg", bundle / "ffprobe"};

    // Missing, a directory, a non-executable file, and the empty text all fall through.
    writeFile(custom / "not-executable", fs::perms(0644));
    fs::create_directory(custom / "ffmpeg-folder");
    for (const auto& setting : {(custom / "missing").string(), (custom / "ffmpeg-folder").string(),
                                (custom / "not-executable").string(), std::string()}) {
        preferences->setString("customFFmpegPath", setting);
        EXPECT_EQ(FFmpegToolchain::resolve(locations()), expected) << "setting: " << setting;
    }
    preferences->remove("customFFmpegPath");
    EXPECT_EQ(FFmpegToolchain::resolve(locations()), expected);

    // No preferences store at all behaves like an absent setting.
    auto withoutPreferences = locations();
    withoutPreferences.preferences = nullptr;
    EXPECT_EQ(FFmpegToolchain::resolve(withoutPreferences), expected);
}

TEST_F(ToolLocationTest, BundledCopiesComeInOrderBeforeSearchFolders) {
    makeTool(libexec / "ffmpeg");
    makeTool(first / "ffmpeg");
    makeTool(first / "ffprobe");
    // The libexec copy has no ffprobe beside it: ffprobe comes from the search folders.
    EXPECT_EQ(FFmpegToolchain::resolve(locations()),
              (FFmpegToolchain{libexec / "ffmpeg", first / "ffprobe"}));

    makeTool(bundle / "ffmpeg");
    makeTool(bundle / "ffprobe");
    EXPECT_EQ(FFmpegToolchain::resolve(locations()),
              (FFmpegToolchain{bundle / "ffmpeg", bundle / "ffprobe"}));
}

TEST_F(ToolLocationTest, SearchFoldersAreTriedInOrder) {
    makeTool(second / "ffmpeg");
    makeTool(second / "ffprobe");
    EXPECT_EQ(FFmpegToolchain::resolve(locations()),
              (FFmpegToolchain{second / "ffmpeg", second / "ffprobe"}));

    makeTool(first / "ffmpeg");
    // ffprobe beside the chosen ffmpeg is missing, so the search folders supply it.
    EXPECT_EQ(FFmpegToolchain::resolve(locations()),
              (FFmpegToolchain{first / "ffmpeg", second / "ffprobe"}));

    // A folder named ffmpeg in the first search folder is no executable.
    fs::remove(first / "ffmpeg");
    fs::create_directory(first / "ffmpeg");
    EXPECT_EQ(FFmpegToolchain::resolve(locations()).ffmpeg, second / "ffmpeg");
}

TEST_F(ToolLocationTest, MissingToolsGiveTheirMessages) {
    EXPECT_EQ(messageOf(locations()),
              "FFmpeg was not found. Install FFmpeg or choose its binary in Settings.");

    makeTool(bundle / "ffmpeg");
    writeFile(first / "ffprobe", fs::perms(0644));  // present but not executable
    EXPECT_EQ(messageOf(locations()),
              "ffprobe was not found. Install FFmpeg or choose its binary in Settings.");
}

TEST_F(ToolLocationTest, RelativeCustomPathIsTakenFromTheWorkingFolderAndMadeAbsolute) {
    makeTool(custom / "ffmpeg");
    makeTool(custom / "ffprobe");
    const auto previous = fs::current_path();
    fs::current_path(root.path());
    preferences->setString("customFFmpegPath", "custom/ffmpeg");
    const auto toolchain = FFmpegToolchain::resolve(locations());
    fs::current_path(previous);
    EXPECT_EQ(toolchain, (FFmpegToolchain{custom / "ffmpeg", custom / "ffprobe"}));
}

TEST(MediaProcessingError, MessagesAndPayloads) {
    const auto exists = MediaProcessingError::outputExists("clip-converted.mp4");
    EXPECT_STREQ(exists.what(),
                 "An output named \u201Cclip-converted.mp4\u201D already exists. Choose another "
                 "folder or name.");
    EXPECT_EQ(exists.errorCase(), MediaProcessingError::Case::outputExists);
    EXPECT_EQ(exists.payload(), "clip-converted.mp4");

    const auto missing = MediaProcessingError::toolNotFound("ffprobe");
    EXPECT_EQ(missing.payload(), "ffprobe");

    for (const auto& error : {MediaProcessingError::invalidRequest("Choose an output folder."),
                              MediaProcessingError::processFailed("Choose an output folder.")}) {
        EXPECT_STREQ(error.what(), "Choose an output folder.");
        EXPECT_EQ(error.payload(), "Choose an output folder.");
    }
}

TEST(ToolLocations, StandardLooksBesideTheRunningExecutableThenInLibexec) {
    const auto self = fs::read_symlink("/proc/self/exe");
    auto preferences = std::make_shared<InMemoryPreferencesStore>();
    const auto locations = ToolLocations::standard(preferences);
    EXPECT_EQ(locations.preferences, preferences);
    ASSERT_EQ(locations.bundledFFmpegCandidates.size(), 2u);
    EXPECT_EQ(locations.bundledFFmpegCandidates[0], self.parent_path() / "ffmpeg");
    EXPECT_EQ(locations.bundledFFmpegCandidates[1],
              self.parent_path().parent_path() / "libexec" / "tavrolin" / "ffmpeg");
    EXPECT_EQ(locations.searchFolders, (std::vector<fs::path>{"/usr/local/bin", "/usr/bin"}));
}

TEST(ToolLocations, StandardResolvesTheInstalledTools) {
    // The machine has Debian's ffmpeg; with nothing bundled it is found in /usr/bin.
    const auto toolchain = FFmpegToolchain::resolve(
        ToolLocations::standard(std::make_shared<InMemoryPreferencesStore>()));
    EXPECT_TRUE(isExecutableFile(toolchain.ffmpeg));
    EXPECT_TRUE(isExecutableFile(toolchain.ffprobe));
    EXPECT_EQ(toolchain.ffmpeg.filename(), "ffmpeg");
    EXPECT_EQ(toolchain.ffprobe.filename(), "ffprobe");
}

}  // namespace
}  // namespace tavrolin
