#include "process/Utf8Repair.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrolin {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

struct Case {
    const char* name;
    std::string bytes;
    std::string text;
};

TEST(Utf8Repair, ReplacesEachMaximalIllFormedSubsequenceOnce) {
    const Case cases[] = {
        {"empty", "", ""},
        {"ascii", "plain text\n", "plain text\n"},
        {"well-formed multibyte", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"byte order bytes", "\xFF\xFE", R + R},
        {"lone continuation bytes",
         "a\x80\xBF"
         "b",
         "a" + R + R + "b"},
        {"overlong two-byte", "\xC0\xAF", R + R},
        {"overlong three-byte", "\xE0\x80\xAF", R + R + R},
        {"surrogate", "\xED\xA0\x80", R + R + R},
        {"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
        {"truncated three-byte at end", "x\xE2\x82", "x" + R},
        {"truncated four-byte before ascii", "\xF0\x9F\x98z", R + "z"},
        {"lead byte F5 and above", "\xF5\xF8\xFD", R + R + R},
        // The example of the Unicode standard: 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
        {"standard example",
         "a\xF1\x80\x80\xE1\x80\xC2"
         "b\x80"
         "c\x80\xBF"
         "d",
         "a" + R + R + R + "b" + R + "c" + R + R + "d"},
        {"bad byte after long ascii run", std::string(37, 'q') + "\xFF" + std::string(9, 'q'),
         std::string(37, 'q') + R + std::string(9, 'q')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(repairUtf8(std::string_view(c.bytes)), c.text) << c.name;
        EXPECT_EQ(repairUtf8InPlace(std::string(c.bytes)), c.text) << c.name;
    }
}

TEST(Utf8Repair, EmbeddedNulIsKept) {
    const std::string bytes("a\0b", 3);
    EXPECT_EQ(repairUtf8(std::string_view(bytes)), bytes);
}

}  // namespace
}  // namespace tavrolin
