#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/SubtitleDocumentRenderer.h"
#include "engine/SubtitleFileExporter.h"
#include "model/ErrorMessage.h"
#include "model/Transcription.h"
#include "support/TempDir.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
using tavtest::readFile;
namespace fs = std::filesystem;

namespace {

const std::vector<SubtitleCue> cues{SubtitleCue{1, 1, 2, "Caf\u00E9 & <b>", 0.5},
                                    SubtitleCue{2, 2, 3, "Bye.", std::nullopt}};

}  // namespace

TEST(SubtitleFileExporter, WritesTheRenderedDocumentAndNothingElse) {
    tavtest::TempDir dir;
    SubtitleFileExporter exporter;
    exporter.exportFile(cues, SubtitleFileFormat::webVTT, dir / "Trip.vtt");
    exporter.exportFile(cues, SubtitleFileFormat::srt, dir / "Trip.srt");
    EXPECT_EQ(readFile(dir / "Trip.vtt"),
              SubtitleDocumentRenderer{}.render(cues, SubtitleFileFormat::webVTT));
    EXPECT_EQ(readFile(dir / "Trip.srt"),
              SubtitleDocumentRenderer{}.render(cues, SubtitleFileFormat::srt));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Trip.srt", "Trip.vtt"}));
}

TEST(SubtitleFileExporter, AnExistingDestinationIsLeftUntouched) {
    tavtest::TempDir dir;
    std::ofstream(dir / "Trip.srt") << "mine";
    fs::create_symlink(dir / "gone.srt", dir / "link.srt");
    SubtitleFileExporter exporter;
    for (const char* name : {"Trip.srt", "link.srt"}) {
        try {
            exporter.exportFile(cues, SubtitleFileFormat::srt, dir / name);
            FAIL() << "exported over " << name;
        } catch (const TranscriptionError& error) {
            EXPECT_EQ(error.errorCase(), TranscriptionError::Case::outputExists);
            EXPECT_STREQ(error.what(),
                         "A file already exists at that location. Choose a new filename.");
        }
    }
    EXPECT_EQ(readFile(dir / "Trip.srt"), "mine");
    EXPECT_FALSE(fs::exists(dir / "gone.srt"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Trip.srt", "link.srt"}));
}

TEST(SubtitleFileExporter, FailuresLeaveNoTemporaryFile) {
    tavtest::TempDir dir;
    SubtitleFileExporter exporter;
    EXPECT_THROW(exporter.exportFile({}, SubtitleFileFormat::srt, dir / "a.srt"),
                 TranscriptionError);
    EXPECT_THROW(exporter.exportFile({SubtitleCue{1, 2, 1, "x", {}}}, SubtitleFileFormat::srt,
                                     dir / "a.srt"),
                 TranscriptionError);

    try {
        exporter.exportFile(cues, SubtitleFileFormat::srt, dir / "missing" / "a.srt");
        FAIL() << "exported into a missing folder";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_EQ(userMessage(error),
                  "\u201C"
                  "a.srt"
                  "\u201D: No such file or directory");
    }
    EXPECT_TRUE(dir.entries().empty());
}

// A file size limit fails the write half-way with EFBIG, as a full disk fails it with ENOSPC.
TEST(SubtitleFileExporter, AWriteThatFindsNoRoomSaysSoAndLeavesNothing) {
    tavtest::TempDir dir;
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string message;
    try {
        SubtitleFileExporter{}.exportFile(cues, SubtitleFileFormat::srt, dir / "a.srt");
    } catch (const MediaProcessingError& e) {
        message = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(message, "There is not enough free space in \u201C" + dir.path().filename().string() +
                           "\u201D to finish \u201Ca.srt\u201D. Free some space, then try again.");
    EXPECT_TRUE(dir.entries().empty());
}

TEST(SubtitleFileExporter, RacingExportsNeverReplaceEachOther) {
    // Separate exporters do not wait for each other, so some pass the existence check together
    // and only the no-replace move stops them.
    tavtest::TempDir dir;
    const fs::path destination = dir / "race.srt";
    constexpr int racers = 8;
    std::atomic<int> ready{0};
    std::atomic<int> succeeded{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < racers; ++i) {
        threads.emplace_back([&, i] {
            std::vector<SubtitleCue> own{SubtitleCue{1, 0, 1, "racer " + std::to_string(i), {}}};
            SubtitleFileExporter exporter;
            ++ready;
            while (ready < racers) {
                std::this_thread::yield();
            }
            try {
                exporter.exportFile(own, SubtitleFileFormat::srt, destination);
                ++succeeded;
            } catch (const TranscriptionError& error) {
                if (error.errorCase() == TranscriptionError::Case::outputExists) {
                    ++refused;
                }
            } catch (const fs::filesystem_error& error) {
                if (error.code().value() == EEXIST) {
                    ++refused;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(succeeded, 1);
    EXPECT_EQ(refused, racers - 1);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"race.srt"});
    EXPECT_TRUE(readFile(destination).starts_with("1\n00:00:00,000 --> 00:00:01,000\nracer "));
}
