// The packets of MP4, MOV and M4A files read from their own index, against ffprobe's report of
// the same files: ffmpeg's own writes and the app's split parts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/FFmpegProcessor.h"
#include "engine/split/PartPacketIndex.h"
#include "process/FoundationProcessRunner.h"
#include "support/PacketIndexChecks.h"
#include "support/SplitCaseMedia.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
using tavtest::SplitCase;
namespace fs = std::filesystem;

namespace {

fs::path made(const std::string& name, const std::string& arguments,
              const std::vector<std::string>& inputs = {}) {
    std::vector<std::string> all = inputs;
    std::istringstream words(arguments);
    for (std::string word; words >> word;) {
        all.push_back(word);
    }
    return tavtest::TestMedia::generate(name, all);
}

fs::path input(SplitCase which) {
    return tavtest::splitCaseFile(which);
}

}  // namespace

// Each row's file is made by ffmpeg or split by the app; the row says whether its video and its
// audio read in-process (else they read as none, and are probed).
TEST(PartPacketIndex, Mp4ReadsAsFFprobeShowsIt) {
    tavtest::TempDir folder;
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    const auto part = [&](SplitCase source, const std::string& name, double start,
                          std::optional<double> end) {
        processor.process(SplitRequest{input(source), folder / name, start, end}, {}, {});
        return folder / name;
    };
    const std::string beeps = input(SplitCase::beepsAac).string();
    const std::string pictures = "-f lavfi -i testsrc2=s=160x120:r=25:d=4 ";
    const std::string x264 = " -c:v libx264 -preset veryfast -g 25 ";
    const auto cover = made("idx-cover.png", "-frames:v 1", {"-f", "lavfi", "-i", "testsrc2"});
    const fs::path whole = made("idx-whole.mp4", "-i " + beeps + " -c copy -movflags +faststart");
    std::ifstream in(whole, std::ios::binary);
    std::string half(fs::file_size(whole) / 2, '\0');
    in.read(half.data(), static_cast<std::streamsize>(half.size()));
    std::ofstream(folder / "cut.mp4", std::ios::binary) << half;
    std::ofstream(folder / "text.mp4") << "not a movie\n";
    const auto mp3 = made("idx-mp3.mp4", pictures + "-i " + beeps + x264 +
                                             "-bf 0 -map 0:v -map 1:a -c:a libmp3lame -shortest");
    const auto delayed = [](const std::string& name, const std::string& source) {
        return made(name, "-map 0:v -map 1:a -c copy",
                    {"-i", source, "-itsoffset", "0.5", "-i", source});
    };
    const struct {
        const char* name;
        fs::path file;
        bool video;
        bool audio;
    } rows[] = {
        {"H.264 with B-frames, AAC", beeps, true, true},
        {"AC-3", input(SplitCase::beepsAc3), true, true},
        {"VP9, Opus", input(SplitCase::beepsVp9Mp4), true, true},
        {"FLAC", input(SplitCase::flacMp4), true, true},
        {"cut 2.2 s in", input(SplitCase::trimmedMp4), true, true},
        {"cut between frames", made("idx-cut.mp4", "-c copy", {"-ss", "2.22", "-i", beeps}), true,
         true},
        {"one picture", input(SplitCase::onePicture), true, true},
        {"no B-frames, MP3", mp3, true, true},
        {"VFR",
         made("idx-vfr.mp4", pictures +
                                 "-vf settb=1/1000,setpts='if(lt(N,50),N*0.04,2+(N-50)*0.1)/TB' "
                                 "-fps_mode passthrough -enc_time_base:v 1/1000" +
                                 x264 + "-bf 2"),
         true, false},
        {"MOV with a timecode",
         made("idx-tc.mov", "-i " + beeps + " -c copy -timecode 01:00:00:00"), true, true},
        {"M4A", made("idx.m4a", "-i " + beeps + " -vn -c copy"), false, true},
        {"faststart", whole, true, true},
        {"cover art",
         made("idx-cover.mp4", "-map 0 -map 1 -c copy -disposition:v:1 attached_pic",
              {"-i", beeps, "-i", cover.string()}),
         true, true},
        // The sound's last packet then has a length the demuxer leaves to the decoder: AAC's
        // is known, MP3's is not followed.
        {"AAC delayed", delayed("idx-late.mp4", beeps), true, true},
        {"MP3 delayed", delayed("idx-late-mp3.mp4", mp3.string()), true, false},
        {"fragments",
         made("idx-frag.mp4", "-i " + beeps + " -c copy -movflags frag_keyframe+empty_moov"), false,
         false},
        {"cut off", folder / "cut.mp4", false, false},
        {"text", folder / "text.mp4", false, false},
        {"part from 0", part(SplitCase::beepsAac, "0.mp4", 0, 4.5), true, true},
        {"part in the middle", part(SplitCase::beepsAac, "mid.mp4", 3, 6.0), true, true},
        {"part to the end", part(SplitCase::beepsAac, "end.mp4", 6, std::nullopt), true, true},
        {"AC-3 part", part(SplitCase::beepsAc3, "mid.mov", 2, 7.0), true, true},
        {"M4A part", part(SplitCase::beepsAac, "mid.m4a", 2, 7.0), true, true},
        {"VP9 part", part(SplitCase::beepsVp9Mp4, "vp9.mp4", 4, 8.0), true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path& file = row.file;
        for (const bool video : {true, false}) {
            SCOPED_TRACE(video ? "video" : "audio");
            const auto read = readMp4PacketIndex(file, video);
            ASSERT_EQ(read.has_value(), video ? row.video : row.audio);
            if (!read) {
                continue;
            }
            tavtest::expectAsProbed(*read, file, video);
        }
    }
}
