#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

#include "probe/FFprobeChapterParser.h"
#include "probe/FFprobeDurationParser.h"
#include "probe/ProbeText.h"

namespace {

using tavrolin::parsePosixNumber;
using tavrolin::toolFailureText;

TEST(ProbeTextTest, FailureTextKeepsTheLastEightNonEmptyLines) {
    std::string twelve;
    for (int i = 1; i <= 12; ++i) {
        twelve += "line " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(toolFailureText(twelve, "fallback"),
              "line 5\nline 6\nline 7\nline 8\nline 9\nline 10\nline 11\nline 12");
    EXPECT_EQ(toolFailureText("", "fallback"), "fallback");
    EXPECT_EQ(toolFailureText("\n\r\n\n\v\f", "fallback"), "fallback");
    // The description of an output is no reason.
    EXPECT_EQ(toolFailureText("Output #0, ogg, to 'a.ogg':\n  Metadata:\n    encoder : Lavf\n"
                              "Stream mapping:\n  Stream #0:1 -> #0:0 (copy)\n",
                              "fallback"),
              "fallback");
    // Every kind of line break splits; lines of spaces stay.
    EXPECT_EQ(toolFailureText("a\rb\r\nc\vd\fe\xC2\x85"
                              "f\xE2\x80\xA8g\xE2\x80\xA9h\n  \n",
                              "x"),
              "b\nc\nd\ne\nf\ng\nh\n  ");
    EXPECT_EQ(toolFailureText("only line", "x"), "only line");
    // Multi-byte text that merely resembles a break is left whole.
    EXPECT_EQ(toolFailureText("\xE2\x80\xA7 caf\xC3\xA9", "x"), "\xE2\x80\xA7 caf\xC3\xA9");
}

// Values past a double's range read as strtod reads them: by the number's size, not by the
// sign of its exponent.
TEST(ProbeTextTest, OutOfRangeNumbersReadLikeStrtod) {
    const std::vector<std::string> rows{
        "0." + std::string(330, '0') + "1",
        "1" + std::string(400, '0') + "e-5",
        "-1" + std::string(400, '0'),
        "1e400",
        "1e-400",
        "-0.5e-400",
        "0.0001e312",
        "12345e-330",
        "1e99999999999999999999",
        "1e-99999999999999999999",
        "1e-310",
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.substr(0, 40));
        const auto value = parsePosixNumber(row);
        ASSERT_TRUE(value);
        EXPECT_EQ(*value, std::strtod(row.c_str(), nullptr));
    }
}

// Runs the number readers under a locale whose decimal separator is a comma.
class GermanLocaleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
            GTEST_SKIP() << "de_DE.UTF-8 is not installed";
        }
        try {
            previousGlobal_ = std::locale::global(std::locale("de_DE.UTF-8"));
        } catch (const std::runtime_error&) {
            std::setlocale(LC_ALL, previous_.c_str());
            GTEST_SKIP() << "de_DE.UTF-8 is not available to iostreams";
        }
        changed_ = true;
    }
    void TearDown() override {
        if (changed_) {
            std::locale::global(previousGlobal_);
            std::setlocale(LC_ALL, previous_.c_str());
        }
    }

  private:
    std::string previous_;
    std::locale previousGlobal_;
    bool changed_ = false;
};

TEST_F(GermanLocaleTest, NumbersAreReadWithAPoint) {
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(parsePosixNumber("12.5"), 12.5);
    EXPECT_EQ(parsePosixNumber("12,5"), std::nullopt);
    auto chapters =
        tavrolin::FFprobeChapterParser{}.parse(R"({"chapters":[{"start_time":"1.25"}]})");
    ASSERT_EQ(chapters.size(), 1u);
    EXPECT_EQ(chapters[0].startTime, 1.25);
    EXPECT_EQ(tavrolin::FFprobeDurationParser{}.parse(R"({"format":{"duration":"3.024000"}})"),
              3.024);
}

}  // namespace
