#include "support/SplitCaseMedia.h"

#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tavtest {
namespace fs = std::filesystem;

namespace {

using Arguments = std::vector<std::string>;

// A rising chirp in the left channel, so that no two windows of a decoded part look alike and
// each can be placed in the source; a steady tone in the right.
std::string chirp(int seconds, int sampleRate) {
    return "aevalsrc=exprs='0.4*sin(2*PI*(100*t+60*t*t))|0.2*sin(2*PI*440*t)':s=" +
           std::to_string(sampleRate) + ":d=" + std::to_string(seconds);
}

Arguments pictures(int seconds, const std::string& size = "320x240") {
    return {"-f", "lavfi", "-i", "testsrc2=s=" + size + ":r=25:d=" + std::to_string(seconds)};
}

// A 40 ms beep at 1 kHz at every whole second over a quiet hum in the left channel, so that a
// decoded part can be placed against its source and its sound against its pictures.
Arguments beeps(int seconds, int sampleRate = 48000) {
    const std::string beep = "0.5*sin(2*PI*1000*t)*lt(mod(t\\,1)\\,0.04)";
    return {"-f", "lavfi", "-i",
            "aevalsrc=exprs='" + beep + "+0.05*sin(2*PI*(100*t+20*t*t))|" + beep +
                "':s=" + std::to_string(sampleRate) + ":d=" + std::to_string(seconds)};
}

// `second` written after `first` into `name` beside them, once per process.
fs::path concatenated(const std::string& name, const fs::path& first, const fs::path& second) {
    const fs::path file = first.parent_path() / name;
    std::ofstream out(file, std::ios::binary);
    for (const auto& piece : {first, second}) {
        std::ifstream in(piece, std::ios::binary);
        out << in.rdbuf();
    }
    return file;
}

Arguments joined(std::initializer_list<Arguments> parts) {
    Arguments all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

fs::path beepCase(SplitCase which) {
    const Arguments h264 = {"-c:v",        "libx264", "-preset",       "veryfast", "-g",  "25",
                            "-keyint_min", "25",      "-sc_threshold", "0",        "-bf", "2"};
    const Arguments vp9 = {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used",
                           "8",    "-g",         "25",        "-b:v",     "300k"};
    const Arguments opus = {"-c:a", "libopus", "-b:a", "96k"};
    const auto withPictures = [](const std::string& name, const Arguments& video,
                                 const Arguments& audio) {
        return TestMedia::generate(name, joined({pictures(10),
                                                 beeps(10),
                                                 {"-map", "0:v", "-map", "1:a"},
                                                 video,
                                                 audio,
                                                 {"-shortest"}}));
    };
    const auto soundAlone = [](const std::string& name, const Arguments& audio) {
        return TestMedia::generate(name, joined({beeps(10), audio}));
    };
    switch (which) {
        case SplitCase::beepsAac:
            return withPictures("beeps-aac.mp4", h264, {"-c:a", "aac", "-b:a", "128k"});
        case SplitCase::beepsAc3:
            return withPictures("beeps-ac3.mp4", h264, {"-c:a", "ac3", "-b:a", "192k"});
        case SplitCase::beepsOpusMatroska:
            return withPictures("beeps-opus.mkv", h264, opus);
        case SplitCase::beepsOpusWebm:
            return withPictures("beeps-opus.webm", vp9, opus);
        case SplitCase::beepsVp9Mp4:
            return withPictures("beeps-vp9opus.mp4", vp9, opus);
        case SplitCase::beepsVorbisWebm:
            return withPictures("beeps-vorbis.webm", vp9, {"-c:a", "libvorbis", "-q:a", "4"});
        case SplitCase::beepsMp3:
            return TestMedia::generate(
                "beeps.mp3", joined({beeps(10, 44100), {"-c:a", "libmp3lame", "-b:a", "192k"}}));
        case SplitCase::beepsAacM4a:
            return soundAlone("beeps-aac.m4a", {"-c:a", "aac", "-b:a", "128k"});
        case SplitCase::beepsAacMov:
            return soundAlone("beeps-aac.mov", {"-c:a", "aac", "-b:a", "128k"});
        case SplitCase::beepsEac3Mov:
            return soundAlone("beeps-eac3.mov", {"-c:a", "eac3", "-b:a", "192k"});
        case SplitCase::beepsAc3Alone:
            return soundAlone("beeps-ac3only.mp4", {"-c:a", "ac3", "-b:a", "192k"});
        case SplitCase::beepsOpusOgg:
            return soundAlone("beeps-opus.ogg", {"-c:a", "libopus", "-b:a", "96k"});
        case SplitCase::beepsOpusOgg60:
            return soundAlone("beeps-opus-60ms.ogg",
                              {"-c:a", "libopus", "-b:a", "96k", "-frame_duration", "60"});
        case SplitCase::beepsFlacMatroska:
            return withPictures("beeps-flac.mkv", h264, {"-c:a", "flac"});
        case SplitCase::beepsAc3Matroska:
            return withPictures("beeps-ac3.mkv", h264, {"-c:a", "ac3", "-b:a", "192k"});
        default:
            return TestMedia::generate("beeps.ogg",
                                       joined({beeps(10), {"-c:a", "libvorbis", "-q:a", "4"}}));
    }
}

// `name` in the shared test-media folder, made once per process by `make` (given its path)
// from ffmpeg's `inputs`, written first as `name` with `extension` in place of its own.
fs::path madeWith(const std::string& name, const std::string& extension, const Arguments& inputs,
                  const std::function<Arguments(const fs::path&, const fs::path&)>& make) {
    static std::mutex mutex;
    static std::map<std::string, fs::path> made;
    std::lock_guard lock(mutex);
    if (auto found = made.find(name); found != made.end()) {
        return found->second;
    }
    const fs::path first =
        TestMedia::generate(fs::path(name).replace_extension(extension).string(), inputs);
    const fs::path file = first.parent_path() / name;
    EXPECT_EQ(runTool(make(first, file)), 0) << name;
    made.emplace(name, file);
    return file;
}

// Cases with a 1 kHz beep at each whole second that were made once with more than ffmpeg.
fs::path peopleCase(SplitCase which, const Arguments& h264) {
    const Arguments videoAndAudio = {"-map", "0:v", "-map", "1:a"};
    switch (which) {
        case SplitCase::dvdTitle:
            return TestMedia::generate("case-dvd.vob",
                                       joined({pictures(20, "720x576"),
                                               beeps(20),
                                               videoAndAudio,
                                               {"-target", "pal-dvd", "-shortest"}}));
        case SplitCase::programChange: {
            const fs::path whole = TestMedia::generate(
                "case-pid.mkv",
                joined(
                    {pictures(10), beeps(10), videoAndAudio, h264, {"-c:a", "aac", "-shortest"}}));
            const fs::path first = TestMedia::generate(
                "case-pid-1.ts", {"-i", whole.string(), "-map", "0", "-c", "copy", "-t", "5",
                                  "-mpegts_start_pid", "0x100"});
            // The second piece continues the first one's clock.
            const fs::path second = TestMedia::generate(
                "case-pid-2.ts", {"-ss", "5", "-i", whole.string(), "-map", "0", "-c", "copy",
                                  "-mpegts_start_pid", "0x200", "-mpegts_service_id", "2",
                                  "-muxdelay", "0", "-output_ts_offset", "7.459"});
            static const fs::path changing = concatenated("case-pidchange.ts", first, second);
            return changing;
        }
        case SplitCase::mkvmergeOpus:
            return madeWith(
                "case-opus.mka", ".opus", joined({beeps(20), {"-c:a", "libopus", "-b:a", "96k"}}),
                [](const fs::path& opus, const fs::path& mka) {
                    return Arguments{"mkvmerge", "-q", "-o", mka.string(), opus.string()};
                });
        case SplitCase::editedMp4:
            return madeWith("case-edits.mp4", ".plain.mp4",
                            joined({pictures(10),
                                    beeps(10),
                                    videoAndAudio,
                                    h264,
                                    {"-c:a", "aac", "-b:a", "128k", "-shortest"}}),
                            [](const fs::path& plain, const fs::path& edited) {
                                return Arguments{"python3",
                                                 TAVROLIN_TEST_SOURCE_DIR "/support/mp4edit.py",
                                                 plain.string(), edited.string(), "edits"};
                            });
        default:
            return TestMedia::generate(
                "case-avimp3.avi",
                joined({pictures(12),
                        {"-f", "lavfi", "-i", "sine=f=440:sample_rate=48000:d=12", "-c:v",
                         "libx264", "-preset", "veryfast", "-g", "25", "-bf", "2", "-c:a",
                         "libmp3lame", "-b:a", "128k"}}));
    }
}

}  // namespace

fs::path splitCaseFile(SplitCase which) {
    const Arguments videoAndAudio = {"-map", "0:v", "-map", "1:a"};
    const Arguments h264 = {"-c:v",        "libx264", "-preset",       "veryfast", "-g",  "25",
                            "-keyint_min", "25",      "-sc_threshold", "0",        "-bf", "2"};
    switch (which) {
        case SplitCase::vfr:
            return TestMedia::generate(
                "case-vfr.mkv",
                joined({pictures(10),
                        {"-f", "lavfi", "-i", chirp(12, 48000)},
                        videoAndAudio,
                        {"-vf",
                         "settb=1/1000,setpts='if(lt(N,100),N*0.04,if(lt(N,200),5+(N-100)*0.02,"
                         "7.08+(N-200)*0.1))/TB'",
                         "-fps_mode",
                         "passthrough",
                         "-enc_time_base:v",
                         "1/1000",
                         "-c:v",
                         "libx264",
                         "-preset",
                         "veryfast",
                         "-g",
                         "40",
                         "-keyint_min",
                         "40",
                         "-sc_threshold",
                         "0",
                         "-bf",
                         "0",
                         "-c:a",
                         "aac",
                         "-b:a",
                         "128k"}}));
        case SplitCase::broadcast:
            return TestMedia::generate("case-bcast.ts",
                                       joined({pictures(60, "720x576"),
                                               {"-f",
                                                "lavfi",
                                                "-i",
                                                "sine=f=1000:sample_rate=48000:d=60",
                                                "-c:v",
                                                "mpeg2video",
                                                "-b:v",
                                                "1500k",
                                                "-maxrate",
                                                "3M",
                                                "-bufsize",
                                                "1M",
                                                "-g",
                                                "12",
                                                "-bf",
                                                "2",
                                                "-flags",
                                                "+ilme+ildct",
                                                "-top",
                                                "1",
                                                "-c:a",
                                                "ac3",
                                                "-b:a",
                                                "192k",
                                                "-metadata:s:a:0",
                                                "language=deu",
                                                "-output_ts_offset",
                                                "95400"}}));
        case SplitCase::mp3:
            return TestMedia::generate("case-song.mp3", {"-f", "lavfi", "-i", chirp(10, 44100),
                                                         "-c:a", "libmp3lame", "-b:a", "192k"});
        case SplitCase::mp3Long:
        case SplitCase::mp3HalfHour: {
            const bool hours = which == SplitCase::mp3Long;
            return TestMedia::generate(
                hours ? "case-long.mp3" : "case-half-hour.mp3",
                {"-f", "lavfi", "-i",
                 "anoisesrc=color=pink:seed=3:sample_rate=22050:amplitude=0.3:d=" +
                     std::string(hours ? "10800" : "1800"),
                 "-ac", "1", "-c:a", "libmp3lame", "-b:a", "32k"});
        }
        case SplitCase::packedAvi:
            return TestMedia::generate(
                "case-packed.avi",
                joined({pictures(12),
                        {"-f", "lavfi", "-i",
                         "anoisesrc=color=pink:seed=7:sample_rate=48000:amplitude=0.3:duration=12"},
                        videoAndAudio,
                        {"-c:v", "libxvid", "-bf", "2", "-g", "50", "-q:v", "4", "-c:a",
                         "libmp3lame", "-b:a", "128k", "-shortest"}}));
        case SplitCase::opusWebm:
            return TestMedia::generate(
                "case-opus.webm",
                joined({pictures(10),
                        {"-f", "lavfi", "-i", chirp(10, 48000)},
                        videoAndAudio,
                        {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-g",
                         "25", "-b:v", "300k", "-c:a", "libopus", "-b:a", "96k"}}));
        case SplitCase::opusMatroska:
            return TestMedia::generate(
                "case-opus.mkv",
                {"-i", splitCaseFile(SplitCase::opusWebm).string(), "-map", "0", "-c", "copy"});
        case SplitCase::avi264:
            return TestMedia::generate(
                "case-avi264.avi", joined({pictures(10),
                                           {"-f", "lavfi", "-i", chirp(10, 44100)},
                                           videoAndAudio,
                                           {"-c:v", "libx264", "-preset", "veryfast", "-g", "25",
                                            "-bf", "0", "-c:a", "libmp3lame", "-b:a", "128k"}}));
        case SplitCase::beepsAac:
        case SplitCase::beepsAc3:
        case SplitCase::beepsOpusMatroska:
        case SplitCase::beepsOpusWebm:
        case SplitCase::beepsVp9Mp4:
        case SplitCase::beepsMp3:
        case SplitCase::beepsVorbis:
        case SplitCase::beepsVorbisWebm:
        case SplitCase::beepsAacM4a:
        case SplitCase::beepsAacMov:
        case SplitCase::beepsEac3Mov:
        case SplitCase::beepsAc3Alone:
        case SplitCase::beepsOpusOgg:
        case SplitCase::beepsOpusOgg60:
        case SplitCase::beepsFlacMatroska:
        case SplitCase::beepsAc3Matroska:
            return beepCase(which);
        case SplitCase::dvdTitle:
        case SplitCase::programChange:
        case SplitCase::mkvmergeOpus:
        case SplitCase::editedMp4:
        case SplitCase::aviMp3:
            return peopleCase(which, h264);
        case SplitCase::trimmedMp4: {
            const fs::path base = TestMedia::generate(
                "case-trimmed-base.mp4",
                joined({pictures(12),
                        {"-f", "lavfi", "-i", chirp(12, 48000)},
                        videoAndAudio,
                        {"-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25",
                         "-sc_threshold", "0", "-c:a", "aac"}}));
            return TestMedia::generate("case-trimmed.mp4",
                                       {"-ss", "2.2", "-i", base.string(), "-c", "copy"});
        }
        case SplitCase::mpeg1Program:
            return TestMedia::generate(
                "case-mpeg1.mpg",
                joined({pictures(10, "352x288"),
                        beeps(10, 44100),
                        videoAndAudio,
                        {"-c:v", "mpeg1video", "-b:v", "1150k", "-g", "12", "-bf", "2", "-c:a",
                         "mp2", "-b:a", "224k", "-shortest", "-f", "mpeg"}}));
        case SplitCase::chainedOgg: {
            static const fs::path chained = concatenated(
                "case-chained.ogg",
                TestMedia::generate("case-chain-a.ogg",
                                    joined({beeps(6), {"-c:a", "libvorbis", "-q:a", "3"}})),
                TestMedia::generate("case-chain-b.ogg",
                                    joined({beeps(8),
                                            {"-c:a", "libvorbis", "-q:a", "3", "-serial_offset",
                                             "1000", "-metadata", "title=Second"}})));
            return chained;
        }
        case SplitCase::onePicture:
            return TestMedia::generate(
                "case-oneframe.mp4",
                joined(
                    {{"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25:d=0.04"},
                     beeps(10),
                     videoAndAudio,
                     {"-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac", "-b:a", "128k"}}));
        case SplitCase::clockJump: {
            const auto piece = [&](const std::string& name, const std::string& offset) {
                return TestMedia::generate(
                    name, joined({pictures(5),
                                  beeps(5),
                                  videoAndAudio,
                                  h264,
                                  {"-c:a", "ac3", "-b:a", "192k", "-shortest", "-f", "mpegts",
                                   "-mpegts_m2ts_mode", "1", "-output_ts_offset", offset}}));
            };
            static const fs::path jump =
                concatenated("case-jump.m2ts", piece("case-jump-a.m2ts", "10"),
                             piece("case-jump-b.m2ts", "100"));
            return jump;
        }
        case SplitCase::flacMp4:
            return TestMedia::generate("case-flac.mp4",
                                       joined({pictures(10),
                                               beeps(10),
                                               videoAndAudio,
                                               h264,
                                               {"-c:a", "flac", "-strict", "-2", "-shortest"}}));
    }
    return {};
}

}  // namespace tavtest
