#include "engine/JoinLayoutCheck.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

namespace fs = std::filesystem;

MediaStream video(std::string codec, std::int64_t width, std::optional<std::string> profile) {
    MediaStream stream;
    stream.kind = MediaStreamKind::video;
    stream.codecName = std::move(codec);
    stream.width = width;
    stream.height = 1080;
    stream.profile = std::move(profile);
    stream.pixelFormat = "yuv420p";
    return stream;
}

MediaStream audio(std::string layout, std::optional<std::int64_t> rate = 48000,
                  std::string codec = "aac") {
    MediaStream stream;
    stream.index = 1;
    stream.kind = MediaStreamKind::audio;
    stream.codecName = std::move(codec);
    stream.channelCount = 2;
    stream.channelLayout = std::move(layout);
    stream.sampleRate = rate;
    return stream;
}

MediaStream subtitle(std::string codec) {
    MediaStream stream;
    stream.index = 2;
    stream.kind = MediaStreamKind::subtitle;
    stream.codecName = std::move(codec);
    return stream;
}

// Streams numbered by their place.
std::vector<MediaStream> indexed(std::vector<MediaStream> streams) {
    for (std::size_t i = 0; i < streams.size(); ++i) {
        streams[i].index = static_cast<std::int64_t>(i);
    }
    return streams;
}

const std::vector<MediaStream> reference{video("h264", 1920, "High"), audio("stereo")};

// Fields outside the layout (index, language, title, level, colours, tag, flags) play no part,
// names compare without regard to case, numbers exactly. Counts, sample rates and the container
// rule are checked on real files in the Join model's test.
TEST(JoinLayoutCheck, ComparesEachFileWithTheFirst) {
    auto renamed = reference;
    renamed[0].index = 7;
    renamed[0].language = "fre";
    renamed[0].level = 51;
    renamed[0].codecTag = "avc1";
    renamed[1].isDefault = true;
    auto turned = reference;
    turned[0].rotation = 90;
    struct Row {
        const char* name;
        std::vector<MediaStream> other;
        std::optional<std::string> message;
    };
    const std::string remove =
        ". Remove \u201Cb.mkv\u201D from the list, or join it with files made alike.";
    const std::string video0 = "#0 Video stream 0 in \u201Cb.mkv\u201D ";
    const std::string audio1 = "#1 Audio stream 1 in \u201Cb.mkv\u201D ";
    const std::string differs = "does not match \u201Ca.mkv\u201D: ";
    const Row rows[] = {
        {"other metadata", renamed, std::nullopt},
        {"letter case", {video("H264", 1920, "high"), audio("STEREO")}, std::nullopt},
        {"width",
         {video("h264", 1918, "High"), audio("stereo")},
         video0 + differs + "1918\u00D71080 against 1920\u00D71080" + remove},
        {"absent profile",
         {video("h264", 1920, std::nullopt), audio("stereo")},
         video0 + differs + "no profile against High profile" + remove},
        {"profile",
         {video("h264", 1920, "Constrained Baseline"), audio("stereo")},
         video0 + differs + "Constrained Baseline profile against High profile" + remove},
        {"a stream more, in the middle",
         indexed({video("h264", 1920, "High"), subtitle("subrip"), audio("stereo")}),
         "\u201Cb.mkv\u201D has 3 streams; \u201Ca.mkv\u201D has 2. #1 Subtitle stream 1 in "
         "\u201Cb.mkv\u201D has no match in \u201Ca.mkv\u201D. Lossless Join requires the same "
         "stream count and order. Remove \u201Cb.mkv\u201D from the list, or remux it in Remux "
         "without that stream and join the remuxed file."},
        {"streams fewer",
         {audio("stereo")},
         "\u201Cb.mkv\u201D has 1 stream; \u201Ca.mkv\u201D has 2. #0 Video stream 0 in "
         "\u201Ca.mkv\u201D has no match in \u201Cb.mkv\u201D. Lossless Join requires the same "
         "stream count and order. Remove \u201Cb.mkv\u201D from the list, or remux "
         "\u201Ca.mkv\u201D in Remux without that stream and join the remuxed file."},
        {"streams more, out of order",
         indexed({audio("stereo"), video("h264", 1920, "High"), subtitle("ass"), subtitle("ass")}),
         "\u201Cb.mkv\u201D has 4 streams; \u201Ca.mkv\u201D has 2. #2 Subtitle stream 2 and "
         "#3 Subtitle stream 3 in \u201Cb.mkv\u201D have no match in \u201Ca.mkv\u201D. Lossless "
         "Join requires the same stream count and order. Remove \u201Cb.mkv\u201D from the "
         "list, or remux it in Remux without those streams and join the remuxed file."},
        {"codec and size",
         {video("hevc", 1280, "High"), audio("stereo")},
         video0 + differs + "HEVC against H264, 1280\u00D71080 against 1920\u00D71080" + remove},
        {"layout",
         {video("h264", 1920, "High"), audio("5.1")},
         audio1 + differs + "5.1 against stereo" + remove},
        {"orientation", turned,
         video0 + "is shown turned 90\u00B0 clockwise; in \u201Ca.mkv\u201D it is shown upright. "
                  "Lossless Join requires the same orientation: remove \u201Cb.mkv\u201D from "
                  "the list, and join it with files shown the same way up."},
        {"unknown sample rate",
         {video("h264", 1920, "High"), audio("stereo", std::nullopt)},
         audio1 + differs + "the sample rate of one is not known" + remove},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<fs::path> files{"/m/a.mkv", "/m/b.mkv"};
        const JoinInspectionStates states{{files[0], RemuxSource::Ready{reference}},
                                          {files[1], RemuxSource::Ready{row.other}}};
        const JoinLayoutCheck check;
        EXPECT_EQ(check.compatibilityMessage(files, states, OutputContainer::mkv), row.message);
        EXPECT_EQ(check.hasBlockingIssue(files, states, OutputContainer::mkv),
                  row.message.has_value());
        EXPECT_EQ(check.statusText(files, states, OutputContainer::mkv),
                  row.message.value_or("Ready for a lossless join: stream order, codecs, "
                                       "dimensions, channels, and MKV compatibility match."));
    }
}

TEST(JoinLayoutCheck, StatusFollowsInspectionBeforeLayout) {
    const fs::path a("/m/a.mkv"), b("/m/b.mkv"), c("/m/c.mkv");
    const RemuxSource::Ready ready{reference};
    const RemuxSource::Ready withSubRip{{reference[0], reference[1], subtitle("subrip")}};
    struct Row {
        const char* name;
        std::vector<fs::path> files;
        JoinInspectionStates states;
        OutputContainer container;
        std::string status;
        std::optional<std::string> message;
        bool blocking;
        std::optional<FFmpegRelease> installed = std::nullopt;
    };
    const std::string wait = "Wait for stream inspection to finish.";
    const std::string inspecting = "Inspecting codecs and stream layouts\u2026";
    auto forcedAudio = audio("stereo");
    forcedAudio.isForced = true;
    auto forcedSubtitle = subtitle("mov_text");
    forcedSubtitle.isForced = true;
    const RemuxSource::Ready forced{{reference[0], forcedAudio, forcedSubtitle}};
    const RemuxSource::Ready bluray{{reference[0], audio("stereo", 48000, "pcm_bluray")}};
    const RemuxSource::Ready mp3{{audio("stereo", 44100, "mp3")}};
    const RemuxSource::Ready twoMp3{{audio("stereo", 44100, "mp3"), audio("mono", 44100, "mp3")}};
    const std::string twoStreams =
        "\u201Ca.mkv\u201D holds 2 streams, and an MP3 file holds one, its audio. Choose MP4, "
        "MOV, MKV or M4V as the output container.";
    const fs::path inBrokenFolder("/m/day\none/b.mkv");
    const std::string brokenFolder =
        "\u201Cb.mkv\u201D cannot be joined because the name of its folder "
        "\u201Cday\u21B5one\u201D "
        "contains a line break. Move the file or rename the folder.";
    const Row rows[] = {
        {"nothing",
         {},
         {},
         OutputContainer::mp4,
         "Add at least two files. Tavrolin will inspect their stream layouts before queueing.",
         std::nullopt,
         false},
        {"one file that the container refuses",
         {a},
         {{a, withSubRip}},
         OutputContainer::webm,
         "Add at least two files. Tavrolin will inspect their stream layouts before queueing.",
         "H264 video cannot be written to WEBM by FFmpeg. Choose MKV as the output container.",
         false},
        {"loading wins over a failure",
         {a, b, c},
         {{a, RemuxSource::Failed{"bad"}}, {b, RemuxSource::Loading{}}, {c, ready}},
         OutputContainer::mp4,
         inspecting,
         wait,
         false},
        {"an entry missing", {a, b}, {{a, ready}}, OutputContainer::mp4, inspecting, wait, true},
        {"the first failure in list order",
         {a, b, c},
         {{a, ready}, {b, RemuxSource::Failed{"Unreadable."}}, {c, RemuxSource::Failed{"x"}}},
         OutputContainer::mp4,
         "Could not inspect b.mkv: Unreadable.",
         wait,
         true},
        {"a subtitle that would need converting",
         {a, b},
         {{a, withSubRip}, {b, withSubRip}},
         OutputContainer::mp4,
         "SUBRIP subtitle cannot be copied to MP4 without conversion, and Lossless Join copies "
         "every stream unchanged. Choose MKV as the output container.",
         "SUBRIP subtitle cannot be copied to MP4 without conversion, and Lossless Join copies "
         "every stream unchanged. Choose MKV as the output container.",
         true},
        {"Blu-ray LPCM, which the installed release writes into no Matroska file",
         {a, b},
         {{a, bluray}, {b, bluray}},
         OutputContainer::mkv,
         "Blu-ray LPCM audio cannot be copied into MKV by FFmpeg 5.1. No output container takes "
         "it as it is: remux the files first, leaving the stream out, then join the remuxed "
         "files.",
         "Blu-ray LPCM audio cannot be copied into MKV by FFmpeg 5.1. No output container takes "
         "it as it is: remux the files first, leaving the stream out, then join the remuxed "
         "files.",
         true,
         FFmpegRelease{5, 1}},
        {"a line break in a folder's name, named before the inspection ends",
         {a, inBrokenFolder},
         {{a, ready}, {inBrokenFolder, RemuxSource::Loading{}}},
         OutputContainer::mp4,
         brokenFolder,
         brokenFolder,
         true},
        {"forced flags that MOV cannot keep, named but no reason to refuse",
         {a, b},
         {{a, forced}, {b, forced}},
         OutputContainer::mov,
         "Ready for a lossless join: stream order, codecs, dimensions, channels, and MOV "
         "compatibility match. MOV cannot keep 2 forced flags of streams 2 and 3. Choose MKV "
         "to keep them.",
         std::nullopt,
         false},
        {"MP3, whose first encoder delay MKV cannot hide",
         {a, b},
         {{a, mp3}, {b, mp3}},
         OutputContainer::mkv,
         "Ready for a lossless join: stream order, codecs, dimensions, channels, and MKV "
         "compatibility match. MKV cannot hide the encoder delay at the start of the MP3 audio, "
         "so the joined file plays about 25 ms of it first. Choose MP3 or MP4 to keep it "
         "hidden.",
         std::nullopt,
         false},
        {"MP3 audio alone into MP3",
         {a, b},
         {{a, mp3}, {b, mp3}},
         OutputContainer::mp3,
         "Ready for a lossless join: stream order, codecs, dimensions, channels, and MP3 "
         "compatibility match.",
         std::nullopt,
         false},
        {"two MP3 streams, which an MP3 file cannot hold",
         {a, b},
         {{a, twoMp3}, {b, twoMp3}},
         OutputContainer::mp3,
         twoStreams,
         twoStreams,
         true},
        {"the same subtitle copied as it is",
         {a, b},
         {{a, withSubRip}, {b, withSubRip}},
         OutputContainer::mkv,
         "Ready for a lossless join: stream order, codecs, dimensions, channels, and MKV "
         "compatibility match.",
         std::nullopt,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const JoinLayoutCheck check(row.installed);
        EXPECT_EQ(check.statusText(row.files, row.states, row.container), row.status);
        EXPECT_EQ(check.compatibilityMessage(row.files, row.states, row.container), row.message);
        EXPECT_EQ(check.hasBlockingIssue(row.files, row.states, row.container), row.blocking);
    }
}

}  // namespace
}  // namespace tavrolin
