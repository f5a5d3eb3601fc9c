// The review texts and the requests of the Remux workspace, rule by rule. Streams come from a
// fixed table so every codec of the rules can be named; the real ffprobe is exercised by the
// inspection and submission tests.
#include <gtest/gtest.h>

#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxViewModel.h"

using namespace tavrolin;
using tavtest::makeStream;

namespace {

constexpr auto video = MediaStreamKind::video;
constexpr auto audio = MediaStreamKind::audio;
constexpr auto subtitle = MediaStreamKind::subtitle;

class RemuxReviewTest : public tavtest::FixedProbeRemuxTest {
  protected:
    const RemuxSource& source(std::size_t i) const { return model->sources().at(i); }
};

std::vector<MediaStream> h264AacSubRip() {
    return {makeStream(0, video, "h264"), makeStream(1, audio, "aac", "eng"),
            makeStream(2, subtitle, "subrip", "eng")};
}

}  // namespace

TEST_F(RemuxReviewTest, ValidationRulesInOrder) {
    EXPECT_EQ(model->validationMessage(), "Add at least one source file.");

    const auto clip = add("clip.mkv", h264AacSubRip());
    EXPECT_EQ(model->validationMessage(), std::nullopt) << "folder follows the first file";

    for (const std::string text : {"", "   ", "movies", "relative/path"}) {
        model->setOutputDirectoryText(text);
        EXPECT_EQ(model->validationMessage(), "Choose an output folder.") << text;
    }
    model->setOutputDirectoryText(folder.path().string());

    probe->failures[folder / "broken.mkv"] = "ffprobe said no";
    model->addFiles({folder / "broken.mkv"});
    EXPECT_EQ(model->validationMessage(), "Wait for stream inspection to finish.") << "loading";
    ASSERT_TRUE(tavtest::waitUntil([&] { return model->runningInspectionCount() == 0; }));
    EXPECT_EQ(std::get<RemuxSource::Failed>(source(1).inspectionState).message, "ffprobe said no");
    EXPECT_EQ(model->validationMessage(),
              "\u201Cbroken.mkv\u201D could not be inspected. Try again or remove it.")
        << "failed";
    model->removeSource(folder / "broken.mkv");

    for (auto kind : allMediaStreamKinds) {
        model->setStreams(kind, false, clip);
    }
    EXPECT_EQ(model->validationMessage(), "Select at least one stream in every source file.");
    model->setStreams(audio, true, clip);
    EXPECT_EQ(model->validationMessage(), std::nullopt);
}

TEST_F(RemuxReviewTest, PlaybackTargetRulesAndTheirBlockingStatus) {
    struct Case {
        std::string file;
        std::vector<MediaStream> streams;
        std::optional<OutputContainer> container;
        std::string message;
    };
    const std::vector<Case> cases{
        {"old.avi", h264AacSubRip(), std::nullopt,
         "Choose MP4, M4V, or MOV for iPhone 17 Pro; AVI cannot be verified as a playback "
         "container."},
        {"film.mkv", h264AacSubRip(), std::nullopt,
         "iPhone 17 Pro playback requires one of these containers: M4V, MOV, MP4."},
        {"film.mp4", h264AacSubRip(), OutputContainer::webm,
         "iPhone 17 Pro playback requires one of these containers: M4V, MOV, MP4."},
        // MP4 holds VP9, the playback profile does not.
        {"web.mkv",
         {makeStream(0, video, "vp9"), makeStream(1, audio, "aac")},
         OutputContainer::mp4,
         "web.mkv requires video conversion for iPhone 17 Pro, which Tavrolin does not "
         "currently perform."},
        // MP4 cannot hold Theora at all.
        {"old.mkv",
         {makeStream(0, video, "theora"), makeStream(1, audio, "aac")},
         OutputContainer::mp4,
         "MP4 does not support the selected video stream in old.mkv. Change the container to "
         "preserve it without re-encoding."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        model = std::make_unique<RemuxViewModel>(*queue, probe);
        add(c.file, c.streams);
        model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
        model->setContainer(c.container);
        EXPECT_EQ(model->validationMessage(), c.message);
        EXPECT_EQ(model->playbackTargetStatus(), c.message);
        EXPECT_TRUE(model->isPlaybackTargetStatusBlocking());
        // Without a target the same settings pass these rules.
        model->setPlaybackTarget(std::nullopt);
        EXPECT_FALSE(model->isPlaybackTargetStatusBlocking());
        EXPECT_EQ(model->playbackTargetStatus(), std::nullopt);
        EXPECT_NE(model->validationMessage(), c.message);
    }
}

TEST_F(RemuxReviewTest, AudioOnlySelectionEscapesTheVideoRule) {
    const auto clip = add("web.mkv", {makeStream(0, video, "vp9"), makeStream(1, audio, "aac")});
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(model->container(), OutputContainer::mp4);
    model->setStreams(video, false, clip);
    EXPECT_EQ(model->validationMessage(), std::nullopt);
    EXPECT_EQ(model->playbackTargetStatus(),
              "Selected tracks match the published iPhone 17 Pro playback formats without video "
              "or audio re-encoding.");
    EXPECT_FALSE(model->isPlaybackTargetStatusBlocking());
}

TEST_F(RemuxReviewTest, BlockingComesFromTheRuleNotFromWordsInTheFileName) {
    // Rule 8 fires; the file name holds the words of the blocking rules.
    add("requires video conversion; does not support the selected video stream.mp4",
        {makeStream(0, subtitle, "dvd_subtitle")});
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(model->validationMessage(),
              "requires video conversion; does not support the selected video stream.mp4 has no "
              "selected streams supported by MP4.");
    EXPECT_FALSE(model->isPlaybackTargetStatusBlocking());
    EXPECT_EQ(model->playbackTargetStatus(),
              "Selected tracks match the published iPhone 17 Pro playback formats without video "
              "or audio re-encoding.");
}

TEST_F(RemuxReviewTest, NothingSupportedNamesTheOutputContainer) {
    add("clip.WEBM", {makeStream(0, audio, "aac")});
    EXPECT_EQ(model->validationMessage(), "clip.WEBM has no selected streams supported by WEBM.");
    EXPECT_EQ(model->outputContainerDescription(source(0)), "WEBM");
    model->setContainer(OutputContainer::mkv);
    EXPECT_EQ(model->validationMessage(), std::nullopt);
    EXPECT_EQ(model->outputContainerDescription(source(0)), "MKV");
    model->setContainer(std::nullopt);
    // A file whose container is unknown keeps every stream.
    model->removeSource(source(0).url);
    add("tape.avi", {makeStream(0, audio, "pcm_u8")});
    EXPECT_EQ(model->validationMessage(), std::nullopt);
    EXPECT_EQ(model->outputStreams(source(0)).size(), 1u);
    EXPECT_TRUE(model->compatibilityIssues().empty());
}

TEST_F(RemuxReviewTest, CompatibilitySummaryCountsIssuesAndNamesTheTarget) {
    add("a.mkv", {makeStream(0, video, "h264"), makeStream(1, subtitle, "dvd_subtitle")});
    EXPECT_EQ(model->compatibilitySummary(), std::nullopt) << "Matroska holds everything";

    model->setContainer(OutputContainer::mp4);
    EXPECT_EQ(model->compatibilitySummary(),
              "1 selected stream is incompatible with MP4. Change the settings or continue and "
              "omit it.");

    add("b.webm",
        {makeStream(0, video, "vp9"), makeStream(1, audio, "aac"), makeStream(2, audio, "mp3")});
    model->setContainer(std::nullopt);
    EXPECT_EQ(model->compatibilitySummary(),
              "2 selected streams are incompatible with the corresponding input containers. "
              "Change the settings or continue and omit them.");

    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);  // MP4: VP9 fails the profile
    const auto issues = model->compatibilityIssues();
    ASSERT_EQ(issues.size(), 2u);
    EXPECT_FALSE(issues[0].isPlaybackTargetIssue);
    EXPECT_EQ(issues[0].reason, "DVD_SUBTITLE subtitle cannot be written to MP4 by FFmpeg.");
    EXPECT_TRUE(issues[1].isPlaybackTargetIssue);
    EXPECT_EQ(issues[1].reason,
              "VP9 video is not compatible with the iPhone 17 Pro playback profile.");
    EXPECT_EQ(model->compatibilitySummary(),
              "2 selected streams are incompatible with iPhone 17 Pro. Change the settings or "
              "continue and omit them.");
}

TEST_F(RemuxReviewTest, PlaybackStatusCountsOnlyTargetIssues) {
    const auto clip =
        add("clip.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "opus"),
                         makeStream(2, audio, "vorbis"), makeStream(3, subtitle, "dvd_subtitle")});
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(model->playbackTargetStatus(),
              "Compatible with iPhone 17 Pro after omitting 2 selected tracks.");
    model->toggleStream(2, clip);
    EXPECT_EQ(model->playbackTargetStatus(),
              "Compatible with iPhone 17 Pro after omitting 1 selected track.");
    model->toggleStream(1, clip);
    // The subtitle only concerns the container: the summary reports it, not the status.
    EXPECT_EQ(model->playbackTargetStatus(),
              "Selected tracks match the published iPhone 17 Pro playback formats without video "
              "or audio re-encoding.");
    EXPECT_EQ(model->compatibilityIssues().size(), 1u);

    // Nothing is said while a source is still being inspected.
    probe->streams[folder / "late.mp4"] = h264AacSubRip();
    model->addFiles({folder / "late.mp4"});
    EXPECT_EQ(model->playbackTargetStatus(), std::nullopt);
}

TEST_F(RemuxReviewTest, SubtitleNoteCountsStreamsAndListsCodecsOnce) {
    add("a.mp4", h264AacSubRip());
    EXPECT_EQ(model->subtitleConversionNote(),
              "1 selected subtitle stream will be converted to MOV_TEXT. Video and audio will "
              "remain stream-copy.");
    add("b.mov", {makeStream(0, video, "h264"), makeStream(1, subtitle, "ass"),
                  makeStream(2, subtitle, "subrip")});
    add("c.webm", {makeStream(0, video, "vp9"), makeStream(1, subtitle, "subrip")});
    EXPECT_EQ(model->subtitleConversionNote(),
              "4 selected subtitle streams will be converted to MOV_TEXT / WEBVTT. Video and "
              "audio will remain stream-copy.");
    model->setContainer(OutputContainer::mp4);
    EXPECT_EQ(model->subtitleConversionNote(),
              "4 selected subtitle streams will be converted to MOV_TEXT. Video and audio will "
              "remain stream-copy.");
    model->setContainer(OutputContainer::mkv);
    EXPECT_EQ(model->subtitleConversionNote(), std::nullopt);
}

TEST_F(RemuxReviewTest, CardNotesCoverUnselectedStreamsAndAlertListsSelectedOnes) {
    const auto clip =
        add("clip.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "opus", "eng"),
                         makeStream(2, subtitle, "dvd_subtitle", "eng", "Signs"),
                         makeStream(3, subtitle, "subrip")});
    model->setContainer(OutputContainer::mp4);
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    model->toggleStream(3, clip);

    const std::map<std::int64_t, std::string> unsupported{
        {1, "OPUS audio is not compatible with the iPhone 17 Pro playback profile."},
        {2, "DVD_SUBTITLE subtitle cannot be written to MP4 by FFmpeg."}};
    EXPECT_EQ(model->unsupportedStreamMessages(source(0)), unsupported);
    EXPECT_EQ(model->convertedSubtitleCodecs(source(0)),
              (std::map<std::int64_t, std::string>{{3, "mov_text"}}));
    EXPECT_EQ(model->unsupportedStreamsAlertMessage(),
              "These selected streams are not supported by the chosen container or playback "
              "target:\n\n"
              "clip.mkv: #1 Audio stream 1\n"
              "OPUS audio is not compatible with the iPhone 17 Pro playback profile.\n"
              "clip.mkv: #2 Signs\n"
              "DVD_SUBTITLE subtitle cannot be written to MP4 by FFmpeg.\n\n"
              "Continuing will omit them from the output. Source files will not be changed.");

    model->setContainer(std::nullopt);
    model->setPlaybackTarget(std::nullopt);
    EXPECT_TRUE(model->unsupportedStreamMessages(source(0)).empty()) << "MKV takes all";
}

TEST_F(RemuxReviewTest, RequestsNameTheOutputAndCarryOverrides) {
    auto hevc = makeStream(0, video, "hevc");
    const auto clip =
        add("Clip.MOV", {hevc, makeStream(1, audio, "aac"), makeStream(2, subtitle, "subrip"),
                         makeStream(3, subtitle, "dvd_subtitle")});
    const auto out = folder / "out";
    auto request = *model->makeRemuxRequest(source(0), out).as<RemuxRequest>();
    EXPECT_EQ(request.input, clip);
    EXPECT_EQ(request.output, out / "Clip-converted.MOV");
    ASSERT_EQ(request.selectedStreams.size(), 3u) << "DVD subtitles cannot go into MOV";
    EXPECT_EQ(request.subtitleCodecOverrides, (StreamCodecOverrides{{2, "mov_text"}}));
    EXPECT_TRUE(request.videoCodecTagOverrides.empty());

    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    model->setContainer(OutputContainer::mp4);
    request = *model->makeRemuxRequest(source(0), out).as<RemuxRequest>();
    EXPECT_EQ(request.output, out / "Clip-converted.mp4");
    EXPECT_EQ(request.videoCodecTagOverrides, (StreamCodecOverrides{{0, "hvc1"}}));

    // A file of unknown container keeps everything and converts nothing.
    model->setPlaybackTarget(std::nullopt);
    model->setContainer(std::nullopt);
    add("tape.avi", {makeStream(0, video, "hevc"), makeStream(1, subtitle, "subrip")});
    request = *model->makeRemuxRequest(source(1), out).as<RemuxRequest>();
    EXPECT_EQ(request.output, out / "tape-converted.avi");
    EXPECT_EQ(request.selectedStreams.size(), 2u);
    EXPECT_TRUE(request.subtitleCodecOverrides.empty());
}

TEST_F(RemuxReviewTest, UnsupportedStreamsNeedConfirmationBeforeQueueing) {
    const auto clip = add("clip.mkv", {makeStream(0, video, "h264"), makeStream(1, audio, "aac"),
                                       makeStream(2, subtitle, "dvd_subtitle")});
    model->setContainer(OutputContainer::mp4);
    const auto selectionBefore = source(0).selectedStreamIndices;

    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::queue));
    EXPECT_TRUE(model->isShowingCompatibilityConfirmation());
    EXPECT_EQ(model->pendingSubmission(), RemuxViewModel::SubmissionMode::queue);
    EXPECT_TRUE(queue->jobs().empty());

    model->cancelCompatibilityConfirmation();
    EXPECT_FALSE(model->isShowingCompatibilityConfirmation());
    EXPECT_EQ(model->pendingSubmission(), std::nullopt);
    ASSERT_EQ(model->sources().size(), 1u);
    EXPECT_EQ(source(0).selectedStreamIndices, selectionBefore);
    EXPECT_TRUE(queue->jobs().empty());

    // Settings that go wrong while the alert is up keep the pending mode.
    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::queue));
    model->setOutputDirectoryText("");
    model->confirmDroppingUnsupportedStreams();
    EXPECT_FALSE(model->isShowingCompatibilityConfirmation());
    EXPECT_EQ(model->pendingSubmission(), RemuxViewModel::SubmissionMode::queue);
    EXPECT_TRUE(queue->jobs().empty());

    model->setOutputDirectoryText(folder.path().string());
    model->setPlaybackTarget(PlaybackTarget::iPhone17Pro);
    ASSERT_TRUE(tavtest::submitChecked(*model, RemuxViewModel::SubmissionMode::queue));
    model->confirmDroppingUnsupportedStreams();
    ASSERT_EQ(queue->jobs().size(), 1u);
    EXPECT_EQ(queue->jobs()[0].status, ProcessingJob::Status::queued());
    EXPECT_FALSE(queue->isWorkerActive());
    const auto* request = queue->jobs()[0].request.as<RemuxRequest>();
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->input, clip);
    EXPECT_EQ(request->output, folder / "clip-converted.mp4");
    ASSERT_EQ(request->selectedStreams.size(), 2u);
    EXPECT_EQ(request->selectedStreams[1].index, 1);

    // The workspace empties and keeps its container, target and option.
    EXPECT_TRUE(model->sources().empty());
    EXPECT_EQ(model->outputDirectoryText(), "");
    EXPECT_FALSE(model->hasUserSelectedOutputDirectory());
    EXPECT_EQ(model->container(), OutputContainer::mp4);
    EXPECT_EQ(model->playbackTarget(), PlaybackTarget::iPhone17Pro);
    EXPECT_EQ(model->pendingSubmission(), std::nullopt);

    // With nothing to confirm, a validation message stops submission outright.
    model->submit(RemuxViewModel::SubmissionMode::queue);
    EXPECT_FALSE(model->isShowingCompatibilityConfirmation());
    EXPECT_EQ(queue->jobs().size(), 1u);
}
