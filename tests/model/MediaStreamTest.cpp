#include <gtest/gtest.h>

#include <clocale>
#include <unordered_set>

#include "model/MediaStream.h"
#include "model/OutputContainer.h"
#include "model/ProcessingJob.h"
#include "model/ProcessingRequest.h"

using namespace tavrolin;

namespace {

MediaStream stream(std::int64_t index, MediaStreamKind kind, std::string codec) {
    MediaStream s;
    s.index = index;
    s.kind = kind;
    s.codecName = std::move(codec);
    return s;
}

MediaStream hevcVideo() {
    auto s = stream(0, MediaStreamKind::video, "hevc");
    s.profile = "Main 10";
    s.width = 3840;
    s.height = 2160;
    s.language = "eng";
    return s;
}

MediaStream commentaryAudio() {
    auto s = stream(1, MediaStreamKind::audio, "aac");
    s.title = "Commentary";
    s.channelLayout = "stereo";
    s.channelCount = 2;
    s.language = "eng";
    s.isDefault = true;
    return s;
}

}  // namespace

TEST(MediaStreamTexts, ExamplesGiveTheirSummaryAndPickerLabel) {
    auto ac3 = stream(2, MediaStreamKind::audio, "ac3");
    ac3.channelCount = 6;
    ac3.language = "und";
    auto subrip = stream(3, MediaStreamKind::subtitle, "subrip");
    subrip.language = "jpn";

    EXPECT_EQ(hevcVideo().technicalSummary(), "HEVC · Main 10 · 3840×2160 · ENG");
    EXPECT_EQ(hevcVideo().pickerLabel(), "#0 · Video stream 0 · HEVC · Main 10 · 3840×2160 · ENG");
    EXPECT_EQ(commentaryAudio().technicalSummary(), "AAC · stereo · ENG");
    EXPECT_EQ(commentaryAudio().pickerLabel(),
              "#1 · Commentary · ENG · AAC · stereo (2 ch) · Default");
    EXPECT_EQ(ac3.technicalSummary(), "AC3 · 6 channels");
    EXPECT_EQ(ac3.pickerLabel(), "#2 · Unknown language · AC3 · 6 channels");
    EXPECT_EQ(subrip.technicalSummary(), "SUBRIP · JPN");
    EXPECT_EQ(subrip.pickerLabel(), "#3 · Subtitle stream 3 · SUBRIP · JPN");
}

TEST(MediaStreamTexts, EmptyTitleCountsAsNoTitle) {
    auto s = stream(1, MediaStreamKind::audio, "aac");
    s.title = "";
    EXPECT_EQ(s.displayTitle(), "Audio stream 1");
    EXPECT_EQ(s.pickerLabel(), "#1 · Unknown language · AAC");
    s.title = "Director";
    EXPECT_EQ(s.displayTitle(), "Director");
}

TEST(MediaStreamTexts, UnknownProfileAndMissingSizeAreLeftOut) {
    for (const char* profile : {"Unknown", "unknown", "UNKNOWN"}) {
        auto s = stream(0, MediaStreamKind::video, "h264");
        s.profile = profile;
        s.width = 1920;  // no height: no resolution
        s.language = "eng";
        EXPECT_EQ(s.technicalSummary(), "H264 · ENG") << profile;
        s.language = "und";
        EXPECT_EQ(s.technicalSummary(), "H264") << profile;
    }
}

TEST(MediaStreamTexts, ChannelTextsAndUndeterminedLanguage) {
    auto wide = stream(4, MediaStreamKind::audio, "truehd");
    wide.channelLayout = "7.1_wide";
    EXPECT_EQ(wide.technicalSummary(), "TRUEHD · 7.1 wide");
    EXPECT_EQ(wide.pickerLabel(), "#4 · Unknown language · TRUEHD · 7.1 wide");

    auto bare = stream(5, MediaStreamKind::audio, "opus");
    bare.language = "fre";
    EXPECT_EQ(bare.technicalSummary(), "OPUS · FRE");

    auto mono = stream(6, MediaStreamKind::audio, "pcm_s16le");
    mono.channelCount = 1;
    EXPECT_EQ(mono.technicalSummary(), "PCM_S16LE · 1 channels");

    auto upperUnd = stream(7, MediaStreamKind::audio, "aac");
    upperUnd.language = "UND";
    EXPECT_EQ(upperUnd.technicalSummary(), "AAC · UND");
    EXPECT_EQ(upperUnd.pickerLabel(), "#7 · Unknown language · AAC");
}

TEST(MediaStreamTexts, UpperCaseDoesNotFollowTheProcessLocale) {
    // A Turkish locale maps "i" to a dotted capital; codec and language names must not change.
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "tr_TR.UTF-8")) {
        GTEST_SKIP() << "Turkish locale not installed";
    }
    auto s = stream(1, MediaStreamKind::audio, "flac");
    s.language = "fin";
    const std::string summary = s.technicalSummary();
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(summary, "FLAC · FIN");
}

TEST(MediaStreamValues, IdentityIsTheIndexButEqualityCoversEveryField) {
    auto a = commentaryAudio();
    auto b = a;
    b.isForced = true;
    EXPECT_NE(a, b);
    EXPECT_EQ(a.id(), b.id());
    b = a;
    b.codecLongName = "";
    EXPECT_NE(a, b);  // present-but-empty differs from absent

    std::unordered_set<MediaStream> set{a, commentaryAudio(), b};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(std::hash<MediaStream>{}(a), std::hash<MediaStream>{}(commentaryAudio()));
}

TEST(MediaStreamValues, KindRawValues) {
    EXPECT_EQ(rawValue(MediaStreamKind::subtitle), "subtitle");
    EXPECT_EQ(mediaStreamKindFromRaw("audio"), MediaStreamKind::audio);
    EXPECT_EQ(mediaStreamKindFromRaw("Audio"), std::nullopt);
    EXPECT_EQ(mediaStreamKindFromRaw("data"), std::nullopt);
}

TEST(OutputContainerValues, RawValuesMuxersAndFileLookup) {
    std::vector<std::string> raws;
    for (auto c : allOutputContainers) {
        raws.emplace_back(rawValue(c));
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"mp4", "mov", "mkv", "m4v", "webm"}));
    EXPECT_EQ(muxerName(OutputContainer::mkv), "matroska");
    EXPECT_EQ(muxerName(OutputContainer::m4v), "mp4");
    EXPECT_EQ(muxerName(OutputContainer::webm), "webm");
    EXPECT_EQ(displayName(OutputContainer::webm), "WEBM");

    EXPECT_EQ(outputContainerFromRaw("MP4"), std::nullopt);
    EXPECT_EQ(containerForFile("/x/Clip.MP4"), OutputContainer::mp4);
    EXPECT_EQ(containerForFile("/x/a.b.Mkv"), OutputContainer::mkv);
    EXPECT_EQ(containerForFile("/x/Clip.avi"), std::nullopt);
    EXPECT_EQ(containerForFile("/x/Clip"), std::nullopt);

    EXPECT_EQ(playbackTargetFromRaw("iPhone17Pro"), PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(playbackTargetFromRaw("iphone17pro"), std::nullopt);
    EXPECT_EQ(rawValue(PlaybackTarget::iPhone17Pro), "iPhone17Pro");
    std::unordered_set<OutputContainer> set(allOutputContainers.begin(), allOutputContainers.end());
    EXPECT_EQ(set.size(), 5u);
}

TEST(ProcessingRequestValues, TitlesNameTheOperationAndInput) {
    EXPECT_EQ(ProcessingRequest(RemuxRequest{"/m/a b.mkv", "/o/x.mp4", {}, {}, {}}).title(),
              "Remux a b.mkv");
    EXPECT_EQ(ProcessingRequest(JoinRequest{{"/m/1.mp4", "/m/2.mp4"}, "/o/j.mp4"}).title(),
              "Join 2 files");
    EXPECT_EQ(ProcessingRequest(SplitRequest{"/m/c.mov", "/o/c.mov", 1, std::nullopt}).title(),
              "Split c.mov");
    EXPECT_EQ(ProcessingRequest(ChapterRequest{"/m/d.mkv", "/o/d.mkv", {}}).title(),
              "Add chapters to d.mkv");
    TranscriptionMediaRequest t;
    t.input = "/m/e.mp4";
    EXPECT_EQ(ProcessingRequest(t).title(), "Export transcript for e.mp4");
}

TEST(ProcessingRequestValues, EqualityNeedsSameCaseAndPayload) {
    const ProcessingRequest split1 = SplitRequest{"/a.mp4", "/b.mp4", 1.0, std::nullopt};
    const ProcessingRequest split2 = SplitRequest{"/a.mp4", "/b.mp4", 1.0, 2.0};
    EXPECT_NE(split1, split2);
    EXPECT_EQ(split1, ProcessingRequest(SplitRequest{"/a.mp4", "/b.mp4", 1.0, std::nullopt}));
    EXPECT_NE(ProcessingRequest(ChapterRequest{"/a.mp4", "/b.mp4", {}}),
              ProcessingRequest(RemuxRequest{"/a.mp4", "/b.mp4", {}, {}, {}}));
}

TEST(ProcessingJobStatus, FailedComparesItsMessage) {
    using Status = ProcessingJob::Status;
    EXPECT_EQ(Status::failed("x"), Status::failed("x"));
    EXPECT_NE(Status::failed("x"), Status::failed("y"));
    EXPECT_NE(Status::failed(""), Status::cancelled());
    EXPECT_EQ(Status::queued().label(), "Queued");
    EXPECT_EQ(Status::running().label(), "Processing");
    EXPECT_EQ(Status::completed().label(), "Completed");
    EXPECT_EQ(Status::cancelled().label(), "Cancelled");
    EXPECT_EQ(Status::failed("boom").label(), "Failed");
}
