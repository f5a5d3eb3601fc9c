// A phone video shown turned by its display matrix, and an MP4 whose start an edit list trims: the
// MP4 family keeps the turn and the trim on every page's copy, and a container that cannot keep
// them is named before anything is queued.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>

#include "engine/FFmpegProcessor.h"
#include "engine/JoinLayoutCheck.h"
#include "joinsplit/SplitSourceStreams.h"
#include "model/MediaProcessingError.h"
#include "planning/RemuxReview.h"
#include "probe/FFprobeService.h"
#include "process/FFmpegVersion.h"
#include "process/FoundationProcessRunner.h"
#include "support/IndexedClips.h"
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

// Also an MP4 cut 0.2 s after a keyframe by a stream copy, whose edit list hides frames 50..54:
// the MP4 family keeps them hidden, Matroska is named, and a join, whose reader would show them
// in any container, is refused. H.264 with B-frames in AVI, whose frames have no presentation
// times, is named for every container (Matroska takes no packet without one).
TEST(RotationKeptOrNamed, TheMp4FamilyKeepsTheTurnAndTheTrimAndMatroskaIsNamedOnEveryPage) {
    tavtest::TempDir folder;
    auto runner = std::make_shared<FoundationProcessRunner>();
    FFprobeService probe(runner, ToolLocations{});
    const auto facts = InstalledFFmpeg(runner, ToolLocations{}).facts();
    ASSERT_TRUE(facts);
    FFmpegProcessor processor(runner, ToolLocations{});
    const fs::path whole = tavtest::TestMedia::generate(
        "untrimmed.mp4",
        {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=25:duration=6", "-f", "lavfi", "-i",
         "sine=duration=6", "-c:v", "libx264", "-g", "50", "-bf", "2", "-c:a", "aac"});
    const struct {
        fs::path file;
        std::string sentence;  // for MKV
        bool everyContainer;   // the sentence, with the container's name, for every one
        std::optional<std::string> joined;  // for a join into any container
        std::optional<double> splitAt;      // a keyframe; none: the Split page refuses it sooner
        std::function<void(const fs::path&, double)> kept;  // the copy from that time
    } sources[] = {
        {turnedPhoneClip(folder.path()),
         "\u201Cphone.mov\u201D is shown turned 90\u00B0 clockwise, and MKV cannot keep that "
         "turn. Choose MP4 or MOV to keep it upright.",
         false, std::nullopt, 1.0,
         [&](const fs::path& copy, double) {
             EXPECT_EQ(probe.inspectStreams(copy, {}).at(0).rotation, 90);
         }},
        {tavtest::TestMedia::generate("trimmed.mp4",
                                      {"-ss", "2.2", "-i", whole.string(), "-c", "copy"}),
         "\u201Ctrimmed.mp4\u201D hides its first 0.2 s with an edit list, and MKV cannot hide "
         "them. Choose MP4 or MOV to keep them hidden.",
         false,
         "\u201Ctrimmed.mp4\u201D hides its first 0.2 s with an edit list, which a join cannot "
         "keep. Remove it from the list.",
         1.8,
         [](const fs::path& copy, double from) {
             EXPECT_EQ(tavtest::ffprobeFrameCount(copy),
                       static_cast<std::size_t>(std::lround((3.8 - from) * 25)));
         }},
        {tavtest::TestMedia::generate(
             "untimed.avi",
             {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=25:duration=2", "-f", "lavfi", "-i",
              "sine=duration=2", "-c:v", "libx264", "-g", "25", "-c:a", "libmp3lame"}),
         "\u201Cuntimed.avi\u201D can't be copied into MKV without re-encoding because its video "
         "frames have no presentation times.",
         true, std::nullopt, std::nullopt, [](const fs::path&, double) {}},
    };
    for (const auto& source : sources) {
        SCOPED_TRACE(source.file.filename());
        const fs::path second = folder / ("2-" + source.file.filename().string());
        fs::copy_file(source.file, second);
        const auto streams = probe.inspectStreams(source.file, {});
        const auto splitStreams = makeSplitStreamReader(runner, ToolLocations{})(source.file, {});
        RemuxSource remuxed{source.file, RemuxSource::Ready{streams}, {}};
        for (const auto& stream : streams) {
            remuxed.selectedStreamIndices.insert(stream.index);
        }
        const std::vector<RemuxSource> remuxSources{remuxed};
        const JoinInspectionStates states{{source.file, RemuxSource::Ready{streams}},
                                          {second, RemuxSource::Ready{streams}}};
        for (const auto container :
             {OutputContainer::mp4, OutputContainer::mov, OutputContainer::mkv}) {
            const std::string extension(rawValue(container));
            SCOPED_TRACE(extension);
            // None: written, and the copy keeps it.
            std::optional<std::string> sentence;
            if (container == OutputContainer::mkv || source.everyContainer) {
                sentence = source.sentence;
                sentence->replace(sentence->find("MKV"), 3, displayName(container));
            }
            const fs::path out = folder / (source.file.stem().string() + "-" + extension);
            fs::create_directory(out);
            const RemuxReview review(remuxSources, out, container, std::nullopt, facts->release());
            const auto validation = review.validation();
            struct Page {
                std::string name;
                std::optional<std::string> says;  // before anything is queued
                std::optional<std::string> expected;
                ProcessingRequest job;
                double from = 0;
            };
            std::vector<Page> pages{
                {"remux", validation ? std::optional(validation->message) : std::nullopt, sentence,
                 review.makeRemuxRequest(remuxSources[0], out)},
                {"join",
                 JoinLayoutCheck(facts->release())
                     .compatibilityMessage({source.file, second}, states, container),
                 source.joined ? source.joined : sentence,
                 JoinRequest{{source.file, second}, out / ("joined." + extension)}},
            };
            if (source.splitAt) {
                pages.push_back({"split",
                                 checkSplitStreams(splitStreams, source.file, container).problem,
                                 sentence,
                                 SplitRequest{source.file, out / ("part." + extension),
                                              *source.splitAt, std::nullopt},
                                 *source.splitAt});
            }
            for (const auto& page : pages) {
                SCOPED_TRACE(page.name);
                EXPECT_EQ(page.says, page.expected);
                if (!page.expected) {
                    processor.process(page.job, {}, {});
                    source.kept(page.job.output(), page.from);
                } else if (page.name == "join") {
                    // The join's own check as it starts says the same; nothing is run.
                    try {
                        processor.process(page.job, {}, {});
                        ADD_FAILURE() << "joined into " << extension;
                    } catch (const MediaProcessingError& error) {
                        EXPECT_EQ(error.what(), *page.expected);
                    }
                }
            }
        }
    }
}
