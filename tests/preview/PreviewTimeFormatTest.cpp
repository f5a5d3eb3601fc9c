#include "preview/PreviewTimeFormat.h"

#include <gtest/gtest.h>

#include <limits>

namespace tavrolin {
namespace {

TEST(PreviewTimeFormat, SecondsAndTimecodeTexts) {
    struct Row {
        double seconds;
        const char* secondsText;
        const char* timecode;
    };
    const Row rows[] = {
        {0, "0", "00:00:00.000"},
        {-2, "0", "00:00:00.000"},
        {-0.0, "0", "00:00:00.000"},
        {std::numeric_limits<double>::quiet_NaN(), "0", "00:00:00.000"},
        {0.1, "0.1", "00:00:00.100"},
        {3, "3", "00:00:03.000"},
        {10, "10", "00:00:10.000"},
        {100, "100", "00:01:40.000"},
        {12.5, "12.5", "00:00:12.500"},
        {1.2345678, "1.234568", "00:00:01.235"},
        {2.0000004, "2", "00:00:02.000"},
        {59.9996, "59.9996", "00:01:00.000"},
        {3723.5, "3723.5", "01:02:03.500"},
        {360000, "360000", "100:00:00.000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(formatPreviewSeconds(row.seconds), row.secondsText);
        EXPECT_EQ(formatPreviewTimecode(row.seconds), row.timecode);
    }
}

}  // namespace
}  // namespace tavrolin
