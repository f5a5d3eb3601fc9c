#include "engine/FFmpegWriteFailure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tavrolin::ffmpegWriteFailure;
using tavrolin::FFmpegWriteFailure;

// Only ffmpeg's own error lines count: names and metadata values in the description of the
// media may read like any of them.
TEST(FFmpegWriteFailure, ReadsOnlyFFmpegsOwnErrorLines) {
    struct Row {
        const char* name;
        std::string standardError;
        FFmpegWriteFailure expected;
    };
    const std::vector<Row> rows{
        {"a clean run",
         "Output #0, matroska, to '/m/.a.tmp-tavrolin-1.mkv':\n  Stream #0:0: Video: h264\n",
         FFmpegWriteFailure::none},
        {"the trailer on a full disk",
         "frame=  200 fps=0.0 q=-1.0 size=1kB\rError writing trailer of /m/a.mkv: No space left "
         "on device\nError closing file /m/a.mkv: No space left on device\n",
         FFmpegWriteFailure::outOfSpace},
        {"a file size limit",
         "[mp4 @ 0x55a1] Starting second pass: moving the moov atom to the beginning of the "
         "file\nError writing trailer of /m/a.mp4: File too large\n",
         FFmpegWriteFailure::outOfSpace},
        {"a quota, mid-write", "av_interleaved_write_frame(): Disk quota exceeded\n",
         FFmpegWriteFailure::outOfSpace},
        {"a close that failed otherwise", "Error closing file /m/a.mkv: Input/output error\n",
         FFmpegWriteFailure::failed},
        {"a trailer that failed otherwise",
         "[matroska @ 0x1] Error writing trailer of /m/a.mkv: Input/output error\n",
         FFmpegWriteFailure::failed},
        {"names and metadata that only look like errors",
         "Input #0, matroska,webm, from '/m/Error closing file: No space left on device':\n"
         "  Metadata:\n    title           : Error writing trailer of x: File too large\n"
         "    comment         : No space left on device\n",
         FFmpegWriteFailure::none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ffmpegWriteFailure(row.standardError), row.expected);
    }
}
