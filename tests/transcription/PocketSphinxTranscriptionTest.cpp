// The real recogniser on speech from espeak-ng, extracted by the real ffmpeg.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>

#include "SpeechTestSupport.h"
#include "model/CancellationError.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "transcription/LocalMediaTranscriptionService.h"
#include "transcription/PocketSphinxRecognizer.h"
#include "transcription/SpeechPauseFinder.h"
#include "transcription/TranscriptionLocales.h"
#include "transcription/WaveFileReader.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

const std::string shortSpeech =
    "The weather today is sunny and warm. <break time=\"2s\"/> We will go to the market tomorrow "
    "morning. <break time=\"2s\"/> Please bring some bread and the green umbrella.";

// About 150 s of talk with short pauses between sentences, padded to exactly 150 s.
fs::path longSpeech() {
    std::string ssml;
    for (int i = 0; i < 14; ++i) {
        ssml +=
            "We will go to the market tomorrow morning and buy some bread. <break time=\"400ms\"/>"
            " The weather today is sunny and warm, so the children play outside. "
            "<break time=\"700ms\"/>";
    }
    return tavtest::makeSpeech("long-speech.wav", ssml,
                               {"-af", "apad", "-t", "150", "-ac", "1", "-ar", "16000"});
}

struct ServiceFixture {
    tavtest::TempDir root;
    std::shared_ptr<FoundationProcessRunner> runner = std::make_shared<FoundationProcessRunner>();
    LocalMediaTranscriptionService service{runner, std::make_shared<PocketSphinxRecognizer>(),
                                           ToolLocations{}, root.path()};
};

}  // namespace

TEST(PocketSphinxTranscription, FragmentsFollowTheMeasuredPausesWithPhasesInOrder) {
    // Stereo 44.1 kHz AAC in Matroska: the extraction must downmix and resample.
    const fs::path source = tavtest::makeSpeech("short-speech.mka", shortSpeech,
                                                {"-ac", "2", "-ar", "44100", "-c:a", "aac"});
    ServiceFixture fixture;
    std::vector<TranscriptionProgress> phases;
    const auto fragments = fixture.service.transcribe(
        source, 0, "en-US", 10.5, [&](const TranscriptionProgress& p) { phases.push_back(p); });

    std::set<std::string> words;
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        SCOPED_TRACE(fragments[i].text);
        words.insert(fragments[i].text);
        EXPECT_LT(fragments[i].startTime, fragments[i].endTime);
        ASSERT_TRUE(fragments[i].confidence);
        EXPECT_GE(*fragments[i].confidence, 0.0);
        EXPECT_LE(*fragments[i].confidence, 1.0);
        EXPECT_EQ(fragments[i].text.find_first_of("()<>[]"), std::string::npos);
        if (i > 0) {
            EXPECT_GE(fragments[i].startTime, fragments[i - 1].endTime - 1e-9);
        }
    }
    int expectedFound = 0;
    for (const char* expected : {"weather", "today", "market", "tomorrow", "morning", "bread"}) {
        expectedFound += words.contains(expected) ? 1 : 0;
    }
    EXPECT_GE(expectedFound, 4);

    // The last word before each long pause ends where it starts; the next word starts where
    // it ends.
    const auto pauses = tavtest::measuredPauses(source);
    int checked = 0;
    for (const auto& [start, end] : pauses) {
        if (end < 0 || end - start < 1.5) {
            continue;
        }
        SCOPED_TRACE(start);
        const auto after = std::find_if(fragments.begin(), fragments.end(),
                                        [&](const auto& f) { return f.startTime > start; });
        ASSERT_NE(after, fragments.begin());
        ASSERT_NE(after, fragments.end());
        EXPECT_NEAR(std::prev(after)->endTime, start, 0.15);
        EXPECT_NEAR(after->startTime, end, 0.15);
        ++checked;
    }
    EXPECT_EQ(checked, 2);

    using Stage = TranscriptionProgress::Stage;
    ASSERT_GE(phases.size(), 5u);
    EXPECT_EQ(phases[0], TranscriptionProgress::preparingLanguageModel());
    EXPECT_EQ(phases[1], TranscriptionProgress::preparingAudio(0.0));
    const auto firstTranscribing = std::find_if(
        phases.begin(), phases.end(), [](const auto& p) { return p.stage == Stage::transcribing; });
    ASSERT_NE(firstTranscribing, phases.end());
    EXPECT_EQ(*std::prev(firstTranscribing), TranscriptionProgress::preparingAudio(1.0));
    EXPECT_EQ(*firstTranscribing, TranscriptionProgress::transcribing(0.0));
    double last = 0;
    for (auto it = firstTranscribing; it != phases.end(); ++it) {
        ASSERT_EQ(it->stage, Stage::transcribing);
        ASSERT_TRUE(it->fraction);
        EXPECT_GE(*it->fraction, last);
        last = *it->fraction;
    }
    EXPECT_DOUBLE_EQ(last, 1.0);
    EXPECT_TRUE(fixture.root.entries().empty());
}

TEST(PocketSphinxTranscription, LongSpeechIsCutIntoUtterancesOfAtMostThirtySeconds) {
    PocketSphinxRecognizer recognizer;
    const auto recognition = recognizer.prepare("en-US");
    std::vector<SpeechRecognitionResult> results;
    recognition->decode(longSpeech(),
                        [&](const SpeechRecognitionResult& r) { results.push_back(r); }, {});
    ASSERT_GE(results.size(), 5u);
    double previousEnd = 0;
    for (const auto& result : results) {
        SCOPED_TRACE(result.startTime);
        EXPECT_LE(result.endTime - result.startTime, 30.0 + 1e-9);
        EXPECT_GE(result.startTime, previousEnd - 1e-9);
        for (const auto& word : result.words) {
            EXPECT_GE(word.startTime, result.startTime - 1e-9);
            EXPECT_LE(word.endTime, result.endTime + 0.05);
        }
        previousEnd = result.endTime;
    }
    EXPECT_GT(results.back().endTime, 120.0);
}

TEST(PocketSphinxTranscription, CancelAtFortySecondsReturnsPromptlyAndLeavesNothing) {
    const fs::path source = longSpeech();
    ServiceFixture fixture;
    std::promise<void> reached;
    std::once_flag once;
    std::atomic<double> decoded = 0;
    auto run = std::async(std::launch::async, [&] {
        return fixture.service.transcribe(
            source, 0, "en", 150.0, [&](const TranscriptionProgress& p) {
                if (p.stage == TranscriptionProgress::Stage::transcribing && p.fraction) {
                    decoded = *p.fraction;
                    if (*p.fraction >= 40.0 / 150.0) {
                        std::call_once(once, [&] { reached.set_value(); });
                    }
                }
            });
    });
    ASSERT_EQ(reached.get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
    fixture.service.cancel();
    EXPECT_THROW(run.get(), CancellationError);
    // Stopped within a chunk, measured in the run's own audio: nowhere near the end.
    EXPECT_LT(decoded.load(), 0.9);
    EXPECT_TRUE(fixture.root.entries().empty());
    EXPECT_EQ(tavtest::childProcessCount(), 0);
}

TEST(PocketSphinxTranscription, InstalledModelsAreTheLocales) {
    PocketSphinxRecognizer installed;
    EXPECT_EQ(installed.localeIdentifiers(), std::vector<std::string>{"en-US"});
    const struct {
        std::string identifier;
        std::optional<std::string> equivalent;
    } rows[] = {{" EN_us ", "en-US"},
                {"en", "en-US"},
                {"en-GB", std::nullopt},
                {"de", std::nullopt},
                {"", std::nullopt}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.identifier);
        EXPECT_EQ(installed.equivalentLocale(row.identifier), row.equivalent);
    }

    tavtest::TempDir emptyModels;
    fs::create_directories(emptyModels / "en-us");  // a folder without a model is none
    LocalMediaTranscriptionService service{
        std::make_shared<FoundationProcessRunner>(),
        std::make_shared<PocketSphinxRecognizer>(emptyModels.path()), ToolLocations{},
        emptyModels / "work"};
    const auto capability = service.checkCapability();
    EXPECT_TRUE(capability.locales.empty());
    EXPECT_EQ(capability.unavailableMessage,
              "The on-device transcriber has no supported languages on this computer.");
}

TEST(PocketSphinxTranscription, OnlyTheExtractionsWaveFormIsRead) {
    const auto tone = [](const std::string& name, std::vector<std::string> format) {
        std::vector<std::string> arguments{"-f", "lavfi", "-i", "sine=frequency=440:duration=1"};
        arguments.insert(arguments.end(), format.begin(), format.end());
        return tavtest::TestMedia::generate(name, arguments);
    };
    const struct {
        std::string name;
        fs::path file;
        std::optional<std::uint64_t> samples;  // none: refused
    } rows[] = {
        {"16 kHz mono", tone("tone16k.wav", {"-ac", "1", "-ar", "16000"}), 16000},
        {"44.1 kHz", tone("tone44k.wav", {"-ac", "1", "-ar", "44100"}), std::nullopt},
        {"stereo", tone("tone-stereo.wav", {"-ac", "2", "-ar", "16000"}), std::nullopt},
        {"float", tone("tone-float.wav", {"-ac", "1", "-ar", "16000", "-c:a", "pcm_f32le"}),
         std::nullopt},
        {"random bytes", tavtest::TestMedia::shared().randomBytes, std::nullopt},
        {"missing", tavtest::TestMedia::shared().folder / "missing.wav", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.samples) {
            EXPECT_THROW(WaveFileReader{row.file}, std::runtime_error);
            continue;
        }
        WaveFileReader reader(row.file);
        EXPECT_EQ(reader.sampleCount(), row.samples);
        std::vector<std::int16_t> buffer(5000);
        std::uint64_t total = 0;
        while (const std::size_t count = reader.read(buffer.data(), buffer.size())) {
            total += count;
        }
        EXPECT_EQ(total, *row.samples);
    }
}

TEST(PocketSphinxTranscription, UtterancesEndInTheQuietestTenthOfASecond) {
    const auto audio = [](std::size_t frames, std::size_t quietFrom, std::size_t quietFrames) {
        std::vector<std::int16_t> samples(frames * 160, 8000);
        for (std::size_t i = quietFrom * 160; i < (quietFrom + quietFrames) * 160; ++i) {
            samples[i] = static_cast<std::int16_t>(i % 2 ? 30 : -30);
        }
        return samples;
    };
    const struct {
        std::string name;
        std::vector<std::int16_t> samples;
        std::size_t cut;
    } rows[] = {
        {"pause in the middle", audio(1000, 300, 10), 305 * 160},
        {"longer pause: its first quietest window", audio(1000, 600, 40), 605 * 160},
        {"pause at the end", audio(1000, 990, 10), 995 * 160},
        {"all equally loud: the first window", audio(1000, 0, 0), 5 * 160},
        {"shorter than a window", audio(5, 0, 0), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(SpeechPauseFinder{}.quietestCut(row.samples), row.cut);
    }
}
