#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
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
        {"episode numbers share the width of the last; the season keeps the padding",
         {"/tv/a.mkv", "/tv/b.mkv", "/tv/c.mkv"},
         {"Show", 1, 98, 2},
         {},
         "/tv/a.mkv > /tv/Show - S01E098.mkv\n/tv/b.mkv > /tv/Show - S01E099.mkv\n"
         "/tv/c.mkv > /tv/Show - S01E100.mkv\n"},
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
        {"the largest episode number still fits",
         {"/tv/a.mkv", "/tv/b.mkv"},
         {"S", 1, maxInt - 1, 1},
         {},
         "/tv/a.mkv > /tv/S - S1E9223372036854775806.mkv\n"
         "/tv/b.mkv > /tv/S - S1E9223372036854775807.mkv\n"},
        {"the last episode number would overflow",
         {"/tv/a.mkv", "/tv/b.mkv"},
         {"S", 1, maxInt, 2},
         {},
         "Season, episode, and padding values must be positive."},
        {"a new name longer than the file system allows",
         {"/tv/a.mkv"},
         {std::string(300, 'x'), 1, 1, 2},
         {},
         "The new name \u201C" + std::string(300, 'x') +
             " - S01E01.mkv\u201D is 313 bytes long; the folder\u2019s file system allows 255. "
             "Shorten the show name."},
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

TEST(FileBrowserOrder, NumbersCompareByValueThenFullPathsBreakTies) {
    std::vector<fs::path> files = {"/b/Episode 10.mkv", "/a/Episode 2.mkv", "/b/episode 2.mkv",
                                   "/a/Episode 1.mkv", "/a/Épisode 3.mkv"};
    sortInFileBrowserOrder(files);
    EXPECT_EQ(files,
              (std::vector<fs::path>{"/a/Episode 1.mkv", "/a/Episode 2.mkv", "/b/episode 2.mkv",
                                     "/a/Épisode 3.mkv", "/b/Episode 10.mkv"}));
}

TEST(RenameJournal, EveryNameSurvivesAndDamageIsRefusedWhole) {
    const std::string uuid = "0F8FAD5B-D9CB-469F-A165-70867728950E";
    const std::string temporaryA = ".tavrolin-rename-" + uuid + ".mkv";
    const std::string temporaryB = ".tavrolin-rename-" + std::string(uuid).replace(0, 1, "1");
    const std::vector<RenameJournalEntry> entries = {
        {{{2049, 131}, 7, -5}, temporaryA, "a b%20\n\tc.mkv", "Show - S01E01.mkv"},
        {{{1, 18446744073709551615ull}, 0, 1}, temporaryB, std::string("\xFF\x7F odd", 6), "x"},
    };
    const std::string text = renderRenameJournal(entries);
    const auto parsed = parseRenameJournal(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->entries, entries);
    EXPECT_TRUE(parsed->provablyWhole);
    // Hard links of one file share an identity; an older version wrote such journals.
    auto links = entries;
    links[1].fingerprint = links[0].fingerprint;
    const auto linked = parseRenameJournal(renderRenameJournal(links));
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->entries, links);
    // The first format has no count, checksum or stamps; the restores read whole ones.
    const std::string first =
        "tavrolin rename journal 1\n2049 131 " + temporaryA + " a.mkv b.mkv\n";

    const auto changed = [&](const std::function<void(std::vector<RenameJournalEntry>&)>& edit) {
        auto copy = entries;
        edit(copy);
        return renderRenameJournal(copy);
    };
    std::string edited = text;
    edited[text.find("131")] = '2';
    struct Row {
        std::string name;
        std::string text;
    };
    std::vector<Row> damaged = {
        {"cut in the middle of a line", text.substr(0, text.size() - 5)},
        {"garbage appended", text + "x"},
        {"a line appended", text + text.substr(text.find('\n') + 1)},
        {"an edited number", edited},
        {"one name twice", changed([](auto& e) { e[1].sourceName = e[0].sourceName; })},
        {"one temporary name twice", changed([&](auto& e) { e[1].temporaryName = temporaryA; })},
        {"a temporary name that is another entry's name",
         changed([&](auto& e) { e[1].destinationName = temporaryA; })},
        {"a temporary name this program never makes",
         changed([](auto& e) { e[0].temporaryName = ".tavrolin-rename-X.mkv"; })},
        {"another format", "tavrolin rename journal 3\n"},
        {"first format, a missing field", "tavrolin rename journal 1\n1 2 a b\n"},
        {"first format, cut in a line", first.substr(0, first.size() - 1)},
        {"first format, a name leading out of the folder",
         "tavrolin rename journal 1\n1 2 " + temporaryA + " ..%2Fb c\n"},
        {"first format, a bad escape",
         "tavrolin rename journal 1\n1 2 " + temporaryA + " a%G1 c\n"},
    };
    for (std::size_t end = text.find('\n'); end + 1 < text.size(); end = text.find('\n', end + 1)) {
        damaged.push_back({"cut after byte " + std::to_string(end + 1), text.substr(0, end + 1)});
    }
    for (const auto& row : damaged) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(parseRenameJournal(row.text).has_value());
    }
}
