#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "rename/FileBrowserOrder.h"
#include "rename/RenameError.h"
#include "rename/RenameJournal.h"
#include "rename/RenamePlanner.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t maxInt = std::numeric_limits<std::int64_t>::max();

std::string planText(const std::vector<RenamePlanItem>& plan) {
    std::string text;
    for (const auto& item : plan) {
        text += item.source.string() + " > " + item.destination.string() + "\n";
    }
    return text;
}

}  // namespace

TEST(RenamePlanner, NamesNumbersAndErrorsFollowTheRule) {
    struct Row {
        const char* name;
        std::vector<fs::path> files;
        RenameRule rule;
        std::unordered_set<std::string> existing;
        std::string expected;  // the plan as text, or the error message
    };
    const std::vector<Row> rows = {
        {"counts up from the starting episode, keeping each extension's case",
         {"/tv/a.mkv", "/tv/b.MP4"},
         {"Show", 1, 9, 2},
         {},
         "/tv/a.mkv > /tv/Show - S01E09.mkv\n/tv/b.MP4 > /tv/Show - S01E10.MP4\n"},
        {"padding never cuts and pads both numbers",
         {"/tv/a.mkv"},
         {"Show", 123, 7, 3},
         {},
         "/tv/a.mkv > /tv/Show - S123E007.mkv\n"},
        {"padding 1 keeps a two-digit season",
         {"/tv/a.mkv"},
         {"Show", 12, 1, 1},
         {},
         "/tv/a.mkv > /tv/Show - S12E1.mkv\n"},
        {"trimmed show name; slashes, colons and NUL become dashes",
         {"/tv/a.mkv"},
         {std::string("  A/B: Part\0x \n", 15), 1, 1, 2},
         {},
         "/tv/a.mkv > /tv/A-B- Part-x - S01E01.mkv\n"},
        {"the folder through . and .. is one folder; sources stay as given",
         {"/tv/./a.mkv", "/tv/x/../b.mkv"},
         {"S", 2, 1, 4},
         {},
         "/tv/./a.mkv > /tv/S - S0002E0001.mkv\n/tv/x/../b.mkv > /tv/S - S0002E0002.mkv\n"},
        {"names of the batch may be reused: an exchange",
         {"/tv/S - S01E02.mkv", "/tv/S - S01E01.mkv"},
         {"S", 1, 1, 2},
         {"/tv/S - S01E01.mkv", "/tv/S - S01E02.mkv"},
         "/tv/S - S01E02.mkv > /tv/S - S01E01.mkv\n/tv/S - S01E01.mkv > /tv/S - S01E02.mkv\n"},
        {"a case-only change is no conflict with the file's own name",
         {"/tv/show - s01e01.mkv"},
         {"Show", 1, 1, 2},
         {"/tv/show - s01e01.mkv"},
         "/tv/show - s01e01.mkv > /tv/Show - S01E01.mkv\n"},
        {"an unrelated file with the new name",
         {"/tv/a.mkv", "/tv/b.mkv"},
         {"Show", 1, 1, 2},
         {"/tv/a.mkv", "/tv/b.mkv", "/tv/Show - S01E02.mkv"},
         "A different file named \u201CShow - S01E02.mkv\u201D already exists."},
        {"an unrelated file differing in case only is another file",
         {"/tv/a.mkv"},
         {"Show", 1, 1, 2},
         {"/tv/a.mkv", "/tv/show - s01e01.mkv"},
         "/tv/a.mkv > /tv/Show - S01E01.mkv\n"},
        {"no files", {}, {"", 0, 0, 0}, {}, "Add at least one file."},
        {"white space only", {"/tv/a.mkv"}, {" \t\n", 0, 1, 2}, {}, "Enter a show name."},
        {"season 0",
         {"/tv/a.mkv"},
         {"S", 0, 1, 2},
         {},
         "Season, episode, and padding values must be positive."},
        {"episode 0",
         {"/tv/a.mkv"},
         {"S", 1, 0, 2},
         {},
         "Season, episode, and padding values must be positive."},
        {"padding 0",
         {"/tv/a.mkv"},
         {"S", 1, 1, 0},
         {},
         "Season, episode, and padding values must be positive."},
        {"padding 5",
         {"/tv/a.mkv"},
         {"S", 1, 1, 5},
         {},
         "Season, episode, and padding values must be positive."},
        {"the last episode number would overflow",
         {"/tv/a.mkv", "/tv/b.mkv"},
         {"S", 1, maxInt, 2},
         {},
         "Season, episode, and padding values must be positive."},
        {"two folders (checked after the numbers)",
         {"/tv/a.mkv", "/films/b.mkv"},
         {"S", 1, 1, 2},
         {},
         "All files in a rename batch must be in the same folder."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string actual;
        try {
            actual = planText(RenamePlanner{}.makePlan(row.files, row.rule, row.existing));
        } catch (const RenameError& error) {
            actual = error.what();
        }
        EXPECT_EQ(actual, row.expected);
    }
}

TEST(RenamePlanner, LargestEpisodeNumberStillFits) {
    const auto plan =
        RenamePlanner{}.makePlan({"/tv/a.mkv", "/tv/b.mkv"}, {"S", 1, maxInt - 1, 1}, {});
    EXPECT_EQ(plan.back().destination.filename().string(), "S - S1E9223372036854775807.mkv");
}

TEST(FileBrowserOrder, NumbersCompareByValueThenFullPathsBreakTies) {
    std::vector<fs::path> files = {"/b/Episode 10.mkv", "/a/Episode 2.mkv", "/b/episode 2.mkv",
                                   "/a/Episode 1.mkv", "/a/Épisode 3.mkv"};
    sortInFileBrowserOrder(files);
    EXPECT_EQ(files,
              (std::vector<fs::path>{"/a/Episode 1.mkv", "/a/Episode 2.mkv", "/b/episode 2.mkv",
                                     "/a/Épisode 3.mkv", "/b/Episode 10.mkv"}));
}

TEST(RenameJournal, EveryNameSurvivesAndDamageIsRefused) {
    const std::vector<RenameJournalEntry> entries = {
        {{2049, 131}, ".tavrolin-rename-X.mkv", "a b%20\n\tc.mkv", "Show - S01E01.mkv"},
        {{1, 18446744073709551615ull}, ".t", std::string("\xFF\x7F odd", 6), "x"},
    };
    const std::string text = renderRenameJournal(entries);
    EXPECT_EQ(parseRenameJournal(text), entries);
    EXPECT_EQ(parseRenameJournal(renderRenameJournal({})), std::vector<RenameJournalEntry>{});

    struct Row {
        const char* name;
        std::string text;
    };
    const std::vector<Row> damaged = {
        {"cut short", text.substr(0, text.size() - 5)},
        {"another format", "tavrolin rename journal 2\n"},
        {"a missing field", "tavrolin rename journal 1\n1 2 a b\n"},
        {"a bad escape", "tavrolin rename journal 1\n1 2 a%G1 b c\n"},
        {"a name leading out of the folder", "tavrolin rename journal 1\n1 2 a ..%2Fb c\n"},
        {"a parent name", "tavrolin rename journal 1\n1 2 a .. c\n"},
        {"a number that is not one", "tavrolin rename journal 1\n1x 2 a b c\n"},
    };
    for (const auto& row : damaged) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(parseRenameJournal(row.text).has_value());
    }
}
