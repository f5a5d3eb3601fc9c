#include "engine/StreamCopyCompatibility.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrolin;

namespace {

using Decision = StreamCopyDecision;
using Kind = MediaStreamKind;
constexpr auto iPhone = PlaybackTarget::iPhone17Pro;

MediaStream stream(Kind kind, std::string codec, std::int64_t index = 0) {
    MediaStream s;
    s.index = index;
    s.kind = kind;
    s.codecName = std::move(codec);
    return s;
}

const std::vector<std::string> mp4Video{"apv",   "av1",        "avs3",       "dirac",    "evc",
                                        "ffv1",  "h264",       "hevc",       "jpeg2000", "lcevc",
                                        "mjpeg", "mpeg1video", "mpeg2video", "mpeg4",    "png",
                                        "tscc2", "vc1",        "vp9",        "vvc"};
const std::vector<std::string> movVideoAdditions{
    "cinepak",    "dnxhd", "dvvideo",  "gif",   "h263", "mjpegb", "prores",
    "prores_raw", "qtrle", "rawvideo", "targa", "tiff", "vp8"};
const std::vector<std::string> mp4Audio{
    "aac", "ac3",    "alac",           "dts",  "eac3",  "evrc",   "flac",  "mp2",
    "mp3", "mp4als", "mpegh_3d_audio", "opus", "qcelp", "truehd", "vorbis"};
const std::vector<std::string> movAudioAdditions{
    "adpcm_ima_qt", "adpcm_ima_wav", "adpcm_ms", "amr_nb", "amr_wb",
    "mace3",        "mace6",         "qdm2",     "qdmc",   "wmapro"};
const std::vector<std::string> mp4Pcm{"pcm_f32be", "pcm_f32le", "pcm_f64be", "pcm_f64le",
                                      "pcm_s16be", "pcm_s16le", "pcm_s24be", "pcm_s24le",
                                      "pcm_s32be", "pcm_s32le"};
const std::vector<std::string> convertibleText{"ass", "ssa", "srt", "subrip", "text", "webvtt"};

bool in(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// Whether a video or audio stream copies into each container; MKV takes everything.
void expectCopiesInto(const MediaStream& s, bool mp4, bool mov, bool webm) {
    const StreamCopyCompatibility rules;
    EXPECT_EQ(rules.copyDecision(s, OutputContainer::mp4).isIncompatible(), !mp4);
    EXPECT_EQ(rules.copyDecision(s, OutputContainer::m4v).isIncompatible(), !mp4);
    EXPECT_EQ(rules.copyDecision(s, OutputContainer::mov).isIncompatible(), !mov);
    EXPECT_EQ(rules.copyDecision(s, OutputContainer::webm).isIncompatible(), !webm);
    EXPECT_EQ(rules.copyDecision(s, OutputContainer::mkv), Decision::copy());
}

}  // namespace

TEST(StreamCopyCompatibilityTest, VideoCodecsFollowTheContainerTables) {
    const StreamCopyCompatibility rules;
    const std::vector<std::string> webmVideo{"av1", "vp8", "vp9"};
    std::vector<std::string> all = mp4Video;
    all.insert(all.end(), movVideoAdditions.begin(), movVideoAdditions.end());
    all.insert(all.end(), {"theora", "wmv3", "msmpeg4v3", "flv1"});
    for (const auto& codec : all) {
        SCOPED_TRACE(codec);
        const auto s = stream(Kind::video, codec);
        const bool mp4 = in(mp4Video, codec);
        const bool mov = mp4 || in(movVideoAdditions, codec);
        expectCopiesInto(s, mp4, mov, in(webmVideo, codec));
    }
    // Spot checks that do not depend on the lists above being right.
    EXPECT_EQ(rules.copyDecision(stream(Kind::video, "prores"), OutputContainer::mp4),
              Decision::incompatible());
    EXPECT_EQ(rules.copyDecision(stream(Kind::video, "vp8"), OutputContainer::mov),
              Decision::copy());
    EXPECT_EQ(rules.copyDecision(stream(Kind::video, "h264"), OutputContainer::webm),
              Decision::incompatible());
}

TEST(StreamCopyCompatibilityTest, AudioCodecsFollowTheContainerTables) {
    const StreamCopyCompatibility rules;
    const std::vector<std::string> webmAudio{"opus", "vorbis"};
    std::vector<std::string> all = mp4Audio;
    all.insert(all.end(), movAudioAdditions.begin(), movAudioAdditions.end());
    all.insert(all.end(), mp4Pcm.begin(), mp4Pcm.end());
    all.insert(all.end(), {"pcm_u8", "pcm_s8", "pcm_alaw", "pcm_mulaw", "wmav2", "cook", "apac"});
    for (const auto& codec : all) {
        SCOPED_TRACE(codec);
        const auto s = stream(Kind::audio, codec);
        const bool mp4 = in(mp4Audio, codec) || in(mp4Pcm, codec);
        const bool mov =
            in(mp4Audio, codec) || in(movAudioAdditions, codec) || codec.starts_with("pcm_");
        expectCopiesInto(s, mp4, mov, in(webmAudio, codec));
    }
    // PCM outside the MP4 list copies into MOV and MKV only.
    const auto u8 = stream(Kind::audio, "pcm_u8");
    EXPECT_EQ(rules.copyDecision(u8, OutputContainer::mov), Decision::copy());
    EXPECT_EQ(rules.copyDecision(u8, OutputContainer::mp4), Decision::incompatible());
    EXPECT_EQ(rules.copyDecision(stream(Kind::audio, "pcm_s16le"), OutputContainer::m4v),
              Decision::copy());
}

TEST(StreamCopyCompatibilityTest, SubtitlesAreCopiedConvertedOrDropped) {
    const StreamCopyCompatibility rules;
    for (const auto& codec : convertibleText) {
        SCOPED_TRACE(codec);
        const auto s = stream(Kind::subtitle, codec);
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::mp4), Decision::convert("mov_text"));
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::m4v), Decision::convert("mov_text"));
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::mov), Decision::convert("mov_text"));
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::mkv), Decision::copy());
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::webm),
                  codec == "webvtt" ? Decision::copy() : Decision::convert("webvtt"));
    }
    struct Row {
        std::string codec;
        Decision mp4, mov, webm;
    };
    const std::vector<Row> rows{
        {"mov_text", Decision::copy(), Decision::copy(), Decision::incompatible()},
        {"ttml", Decision::copy(), Decision::incompatible(), Decision::incompatible()},
        {"eia_608", Decision::incompatible(), Decision::copy(), Decision::incompatible()},
        {"hdmv_pgs_subtitle", Decision::incompatible(), Decision::incompatible(),
         Decision::incompatible()},
        {"dvd_subtitle", Decision::incompatible(), Decision::incompatible(),
         Decision::incompatible()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codec);
        const auto s = stream(Kind::subtitle, row.codec);
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::mp4), row.mp4);
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::m4v), row.mp4);
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::mov), row.mov);
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::webm), row.webm);
        EXPECT_EQ(rules.copyDecision(s, OutputContainer::mkv), Decision::copy());
    }
}

TEST(StreamCopyCompatibilityTest, CodecNamesMatchWhateverTheirCase) {
    const StreamCopyCompatibility rules;
    EXPECT_EQ(rules.copyDecision(stream(Kind::video, "HEVC"), OutputContainer::mp4),
              Decision::copy());
    EXPECT_EQ(rules.copyDecision(stream(Kind::subtitle, "SubRip"), OutputContainer::webm),
              Decision::convert("webvtt"));
    EXPECT_EQ(rules.copyDecision(stream(Kind::audio, "PCM_S16LE"), OutputContainer::mp4),
              Decision::copy());
    EXPECT_EQ(rules.issueMessage(stream(Kind::audio, "Dts"), OutputContainer::webm, {}),
              "DTS audio cannot be written to WEBM by FFmpeg.");
}

TEST(StreamCopyCompatibilityTest, PlaybackTargetChecksTheCodecTheOutputCarries) {
    const StreamCopyCompatibility rules;
    struct Row {
        Kind kind;
        std::string codec;
        OutputContainer container;
        Decision expected;
    };
    const std::vector<Row> rows{
        {Kind::video, "h264", OutputContainer::mp4, Decision::copy()},
        {Kind::video, "hevc", OutputContainer::mov, Decision::copy()},
        {Kind::video, "prores", OutputContainer::mov, Decision::copy()},
        {Kind::video, "prores", OutputContainer::mp4, Decision::incompatible()},  // container
        {Kind::video, "vp9", OutputContainer::mp4, Decision::incompatible()},
        {Kind::video, "av1", OutputContainer::webm, Decision::copy()},
        {Kind::audio, "flac", OutputContainer::mp4, Decision::copy()},
        {Kind::audio, "dts", OutputContainer::mov, Decision::incompatible()},
        {Kind::audio, "opus", OutputContainer::mp4, Decision::incompatible()},
        {Kind::audio, "apac", OutputContainer::mkv, Decision::copy()},
        {Kind::subtitle, "subrip", OutputContainer::mp4, Decision::convert("mov_text")},
        {Kind::subtitle, "mov_text", OutputContainer::m4v, Decision::copy()},
        {Kind::subtitle, "subrip", OutputContainer::mkv, Decision::incompatible()},
        {Kind::subtitle, "webvtt", OutputContainer::webm, Decision::incompatible()},
        {Kind::subtitle, "ttml", OutputContainer::mp4, Decision::incompatible()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codec + " in " + std::string(rawValue(row.container)));
        const auto s = stream(row.kind, row.codec);
        EXPECT_EQ(rules.playbackProfileDecision(s, row.container, iPhone), row.expected);
        // Without a target only the container counts.
        EXPECT_EQ(rules.playbackProfileDecision(s, row.container, std::nullopt),
                  rules.copyDecision(s, row.container));
    }
}

TEST(StreamCopyCompatibilityTest, PlaybackTargetKeepsExactlyItsProfileCodecs) {
    const StreamCopyCompatibility rules;
    const std::vector<std::string> iPhoneVideo{"av1", "h264", "hevc", "prores", "prores_raw"};
    const std::vector<std::string> iPhoneAudio{"aac", "ac3", "alac", "apac", "eac3", "flac", "mp3"};
    struct Family {
        Kind kind;
        std::vector<std::string> codecs;
        const std::vector<std::string>& profile;
    };
    std::vector<std::string> video = mp4Video;
    video.insert(video.end(), movVideoAdditions.begin(), movVideoAdditions.end());
    std::vector<std::string> audio = mp4Audio;
    audio.insert(audio.end(), movAudioAdditions.begin(), movAudioAdditions.end());
    audio.insert(audio.end(), mp4Pcm.begin(), mp4Pcm.end());
    audio.push_back("apac");
    for (const auto& family :
         {Family{Kind::video, video, iPhoneVideo}, Family{Kind::audio, audio, iPhoneAudio}}) {
        for (const auto& codec : family.codecs) {
            for (auto container : allOutputContainers) {
                SCOPED_TRACE(codec + " in " + std::string(rawValue(container)));
                const auto s = stream(family.kind, codec);
                const bool keeps =
                    !rules.copyDecision(s, container).isIncompatible() && in(family.profile, codec);
                EXPECT_EQ(rules.playbackProfileDecision(s, container, iPhone),
                          keeps ? Decision::copy() : Decision::incompatible());
            }
        }
    }
}

TEST(StreamCopyCompatibilityTest, IssueMessagesNameTheStreamAndTheReason) {
    const StreamCopyCompatibility rules;
    EXPECT_EQ(rules.issueMessage(stream(Kind::audio, "dts"), OutputContainer::webm, {}),
              "DTS audio cannot be written to WEBM by FFmpeg.");
    EXPECT_EQ(rules.issueMessage(stream(Kind::video, "prores"), OutputContainer::m4v, iPhone),
              "PRORES video cannot be written to M4V by FFmpeg.");
    EXPECT_EQ(
        rules.issueMessage(stream(Kind::subtitle, "hdmv_pgs_subtitle"), OutputContainer::mov, {}),
        "HDMV_PGS_SUBTITLE subtitle cannot be written to MOV by FFmpeg.");
    EXPECT_EQ(rules.issueMessage(stream(Kind::video, "vp9"), OutputContainer::mp4, iPhone),
              "VP9 video is not compatible with the iPhone 17 Pro playback profile.");
    EXPECT_EQ(rules.issueMessage(stream(Kind::audio, "dts"), OutputContainer::mov, iPhone),
              "DTS audio is not compatible with the iPhone 17 Pro playback profile.");
    // The reported name, not the planned conversion, is named.
    EXPECT_EQ(rules.issueMessage(stream(Kind::subtitle, "subrip"), OutputContainer::mkv, iPhone),
              "SUBRIP subtitle is not compatible with the iPhone 17 Pro playback profile.");
    EXPECT_EQ(rules.issueMessage(stream(Kind::subtitle, "subrip"), OutputContainer::mp4, iPhone),
              std::nullopt);
    EXPECT_EQ(rules.issueMessage(stream(Kind::audio, "vp9"), OutputContainer::mp4, {}),
              "VP9 audio cannot be written to MP4 by FFmpeg.");
    // MKV never fails without a target.
    for (auto kind : allMediaStreamKinds) {
        EXPECT_EQ(rules.issueMessage(stream(kind, "anything"), OutputContainer::mkv, {}),
                  std::nullopt);
    }
    EXPECT_EQ(rules.issueMessage(stream(Kind::video, "h264"), OutputContainer::mp4, {}),
              std::nullopt);
}

TEST(StreamCopyCompatibilityTest, PlaybackContainerMessageOnlyForNonPlaybackContainers) {
    const StreamCopyCompatibility rules;
    const std::string text =
        "iPhone 17 Pro playback requires one of these containers: M4V, MOV, MP4.";
    EXPECT_EQ(rules.playbackContainerMessage(OutputContainer::mkv, iPhone), text);
    EXPECT_EQ(rules.playbackContainerMessage(OutputContainer::webm, iPhone), text);
    for (auto container : allOutputContainers) {
        EXPECT_EQ(rules.playbackContainerMessage(container, std::nullopt), std::nullopt);
    }
    for (auto container : {OutputContainer::mp4, OutputContainer::m4v, OutputContainer::mov}) {
        EXPECT_EQ(rules.playbackContainerMessage(container, iPhone), std::nullopt);
    }
}

TEST(StreamCopyCompatibilityTest, ListsAndOverridesSplitStreamsInInputOrder) {
    const StreamCopyCompatibility rules;
    const std::vector<MediaStream> streams{
        stream(Kind::video, "hevc", 0),      stream(Kind::audio, "dts", 1),
        stream(Kind::subtitle, "subrip", 2), stream(Kind::subtitle, "hdmv_pgs_subtitle", 3),
        stream(Kind::video, "h264", 4),      stream(Kind::subtitle, "ass", 5),
        stream(Kind::video, "HEVC", 6),
    };
    auto indices = [](const std::vector<MediaStream>& list) {
        std::vector<std::int64_t> result;
        for (const auto& s : list) {
            result.push_back(s.index);
        }
        return result;
    };

    EXPECT_EQ(indices(rules.supportedStreams(streams, OutputContainer::mp4, {})),
              (std::vector<std::int64_t>{0, 1, 2, 4, 5, 6}));
    EXPECT_EQ(indices(rules.unsupportedStreams(streams, OutputContainer::mp4, {})),
              (std::vector<std::int64_t>{3}));
    EXPECT_EQ(indices(rules.unsupportedStreams(streams, OutputContainer::mov, iPhone)),
              (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(indices(rules.unsupportedStreams(streams, OutputContainer::webm, {})),
              (std::vector<std::int64_t>{0, 1, 3, 4, 6}));

    EXPECT_EQ(rules.subtitleCodecOverrides(streams, OutputContainer::mp4, {}),
              (StreamCodecOverrides{{2, "mov_text"}, {5, "mov_text"}}));
    EXPECT_EQ(rules.subtitleCodecOverrides(streams, OutputContainer::webm, {}),
              (StreamCodecOverrides{{2, "webvtt"}, {5, "webvtt"}}));
    EXPECT_TRUE(rules.subtitleCodecOverrides(streams, OutputContainer::mkv, {}).empty());
    EXPECT_TRUE(rules.subtitleCodecOverrides(streams, OutputContainer::mkv, iPhone).empty());
    // A later stream with the same index replaces the earlier entry.
    EXPECT_EQ(rules.subtitleCodecOverrides(
                  {stream(Kind::subtitle, "subrip", 7), stream(Kind::subtitle, "webvtt", 7)},
                  OutputContainer::webm, {}),
              (StreamCodecOverrides{{7, "webvtt"}}));
    EXPECT_EQ(rules.subtitleCodecOverrides(
                  {stream(Kind::subtitle, "subrip", 7), stream(Kind::subtitle, "mov_text", 7)},
                  OutputContainer::webm, {}),
              (StreamCodecOverrides{{7, "webvtt"}}));

    const StreamCodecOverrides hvc1{{0, "hvc1"}, {6, "hvc1"}};
    for (auto container : {OutputContainer::mp4, OutputContainer::m4v, OutputContainer::mov}) {
        EXPECT_EQ(rules.videoCodecTagOverrides(streams, container, iPhone), hvc1);
        EXPECT_TRUE(rules.videoCodecTagOverrides(streams, container, {}).empty());
    }
    EXPECT_TRUE(rules.videoCodecTagOverrides(streams, OutputContainer::mkv, iPhone).empty());
    EXPECT_TRUE(rules.videoCodecTagOverrides(streams, OutputContainer::webm, iPhone).empty());
    // Only video streams named hevc get the tag.
    EXPECT_TRUE(
        rules.videoCodecTagOverrides({stream(Kind::audio, "hevc", 1)}, OutputContainer::mp4, iPhone)
            .empty());

    const std::vector<MediaStream> none;
    EXPECT_TRUE(rules.supportedStreams(none, OutputContainer::mp4, iPhone).empty());
    EXPECT_TRUE(rules.unsupportedStreams(none, OutputContainer::mp4, iPhone).empty());
    EXPECT_TRUE(rules.subtitleCodecOverrides(none, OutputContainer::mp4, iPhone).empty());
    EXPECT_TRUE(rules.videoCodecTagOverrides(none, OutputContainer::mp4, iPhone).empty());
}
