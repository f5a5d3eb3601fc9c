// A phone video shown turned by its display matrix: the MP4 family keeps the turn on every page's
// copy, and a container that cannot keep it is named before anything is queued.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/FFmpegProcessor.h"
#include "engine/JoinLayoutCheck.h"
#include "joinsplit/SplitSourceStreams.h"
#include "model/MediaProcessingError.h"
#include "planning/RemuxReview.h"
#include "probe/FFprobeService.h"
#include "process/FFmpegVersion.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// H.264 at QuickTime's time scale of 600 and AAC, as a phone writes them, then the video
// track's matrix set to a quarter turn (ffmpeg 5.1 has no option that writes one).
fs::path turnedPhoneClip(const fs::path& folder) {
    const fs::path upright = tavtest::TestMedia::generate(
        "phone-upright.mov",
        {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=30:duration=2", "-f", "lavfi", "-i",
         "sine=duration=2", "-c:v", "libx264", "-preset", "ultrafast", "-g", "15", "-c:a", "aac",
         "-video_track_timescale", "600"});
    std::ifstream in(upright, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto header = bytes.find("tkhd");  // the video's track comes first
    EXPECT_NE(header, std::string::npos);
    // Version 0: the matrix follows 40 bytes of version, flags, times, track, volume.
    const std::size_t matrix = header + 4 + (bytes[header + 4] == 1 ? 52 : 40);
    const unsigned char quarterTurn[36] = {0,    0,    0, 0, 0, 1, 0, 0, 0,    0, 0, 0,
                                           0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0,    0, 0, 0,
                                           0,    0,    0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0};
    bytes.replace(matrix, 36, reinterpret_cast<const char*>(quarterTurn), 36);
    const fs::path turned = folder / "phone.mov";
    std::ofstream(turned, std::ios::binary) << bytes;
    return turned;
}

}  // namespace

TEST(RotationKeptOrNamed, TheMp4FamilyKeepsTheTurnAndMatroskaIsNamedOnEveryPage) {
    tavtest::TempDir folder;
    const fs::path phone = turnedPhoneClip(folder.path());
    const fs::path second = folder / "phone-2.mov";
    fs::copy_file(phone, second);
    auto runner = std::make_shared<FoundationProcessRunner>();
    FFprobeService probe(runner, ToolLocations{});
    const auto streams = probe.inspectStreams(phone, {});
    ASSERT_EQ(streams.at(0).rotation, 90);
    const auto facts = InstalledFFmpeg(runner, ToolLocations{}).facts();
    ASSERT_TRUE(facts);
    const auto splitStreams = makeSplitStreamReader(runner, ToolLocations{})(phone, {});
    FFmpegProcessor processor(runner, ToolLocations{});

    RemuxSource source{phone, RemuxSource::Ready{streams}, {}};
    for (const auto& stream : streams) {
        source.selectedStreamIndices.insert(stream.index);
    }
    const std::vector<RemuxSource> sources{source};
    const JoinInspectionStates states{{phone, RemuxSource::Ready{streams}},
                                      {second, RemuxSource::Ready{streams}}};

    const std::string named =
        "\u201Cphone.mov\u201D is shown turned 90\u00B0 clockwise, and MKV cannot keep that turn. "
        "Choose MP4 or MOV to keep it upright.";
    struct Row {
        OutputContainer container;
        std::optional<std::string> sentence;  // none: written, and the copy keeps the turn
    };
    for (const auto& row :
         {Row{OutputContainer::mp4, std::nullopt}, Row{OutputContainer::mov, std::nullopt},
          Row{OutputContainer::mkv, named}}) {
        const std::string extension(rawValue(row.container));
        SCOPED_TRACE(extension);
        const fs::path out = folder / extension;
        fs::create_directory(out);
        const RemuxReview review(sources, out, row.container, std::nullopt, facts->release());
        const auto validation = review.validation();
        struct Page {
            std::string name;
            std::optional<std::string> says;  // before anything is queued
            ProcessingRequest job;
        };
        const std::vector<Page> pages{
            {"remux", validation ? std::optional(validation->message) : std::nullopt,
             review.makeRemuxRequest(sources[0], out)},
            {"join",
             JoinLayoutCheck(facts->release())
                 .compatibilityMessage({phone, second}, states, row.container),
             JoinRequest{{phone, second}, out / ("joined." + extension)}},
            {"split", checkSplitStreams(splitStreams, phone, row.container).problem,
             SplitRequest{phone, out / ("part." + extension), 1.0, std::nullopt}},
        };
        for (const auto& page : pages) {
            SCOPED_TRACE(page.name);
            EXPECT_EQ(page.says, row.sentence);
            if (!row.sentence) {
                processor.process(page.job, {}, {});
                EXPECT_EQ(probe.inspectStreams(page.job.output(), {}).at(0).rotation, 90);
            } else if (page.name == "join") {
                // The join's own check as it starts says the same; nothing is run.
                try {
                    processor.process(page.job, {}, {});
                    ADD_FAILURE() << "joined into " << extension;
                } catch (const MediaProcessingError& refused) {
                    EXPECT_EQ(refused.what(), *row.sentence);
                }
            }
        }
    }
}
