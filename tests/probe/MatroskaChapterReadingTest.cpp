// The chapter editions read from Matroska files FFmpeg wrote and then given hand-written
// chapters, and from bodies that lie about their sizes.
#include <gtest/gtest.h>

#include <fstream>

#include "probe/MatroskaChapterReading.h"
#include "support/MatroskaChapterMedia.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace tavrolin {
void PrintTo(const ChapterEditions& editions, std::ostream* out) {
    *out << "{ordered " << editions.ordered << ", links " << editions.linksOtherSegments << "}";
}
}  // namespace tavrolin

TEST(MatroskaChapterReadingTest, FilesTellOrderAndLinksOnly) {
    tavtest::TempDir folder;
    const std::vector<tavtest::HandChapter> linked{
        {0, 1, "Opening"}, {3, 4, "Ending"}, {0, 1, "Elsewhere", true}};
    const auto ordered =
        tavtest::matroskaWithChapters("ordered-linked.mkv", tavtest::chaptersElement(true, linked));
    std::ifstream in(ordered, std::ios::binary);
    const std::string whole{std::istreambuf_iterator<char>(in), {}};
    const auto cut = folder / "cut.mkv";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.find("Opening"));

    struct Row {
        std::string name;
        fs::path file;
        ChapterEditions expected;
    };
    const std::vector<Row> rows{
        {"ordered, one chapter in another file", ordered, {true, true}},
        {"ordered",
         tavtest::matroskaWithChapters("ordered.mkv", tavtest::chaptersElement(true, {linked[0]})),
         {true, false}},
        {"plain chapters as FFmpeg writes them",
         tavtest::matroskaWithChapters("plain.mkv", tavtest::chaptersElement(false, linked)),
         {false, true}},
        {"FFmpeg's own file", tavtest::TestMedia::shared().matroska, {}},
        {"MP4", tavtest::TestMedia::shared().mp4ClipA, {}},
        {"random bytes", tavtest::TestMedia::shared().randomBytes, {}},
        {"cut inside the chapters", cut, {}},
        {"missing", folder / "none.mkv", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(readMatroskaChapterEditions(row.file), row.expected);
    }
}

TEST(MatroskaChapterReadingTest, MalformedBodiesKeepWhatCameBefore) {
    const auto edition = [](const std::string& children) {
        return tavtest::ebml("\x45\xB9", children);
    };
    const std::string ordered = tavtest::ebmlUnsigned("\x45\xDD", 1);
    const std::string link = tavtest::ebml("\x6E\x67", std::string(16, '\x11'));
    std::string deep = link;
    for (int depth = 0; depth < 40; ++depth) {
        deep = tavtest::ebml("\xB6", deep);
    }
    std::string oversized = edition(ordered);
    oversized[3] = '\x7F';  // the edition claims more than the body holds
    struct Row {
        std::string name;
        std::string body;
        ChapterEditions expected;
    };
    const std::vector<Row> rows{
        {"nested link", edition(tavtest::ebml("\xB6", tavtest::ebml("\xB6", link))), {false, true}},
        {"ordered zero", edition(tavtest::ebmlUnsigned("\x45\xDD", 0)), {}},
        {"second edition ordered", edition("") + edition(ordered), {true, false}},
        {"size past the end", oversized, {}},
        {"then garbage", edition(ordered) + std::string("\0\xFF", 2), {true, false}},
        {"deeper than any chapter", edition(deep), {}},
        {"empty", "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<std::uint8_t> bytes(row.body.begin(), row.body.end());
        EXPECT_EQ(parseMatroskaChapters(bytes), row.expected);
    }
}
