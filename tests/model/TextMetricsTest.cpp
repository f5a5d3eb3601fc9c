#include <gtest/gtest.h>

#include "model/TextMetrics.h"

using namespace tavrolin;

TEST(TextMetrics, GraphemeCountsUserPerceivedCharacters) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount("e\u0301"), 1u);                                     // e + accent
    EXPECT_EQ(graphemeCount("\U0001F468\u200D\U0001F469\u200D\U0001F467"), 1u);  // family
    EXPECT_EQ(graphemeCount("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7"), 2u);    // two flags
    EXPECT_EQ(graphemeCount("\r\n"), 1u);
    EXPECT_EQ(graphemeCount("\xFF"
                            "a"),
              2u);  // an invalid byte is a character of its own
}

TEST(TextMetrics, PrefixesStopAtClusterBoundaries) {
    const std::string flags = "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7";
    EXPECT_EQ(graphemePrefix(flags, 1), "\U0001F1E9\U0001F1EA");
    EXPECT_EQ(graphemePrefix("ab", 5), "ab");
    EXPECT_EQ(graphemePrefix("ab", 0), "");
    EXPECT_EQ(lastGrapheme("Hi e\u0301"), "e\u0301");
    EXPECT_EQ(lastGrapheme(""), "");

    // "é" as e + combining accent is 3 bytes: a 2-byte budget keeps only what precedes it.
    EXPECT_EQ(graphemePrefixBytes("ae\u0301b", 2), 1u);
    EXPECT_EQ(graphemePrefixBytes("ae\u0301b", 4), 4u);
    EXPECT_EQ(graphemePrefixBytes("abc", 10), 3u);
    EXPECT_EQ(graphemePrefixBytes("\u00E9\u00E9", 3), 2u);
    // A limit inside a multi-byte character keeps everything before it.
    struct Row {
        std::string text;
        std::size_t limit;
        std::size_t expected;
    };
    const std::vector<Row> rows{{"ab\u20AC", 2, 2},
                                {"ab\u20AC", 3, 2},
                                {"ab\u20AC", 4, 2},
                                {"a\u20ACb", 2, 1},
                                {"a\u20ACb", 4, 4},
                                {"\u20AC\u20AC", 5, 3},
                                {"a\x80\x80\x80"
                                 "b",
                                 2, 2},
                                {"ae\u0301b", 3, 1},
                                {"e\xCC\x81\x80x", 3, 3},
                                {"e\xCC\x81\x80x", 4, 4}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text + " " + std::to_string(row.limit));
        EXPECT_EQ(graphemePrefixBytes(row.text, row.limit), row.expected);
    }
}

TEST(TextMetrics, WhiteSpaceIsUnicodeWhiteSpace) {
    EXPECT_EQ(trimWhitespace(" \t\n\u00A0\u2028x y\u3000\r\n"), "x y");
    EXPECT_EQ(trimWhitespace("\u2029\u0085"), "");
    EXPECT_EQ(collapseWhitespace("  a\t\tb\u000B\u000Cc\u2003d  "), "a b c d");
    EXPECT_EQ(collapseWhitespace("\xFF  \xFE"), "\xFF \xFE");
    EXPECT_TRUE(isUnicodeWhitespace(U'\u1680'));
    EXPECT_FALSE(isUnicodeWhitespace(U'\u200B'));  // zero width space is not white space
}

TEST(TextMetrics, CaseMappingIgnoresTheProcessLocale) {
    EXPECT_EQ(uppercased("fin \u00E9t\u00E9"), "FIN \u00C9T\u00C9");
    EXPECT_EQ(lowercased("MP4 \u00C9"), "mp4 \u00E9");
    EXPECT_EQ(uppercased("h264 [i-frame] 5.1"), "H264 [I-FRAME] 5.1");
    EXPECT_EQ(uppercased("stra\u00DFe"), "STRASSE");
    EXPECT_EQ(uppercased("a\xFF"
                         "b"),
              "A\xFF"
              "B");
}
