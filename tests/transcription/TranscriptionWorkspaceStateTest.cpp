// The workspace rules without tasks: mirrors, adding and languages, inspection outcomes, run
// bookkeeping, timing, chapters, export readiness and summary bookkeeping.
#include "transcription/TranscriptionWorkspaceState.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <set>

#include <fstream>

#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Kind = BatchTranscriptionSourceStatus::Kind;

namespace {

const std::vector<TranscriptionLocale> usAndAu{{"en-AU", "English (Australia)"},
                                               {"en-US", "English (United States)"}};

MediaStream stream(std::int64_t index, MediaStreamKind kind, std::string codec,
                   std::optional<std::string> language = {}, bool isDefault = false) {
    MediaStream result;
    result.index = index;
    result.kind = kind;
    result.codecName = std::move(codec);
    result.language = std::move(language);
    result.isDefault = isDefault;
    return result;
}

std::vector<SubtitleCue> cuesAt(std::vector<double> starts) {
    std::vector<SubtitleCue> cues;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        cues.push_back({static_cast<std::int64_t>(i + 1), starts[i], starts[i] + 0.5,
                        "line " + std::to_string(i + 1), std::nullopt});
    }
    return cues;
}

fs::path touch(const fs::path& file) {
    std::ofstream(file) << "x";
    return file;
}

struct Workspace {
    tavtest::TempDir folder;
    std::shared_ptr<InMemoryPreferencesStore> preferences =
        std::make_shared<InMemoryPreferencesStore>();
    TranscriptionWorkspaceState state{preferences};

    // One inspected, available source per name, each with an MKV-friendly stream set.
    std::vector<Uuid> inspected(const std::vector<std::string>& names) {
        state.applyCapabilityResult({usAndAu, std::nullopt});
        std::vector<fs::path> files;
        for (const auto& name : names) {
            files.push_back(touch(folder / name));
        }
        EXPECT_TRUE(state.addSources(files));
        std::vector<Uuid> ids;
        while (const auto next = state.beginNextInspection()) {
            state.applyInspection(next->first,
                                  {{stream(0, MediaStreamKind::video, "h264"),
                                    stream(1, MediaStreamKind::audio, "aac", "eng", true),
                                    stream(2, MediaStreamKind::subtitle, "subrip", "eng")},
                                   {},
                                   3.0,
                                   {}});
            ids.push_back(next->first);
        }
        return ids;
    }
    void transcribe(const std::vector<Uuid>& ids, std::vector<double> starts) {
        state.startTranscription(ids);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            ASSERT_TRUE(state.beginRunPosition(i));
            std::vector<TranscriptFragment> fragments;
            for (double start : starts) {
                fragments.push_back({"word at " + std::to_string(start), start, start + 0.4, 0.9});
            }
            state.completeRunPosition(ids[i], fragments);
        }
        state.finishTranscriptionBatch(false);
    }
};

}  // namespace

TEST(TranscriptionWorkspaceState, AddsFilesOnceByPathAndByInodeAndPicksTheirContainers) {
    Workspace w;
    const auto mov = touch(w.folder / "Talk.MOV");
    const auto avi = touch(w.folder / "clip.avi");
    ASSERT_EQ(::link(mov.c_str(), (w.folder / "same.mp4").c_str()), 0);
    fs::create_directory(w.folder / "folder");

    EXPECT_FALSE(w.state.addSources({w.folder / "folder", w.folder / "noextension"}));
    EXPECT_TRUE(w.state.addSources({mov, w.folder / "." / "Talk.MOV", avi, w.folder / "same.mp4"}));
    EXPECT_FALSE(w.state.addSources({mov}));
    // A second name for a listed file goes once its inspection reads which file it is.
    ASSERT_EQ(w.state.sources.size(), 3u);
    while (const auto next = w.state.beginNextInspection()) {
        w.state.applyInspection(next->first, {{}, {}, 2.0, fileIdentity(next->second)});
    }
    ASSERT_EQ(w.state.sources.size(), 2u);
    EXPECT_EQ(w.state.sources[0].mediaOutputContainer, OutputContainer::mov);
    EXPECT_EQ(w.state.sources[1].mediaOutputContainer, OutputContainer::mkv);
    EXPECT_EQ(w.state.selectedSourceID, w.state.sources[0].id);
    EXPECT_FALSE(w.state.message);

    w.state.isTranscribing = true;
    EXPECT_TRUE(w.state.addSources({touch(w.folder / "a.mkv"), touch(w.folder / "b.mkv")}));
    EXPECT_EQ(w.state.message,
              "Added 2 files. Inspecting them while the current transcription continues.");
    EXPECT_TRUE(w.state.addSources({touch(w.folder / "c.mkv")}));
    EXPECT_EQ(w.state.message,
              "Added 1 file. Inspecting it while the current transcription continues.");
}

TEST(TranscriptionWorkspaceState, PreferredLanguageMigratesAustralianEnglishOnce) {
    struct Row {
        const char* name;
        std::optional<std::string> stored;
        std::optional<std::string> marker;
        std::vector<TranscriptionLocale> locales;
        std::optional<std::string> expected;
        std::optional<std::string> storedAfter;
        std::optional<std::string> markerAfter;
    };
    const std::vector<TranscriptionLocale> auOnly{{"en-AU", "AU"}, {"de-DE", "DE"}};
    const std::vector<Row> rows{
        {"underscore, unmigrated", "en_AU", {}, usAndAu, "en-US", "en-US", "1"},
        {"no American English", "en_AU", {}, auOnly, "en-AU", "en_AU", "1"},
        {"already migrated", "en-AU", "1", usAndAu, "en-AU", "en-AU", "1"},
        {"nothing stored", {}, {}, usAndAu, "en-US", {}, "1"},
        {"locales not known yet", "en_AU", {}, {}, {}, "en_AU", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Workspace w;
        if (row.stored) {
            w.preferences->setString(TranscriptionWorkspaceState::lastLocaleKey, *row.stored);
        }
        if (row.marker) {
            w.preferences->setString(TranscriptionWorkspaceState::normalizationVersionKey,
                                     *row.marker);
        }
        EXPECT_EQ(w.state.preferredLocaleIdentifier(row.locales), row.expected);
        EXPECT_EQ(w.preferences->string(TranscriptionWorkspaceState::lastLocaleKey),
                  row.storedAfter);
        EXPECT_EQ(w.preferences->string(TranscriptionWorkspaceState::normalizationVersionKey),
                  row.markerAfter);
    }
}

TEST(TranscriptionWorkspaceState, MirrorsFollowTheSelectionAndWriteBack) {
    Workspace w;
    const auto ids = w.inspected({"a.mkv", "b.mp4", "c.mkv"});
    w.state.setCues(cuesAt({1, 2}));
    w.state.setMediaOutputContainer(OutputContainer::mp4);
    w.state.setSelectedLocaleIdentifier("EN-us");
    EXPECT_EQ(w.state.source(ids[0])->cues.size(), 2u);
    EXPECT_EQ(w.state.source(ids[0])->mediaOutputContainer, OutputContainer::mp4);
    EXPECT_EQ(w.preferences->string(TranscriptionWorkspaceState::lastLocaleKey), "EN-us");
    w.state.setSelectedLocaleIdentifier("xx-YY");
    EXPECT_EQ(w.state.source(ids[0])->selectedLocaleIdentifier, "xx-YY");
    EXPECT_EQ(w.preferences->string(TranscriptionWorkspaceState::lastLocaleKey), "EN-us");

    w.state.failInspection(ids[1], "ffprobe could not inspect this file.");
    w.state.selectSource(ids[1]);
    EXPECT_TRUE(w.state.cues().empty());
    EXPECT_EQ(w.state.mediaOutputContainer(), OutputContainer::mp4);
    EXPECT_EQ(w.state.errorMessage, "ffprobe could not inspect this file.");

    // Removing the selected source selects the first remaining one, not its neighbour.
    EXPECT_TRUE(w.state.removeSource(ids[1]));
    EXPECT_EQ(w.state.selectedSourceID, ids[0]);
    EXPECT_EQ(w.state.cues().size(), 2u);
    w.state.removeSource(ids[0]);
    w.state.removeSource(ids[2]);
    EXPECT_FALSE(w.state.selectedSourceID);
    EXPECT_TRUE(w.state.cues().empty());
    EXPECT_EQ(w.state.mediaOutputContainer(), OutputContainer::mkv);
    EXPECT_EQ(w.state.selectedLocaleIdentifier(), "en-US");  // kept from the last selection
    w.state.setCues(cuesAt({1}));
    EXPECT_EQ(w.state.cues().size(), 1u);
}

TEST(TranscriptionWorkspaceState, LanguageForAllExportMarksAndSearchHits) {
    Workspace w;
    const auto ids = w.inspected({"a.mkv", "b.mkv"});
    w.transcribe({ids[0]}, {1.0});
    w.state.setSelectedLocaleIdentifier("de-DE");  // not supported: nothing applied
    w.state.applySelectedLanguageToAllSources();
    EXPECT_EQ(w.state.sources[1].selectedLocaleIdentifier, "en-US");
    w.state.setSelectedLocaleIdentifier("EN-AU");
    w.state.applySelectedLanguageToAllSources();
    EXPECT_EQ(w.state.sources[1].selectedLocaleIdentifier, "EN-AU");
    EXPECT_EQ(w.state.message, "Applied EN-AU to 2 files.");

    w.state.setExportSelection(true, ids[1]);
    EXPECT_FALSE(w.state.selectedExportSourceIDs.contains(ids[1]));
    w.state.selectedExportSourceIDs.insert(ids[1]);
    w.state.selectAllExportableSources();
    EXPECT_EQ(w.state.selectedExportSourceIDs, std::set<Uuid>{ids[0]});
    w.state.clearSelectedTranscript();
    w.state.selectAllExportableSources();
    EXPECT_TRUE(w.state.selectedExportSourceIDs.empty());

    w.state.setCues(cuesAt({1, 2}));
    w.state.transcriptSearch = "line";
    w.state.batchTranscriptSearch = "line";
    w.state.openSearchResult({ids[0], w.state.sources[0].url, w.state.cues()[1]});
    EXPECT_EQ(w.state.requestedCueID, 2);
    EXPECT_TRUE(w.state.transcriptSearch.empty() && w.state.batchTranscriptSearch.empty());
    EXPECT_EQ(w.state.cues().size(), 2u);
    w.state.selectSource(ids[1]);
    EXPECT_FALSE(w.state.requestedCueID);
}

TEST(TranscriptionWorkspaceState, InspectionPicksTheDefaultAudioStreamAndFailsWithoutAudio) {
    struct Row {
        const char* name;
        std::vector<MediaStream> streams;
        std::optional<std::int64_t> expectedIndex;
        std::string expectedLocale;
        Kind expectedKind;
    };
    const std::vector<Row> rows{
        {"third stream is the only audio",
         {stream(0, MediaStreamKind::video, "h264"), stream(1, MediaStreamKind::subtitle, "ass"),
          stream(2, MediaStreamKind::audio, "aac", "ger")},
         2,
         "en-US",
         Kind::ready},
        {"second audio flagged default",
         {stream(0, MediaStreamKind::audio, "aac", "eng"),
          stream(1, MediaStreamKind::audio, "aac", "eng", true)},
         1,
         "en-US",
         Kind::ready},
        {"no audio",
         {stream(0, MediaStreamKind::video, "h264"), stream(1, MediaStreamKind::subtitle, "ass")},
         std::nullopt,
         "en-US",
         Kind::failed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Workspace w;
        w.state.applyCapabilityResult({usAndAu, std::nullopt});
        w.state.addSources({touch(w.folder / "a.mkv")});
        const auto next = w.state.beginNextInspection();
        ASSERT_TRUE(next);
        EXPECT_EQ(w.state.sources[0].status.kind, Kind::inspecting);
        w.state.applyInspection(next->first, {row.streams, {}, 2.0, {}});
        const auto& source = w.state.sources[0];
        EXPECT_EQ(source.selectedAudioStreamIndex, row.expectedIndex);
        EXPECT_EQ(w.state.selectedAudioStreamIndex(), row.expectedIndex);
        EXPECT_EQ(source.selectedLocaleIdentifier, row.expectedLocale);
        EXPECT_EQ(source.status.kind, row.expectedKind);
        EXPECT_EQ(w.state.errorMessage,
                  row.expectedKind == Kind::failed
                      ? std::optional<std::string>("No audio streams were found in this file.")
                      : std::nullopt);
    }

    // A file that is not media: its row and the page show the error's sentence alone.
    Workspace bad;
    bad.state.addSources({touch(bad.folder / "fake video.mkv")});
    bad.state.failInspection(bad.state.beginNextInspection()->first,
                             "Not media. \n[matroska @ 0x1] EBML header parsing failed");
    EXPECT_EQ(bad.state.sources[0].status, BatchTranscriptionSourceStatus::failed("Not media."));
    EXPECT_EQ(bad.state.errorMessage, "Not media.");

    // Read again after its file changed: the user's track and language stay while the audio
    // layout holds, and the transcript stays either way.
    const auto& twoTracks = rows[1].streams;
    auto threeTracks = twoTracks;
    threeTracks.push_back(stream(2, MediaStreamKind::audio, "ac3", "eng"));
    for (const auto& [streams, keeps] : {std::pair{twoTracks, true}, {threeTracks, false}}) {
        SCOPED_TRACE(keeps);
        Workspace w;
        w.state.applyCapabilityResult({usAndAu, std::nullopt});
        const auto file = touch(w.folder / "a.mkv");
        w.state.addSources({file});
        w.state.applyInspection(w.state.beginNextInspection()->first, {twoTracks, {}, 2.0, {}});
        w.state.setSelectedAudioStreamIndex(0);
        w.state.setSelectedLocaleIdentifier("en-AU");
        w.state.setCues(cuesAt({1}));
        w.state.markForInspection(file, std::nullopt);
        w.state.applyInspection(w.state.beginNextInspection()->first, {streams, {}, 2.0, {}});
        EXPECT_EQ(w.state.selectedAudioStreamIndex(), keeps ? 0 : 1);
        EXPECT_EQ(w.state.selectedLocaleIdentifier(), keeps ? "en-AU" : "en-US");
        EXPECT_EQ(w.state.cues(), cuesAt({1}));
    }
}

TEST(TranscriptionWorkspaceState, CapabilityAnswerCompletesLanguagesOrClearsOnlyTheMirror) {
    Workspace w;
    w.state.addSources({touch(w.folder / "a.mkv"), touch(w.folder / "b.mkv")});
    w.state.sources[1].selectedLocaleIdentifier = "en-AU";
    w.state.applyCapabilityResult({usAndAu, std::nullopt});
    EXPECT_EQ(w.state.sources[0].selectedLocaleIdentifier, "en-US");
    EXPECT_EQ(w.state.sources[1].selectedLocaleIdentifier, "en-AU");
    EXPECT_EQ(w.state.availability.kind, TranscriptionWorkspaceAvailability::Kind::available);

    w.state.applyCapabilityResult({{}, "Speech recognition is not installed."});
    EXPECT_TRUE(w.state.locales.empty());
    EXPECT_EQ(w.state.selectedLocaleIdentifier(), "");
    EXPECT_EQ(w.state.sources[0].selectedLocaleIdentifier, "en-US");
    EXPECT_EQ(w.state.availability, (TranscriptionWorkspaceAvailability{
                                        TranscriptionWorkspaceAvailability::Kind::unavailable,
                                        "Speech recognition is not installed."}));
}

TEST(TranscriptionWorkspaceState, BatchRunCountsAndSummarises) {
    Workspace w;
    const auto ids = w.inspected({"a.mkv", "b.mkv", "c.mkv"});
    w.state.sources[1].selectedAudioStreamIndex.reset();
    w.state.startTranscription(ids);
    EXPECT_EQ(w.state.batchProgressFraction(), 0.0);
    ASSERT_TRUE(w.state.beginRunPosition(0));
    EXPECT_EQ(w.state.batchProgressText(), "File 1 of 3");
    w.state.completeRunPosition(ids[0], {{"hello there", 0.3, 1.0, 0.9}});
    EXPECT_FALSE(w.state.beginRunPosition(1));
    EXPECT_EQ(w.state.sources[1].status,
              BatchTranscriptionSourceStatus::failed(
                  "Choose an audio track and spoken language before transcribing."));
    // A late report for a finished file does not reach the next one.
    ASSERT_TRUE(w.state.beginRunPosition(2));
    w.state.applyTranscriptionProgress(ids[0], TranscriptionProgress::transcribing(0.9));
    EXPECT_EQ(w.state.progress, TranscriptionProgress::preparingLanguageModel());
    w.state.applyTranscriptionProgress(ids[2], TranscriptionProgress::transcribing(0.5));
    EXPECT_EQ(w.state.sources[2].progress, TranscriptionProgress::transcribing(0.5));
    EXPECT_EQ(w.state.batchProgressText(), "File 3 of 3");
    w.state.completeRunPosition(ids[2], {{"again", 1.0, 1.5, 0.9}});
    w.state.finishTranscriptionBatch(false);
    EXPECT_EQ(w.state.batchProgressText(), "File 3 of 3");
    EXPECT_EQ(w.state.message,
              "Transcribed 2 files; 1 failed. Select a file to review its status.");
    const auto& first = w.state.sources[0];
    EXPECT_EQ(first.status.kind, Kind::completed);
    EXPECT_DOUBLE_EQ(first.subtitleTimingOffset, 0.0);
    EXPECT_DOUBLE_EQ(first.cues.at(0).startTime, 0.3);
    EXPECT_TRUE(w.state.selectedExportSourceIDs.contains(ids[0]));
    EXPECT_EQ(w.state.cues(), first.cues);
    w.state.sources[1].selectedAudioStreamIndex = 1;
    EXPECT_EQ(w.state.readySourceIDs(), std::vector<Uuid>{ids[1]});

    // One file without speech: the second form, with the plural for 0.
    w.state.startTranscription({ids[1]});
    ASSERT_TRUE(w.state.beginRunPosition(0));
    w.state.completeRunPosition(ids[1], {});
    w.state.finishTranscriptionBatch(false);
    EXPECT_EQ(w.state.message,
              "Transcribed 0 files; 1 failed. Select a file to review its status.");
    EXPECT_EQ(w.state.sources[1].status,
              BatchTranscriptionSourceStatus::failed(TranscriptionError::noSpeech().what()));
}

TEST(TranscriptionWorkspaceState, CancellingKeepsEarlierTranscriptsAndReadiesWaitingFiles) {
    struct Row {
        const char* name;
        std::size_t files;
        bool hadCues;
        Kind expectedCurrent;
        const char* expectedMessage;
    };
    const std::vector<Row> rows{
        {"one new file", 1, false, Kind::ready, "Transcription cancelled."},
        {"one repeated file", 1, true, Kind::completed, "Transcription cancelled."},
        {"three files", 3, false, Kind::ready,
         "Cancelled batch transcription. Pending files were not started."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Workspace w;
        auto ids = w.inspected({"a.mkv", "b.mkv", "c.mkv"});
        ids.resize(row.files);
        if (row.hadCues) {
            w.state.setCues(cuesAt({1}));
        }
        w.state.startTranscription(ids);
        ASSERT_TRUE(w.state.beginRunPosition(0));
        EXPECT_TRUE(w.state.cancelTranscription());
        EXPECT_FALSE(w.state.cancelTranscription());
        EXPECT_EQ(w.state.progressTitle(), "Cancelling transcription…");
        for (std::size_t i = 1; i < ids.size(); ++i) {
            EXPECT_EQ(w.state.sources[i].status.kind, Kind::ready);
        }
        w.state.cancelRunPosition(ids[0]);
        w.state.finishTranscriptionBatch(true);
        EXPECT_EQ(w.state.sources[0].status.kind, row.expectedCurrent);
        EXPECT_EQ(w.state.message, row.expectedMessage);
        EXPECT_FALSE(w.state.isTranscribing);
    }
}

TEST(TranscriptionWorkspaceState, TimingOffsetsShiftCuesAndSayHowFar) {
    Workspace w;
    const auto ids = w.inspected({"a.mkv", "b.mkv", "c.mkv"});
    w.transcribe({ids[0], ids[1]}, {0.3, 2.0});
    EXPECT_EQ(w.state.subtitleTimingOffsetText(), "0.0 s");
    w.state.applySubtitleTimingOffset(0.1);
    w.state.applySubtitleTimingOffset(0.5);
    EXPECT_EQ(w.state.subtitleTimingOffsetText(), "+0.6 s");
    w.state.applySubtitleTimingOffset(-w.state.subtitleTimingOffset);
    EXPECT_EQ(w.state.message, "Reset subtitle timing to Tavrolin's default.");

    // The first cue starts at 0.3: a -1.0 nudge moves only 0.3, a second one nothing.
    w.state.applySubtitleTimingOffset(-1.0);
    EXPECT_DOUBLE_EQ(w.state.cues().front().startTime, 0.0);
    EXPECT_NEAR(w.state.subtitleTimingOffset, -0.3, 1e-9);
    EXPECT_EQ(w.state.message,
              "Subtitle timing adjustment is -0.3 s. Review playback before exporting.");
    w.state.message.reset();
    w.state.applySubtitleTimingOffset(-0.5);
    EXPECT_FALSE(w.state.message);
    EXPECT_EQ(w.state.source(ids[0])->cues, w.state.cues());

    // b starts at 0.3 too and is asked to move -0.3 exactly; both count.
    w.state.applySubtitleTimingOffsetToCompletedSources();
    EXPECT_EQ(w.state.message, "Applied -0.3 s to 2 completed files.");
    EXPECT_NEAR(w.state.source(ids[1])->cues.front().startTime, 0.0, 1e-9);

    for (const auto& [offset, text] : std::vector<std::pair<double, std::string>>{
             {0.02, "+0.0 s"}, {0.00001, "0.0 s"}, {1.0, "+1.0 s"}, {-0.3, "-0.3 s"}}) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(TranscriptionWorkspaceState::offsetText(offset), text);
    }
}

TEST(TranscriptionWorkspaceState, ChapterRulesCompareWholeMilliseconds) {
    struct TimestampRow {
        double seconds;
        const char* text;
    };
    for (const auto& row : std::vector<TimestampRow>{{-3, "00:00:00.000"},
                                                     {59.9994, "00:00:59.999"},
                                                     {59.9996, "00:01:00.000"},
                                                     {360000, "100:00:00.000"}}) {
        SCOPED_TRACE(row.seconds);
        EXPECT_EQ(TranscriptionWorkspaceState::formatTimestamp(row.seconds), row.text);
    }
    const std::string invalid =
        "Give every chapter marker a valid time and title before exporting.";
    const std::string duplicate = "Chapter markers must have unique times before exporting.";
    struct ValidationRow {
        std::vector<ChapterMarker> chapters;
        std::optional<std::string> expected;
    };
    for (const auto& row : std::vector<ValidationRow>{
             {{{Uuid::random(), -1, "A"}}, invalid},
             {{{Uuid::random(), INFINITY, "A"}}, invalid},
             {{{Uuid::random(), 1, "  \n"}}, invalid},
             {{{Uuid::random(), 10.0001, "A"}, {Uuid::random(), 10.0004, "B"}}, duplicate},
             {{{Uuid::random(), -0.0, "A"}}, std::nullopt},
             {{}, std::nullopt}}) {
        EXPECT_EQ(TranscriptionWorkspaceState::chapterValidationMessage(row.chapters),
                  row.expected);
    }

    Workspace w;
    w.inspected({"a.mkv"});
    w.state.addChapterAtCue({1, 12.0, 12.5, "  two \n  words ", {}});
    EXPECT_EQ(w.state.chapters().at(0).title, "two words");
    EXPECT_EQ(w.state.message, "Added a chapter at 00:00:12.000.");
    w.state.addChapterAtCue({2, 12.0004, 13, "again", {}});
    EXPECT_EQ(w.state.message, "A chapter marker already exists at this cue.");
    w.state.addChapterAtCue({3, 12.0006, 13, std::string(100, 'x'), {}});
    EXPECT_EQ(w.state.chapters().at(1).title, std::string(72, 'x'));
    w.state.addChapterAtCue({4, 1.0, 2, " ", {}});
    EXPECT_EQ(w.state.chapters().at(0).title, "Chapter 3");
    EXPECT_EQ(w.state.sources[0].chapters, w.state.chapters());
    w.state.removeChapter(w.state.chapters().at(0).id);
    EXPECT_EQ(w.state.chapters().size(), 2u);
    EXPECT_TRUE(w.state.hasChapter(12.0004));
    EXPECT_FALSE(w.state.hasChapter(1.0));
}

TEST(TranscriptionWorkspaceState, MediaExportReadinessAndRequests) {
    Workspace w;
    const auto ids = w.inspected({"Talk.mkv", "A.mov", "A.mkv", "clip.avi"});
    // Told what is on the disk, as the page's checker answers off the GUI thread.
    std::set<fs::path> existing;
    w.state.outputExists = [&](const fs::path& output) { return existing.contains(output); };
    w.state.outputIdentity = fileIdentity;
    EXPECT_EQ(w.state.mediaExportBlocker(),
              "Transcribe this source before exporting a media file.");
    w.transcribe(ids, {1.0});

    auto request = w.state.selectedMediaRequest(w.folder / "Talk-transcribed.mkv");
    ASSERT_TRUE(request);
    EXPECT_TRUE(request->mapsEverySourceStream);
    EXPECT_EQ(request->subtitleLanguage, "eng");
    EXPECT_TRUE(request->subtitleCodecOverrides.empty());
    w.state.setMediaOutputContainer(OutputContainer::mp4);
    request = w.state.selectedMediaRequest(w.folder / "Talk-transcribed.mp4");
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->mapsEverySourceStream);
    EXPECT_EQ(request->subtitleCodecOverrides.at(2), "mov_text");
    // A video shown turned: MP4 keeps the turn, MKV is named before anything is queued.
    w.state.sources[0].sourceStreams[0].rotation = 270;
    EXPECT_FALSE(w.state.mediaExportBlocker());
    w.state.setMediaOutputContainer(OutputContainer::mkv);
    EXPECT_EQ(w.state.mediaExportBlocker(),
              "\u201CTalk.mkv\u201D is shown turned 270\u00B0 clockwise, and MKV cannot keep that "
              "turn. Choose MP4 or MOV to keep it upright.");
    w.state.sources[0].sourceStreams[0].rotation.reset();
    w.state.setMediaOutputContainer(OutputContainer::mp4);

    struct Row {
        const char* name;
        fs::path destination;
        std::string expected;
    };
    w.state.outputClaimed = [&](const fs::path& output) {
        return output == w.folder / "queued.mp4" ? OutputClaim::waiting : OutputClaim::none;
    };
    existing.insert(w.folder / "taken.mp4");
    ASSERT_EQ(::link((w.folder / "Talk.mkv").c_str(), (w.folder / "Talk-link.mp4").c_str()), 0);
    for (const auto& row : std::vector<Row>{
             {"the source itself", w.folder / "Talk.mkv",
              "Choose a new output file. Tavrolin does not replace the source."},
             {"the source under another name", w.folder / "Talk-link.mp4",
              "Choose a new output file. Tavrolin does not replace the source."},
             {"an existing file", w.folder / "taken.mp4",
              "An output named “taken.mp4” already exists. Choose another folder or name."},
             {"another extension", w.folder / "out.mkv", "The output filename must use .mp4."},
             {"the output of a queued job", w.folder / "queued.mp4",
              "“queued.mp4” is already the output of a job waiting in the queue."}}) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(w.state.selectedMediaRequest(row.destination));
        EXPECT_EQ(w.state.errorMessage, row.expected);
    }

    w.state.setCues({{1, 2, 1, "backwards", {}}});
    EXPECT_EQ(w.state.mediaExportBlocker(), "Every subtitle cue needs a valid start and end time.");
    w.state.setCues(cuesAt({1}));
    w.state.setChapters({{Uuid::random(), 5, "A"}, {Uuid::random(), 5.0002, "B"}});
    EXPECT_EQ(w.state.mediaExportBlocker(),
              "Chapter markers must have unique times before exporting.");
    w.state.setChapters({});

    // Batch: A.mov and A.mkv both as MP4 collide; an existing output refuses all.
    w.state.selectedExportSourceIDs = {ids[1], ids[2]};
    w.state.sources[1].mediaOutputContainer = OutputContainer::mp4;
    w.state.sources[2].mediaOutputContainer = OutputContainer::mp4;
    EXPECT_EQ(w.state.batchMediaExportBlocker(),
              "Two selected files would produce the same output name.");
    w.state.selectedExportSourceIDs = {ids[1]};
    EXPECT_EQ(w.state.batchMediaOutputs(), std::vector<fs::path>{w.folder / "A-transcribed.mp4"});
    existing.insert(w.folder / "A-transcribed.mp4");
    EXPECT_EQ(w.state.batchMediaExportBlocker(),
              "An output named “A-transcribed.mp4” already exists beside its source. Move the "
              "existing file away, or choose Replace original files.");
    w.state.replaceOriginalsDuringBatchExport = true;
    w.state.selectedExportSourceIDs = {ids[3]};
    EXPECT_EQ(w.state.batchMediaExportBlocker(),
              "clip.avi cannot be replaced because its container is not supported for "
              "transcript export.");
    w.state.selectedExportSourceIDs = {ids[0], ids[1]};
    const auto requests = w.state.batchMediaRequests();
    ASSERT_TRUE(requests);
    EXPECT_EQ(requests->at(1).output, requests->at(1).input);
    EXPECT_TRUE(requests->at(1).mapsEverySourceStream && requests->at(1).replacesInput);
    w.state.noteMediaQueued(2, {}, true);
    EXPECT_EQ(w.state.message,
              "Added 2 files to the queue. Each original remains untouched until its "
              "replacement passes validation.");

    // The same file under a second name is one output; a queued or finished replacement
    // refuses another.
    ASSERT_EQ(::link((w.folder / "Talk.mkv").c_str(), (w.folder / "Alias.mkv").c_str()), 0);
    w.state.sources[1].url = w.folder / "Alias.mkv";
    EXPECT_EQ(w.state.batchMediaExportBlocker(),
              "Two selected files would produce the same output name.");
    w.state.sources[1].url = w.folder / "A.mov";
    w.state.pendingReplacements.insert(*fileIdentity(w.folder / "A.mov"));
    EXPECT_EQ(w.state.batchMediaExportBlocker(), "A replacement of “A.mov” is already queued.");
    w.state.pendingReplacements.clear();
    w.state.completedReplacements.insert(*fileIdentity(w.folder / "A.mov"));
    EXPECT_EQ(w.state.batchMediaExportBlocker(),
              "“A.mov” was replaced in this session; open it again to export it once more.");
}

TEST(TranscriptionWorkspaceState, SummariesSkipUnchangedConversationsAndDropStaleOnes) {
    Workspace w;
    w.inspected({"a.mkv"});
    EXPECT_TRUE(
        w.state.beginConversationSummaries(false, ConversationSummaryAvailability::available())
            .empty());
    EXPECT_FALSE(w.state.conversationSummaryNotice);
    w.state.setCues(cuesAt({1, 20, 40}));
    EXPECT_TRUE(w.state
                    .beginConversationSummaries(
                        false, ConversationSummaryAvailability::unavailable("Not configured."))
                    .empty());
    EXPECT_EQ(w.state.conversationSummaryNotice, "Not configured.");

    auto pending =
        w.state.beginConversationSummaries(false, ConversationSummaryAvailability::available());
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(w.state.conversationSummaryNotice, "Summarizing 3 conversations on this computer…");
    EXPECT_TRUE(w.state.applyConversationSummary(pending[0], "First."));
    EXPECT_TRUE(w.state.applyConversationSummary(pending[1], "Second."));
    auto edited = w.state.cues();
    edited[2].text = "changed meanwhile";
    w.state.setCues(edited);
    EXPECT_FALSE(w.state.applyConversationSummary(pending[2], "Stale."));
    w.state.finishConversationSummaries(2, 1, false);
    EXPECT_EQ(w.state.conversationSummaryNotice,
              "Summarized 2 conversations; 1 shows its dialogue preview.");
    EXPECT_EQ(w.state.conversationSummaryText(w.state.conversations()[2]), "changed meanwhile");

    pending =
        w.state.beginConversationSummaries(false, ConversationSummaryAvailability::available());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(w.state.conversationSummaryNotice, "Summarizing 1 conversation on this computer…");
    EXPECT_TRUE(w.state.applyConversationSummary(pending[0], "Third."));
    w.state.finishConversationSummaries(1, 0, false);
    EXPECT_EQ(w.state.conversationSummaryNotice,
              "Summarized 1 conversation with the on-device language model.");
    EXPECT_TRUE(
        w.state.beginConversationSummaries(false, ConversationSummaryAvailability::available())
            .empty());
    EXPECT_EQ(w.state.conversationSummaryNotice, "Conversation summaries are up to date.");
    pending =
        w.state.beginConversationSummaries(true, ConversationSummaryAvailability::available());
    ASSERT_EQ(pending.size(), 3u);

    // A failed refresh shows the current dialogue, not the earlier summary, and says why.
    w.state.failConversationSummary(pending[0], "Unreachable.");
    w.state.failConversationSummary(pending[1], "Another reason.");
    w.state.finishConversationSummaries(0, 2, false);
    EXPECT_EQ(w.state.conversationSummaryText(w.state.conversations()[0]), "line 1");
    EXPECT_EQ(w.state.conversationSummaryText(w.state.conversations()[2]), "Third.");
    EXPECT_EQ(w.state.conversationSummaryNotice,
              "Summarized 0 conversations; 2 show their dialogue previews. Unreachable. Make sure "
              "the local language model server is running, then choose Refresh Summaries.");
}
