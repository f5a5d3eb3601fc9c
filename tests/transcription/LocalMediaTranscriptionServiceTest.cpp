// The service around a recording recogniser: extraction with the real ffmpeg (or stand-ins for
// its failures), phases, errors, cancellation and the clean-up of working folders.
#include "transcription/LocalMediaTranscriptionService.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <unicode/locid.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "SpeechTestSupport.h"
#include "model/CancellationError.h"
#include "process/FoundationProcessRunner.h"
#include "support/StandInTools.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "transcription/WaveFileReader.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Reads the extracted file as the real recogniser would, then answers with `results`; with
// `waitForStop` it instead decodes until stopped.
class RecordingRecognizer : public SpeechRecognizerBackend {
  public:
    std::vector<std::string> identifiers{"de-DE", "en-US"};
    std::vector<SpeechRecognitionResult> results{
        {{{"hello", 0.5, 0.9, 0.8}, {"there", 1.0, 1.4, 0.7}}, 0, 2},
        {{}, 2, 3},
        {{{"again", 3.1, 3.6, 0.9}}, 3, 4}};
    bool waitForStop = false;
    std::atomic<bool> decoding{false};
    std::atomic<std::uint64_t> samplesRead{0};

    std::vector<std::string> localeIdentifiers() const override { return identifiers; }
    std::optional<std::string> equivalentLocale(std::string_view identifier) const override {
        return identifier == "en-US" ? std::optional<std::string>("en-US") : std::nullopt;
    }
    std::unique_ptr<SpeechRecognition> prepare(const std::string&) override {
        return std::make_unique<Recognition>(*this);
    }

  private:
    struct Recognition : SpeechRecognition {
        explicit Recognition(RecordingRecognizer& owner) : owner(owner) {}
        void decode(const fs::path& wav,
                    const std::function<void(const SpeechRecognitionResult&)>& onResult,
                    const std::function<void(std::optional<double>)>& onProgress) override {
            WaveFileReader reader(wav);
            std::vector<std::int16_t> buffer(4096);
            while (const std::size_t count = reader.read(buffer.data(), buffer.size())) {
                owner.samplesRead += count;
            }
            owner.decoding = true;
            while (owner.waitForStop && !stopped) {
                std::this_thread::sleep_for(5ms);
            }
            for (std::size_t i = 0; i < owner.results.size() && !stopped; ++i) {
                onResult(owner.results[i]);
                onProgress((i + 1.0) / owner.results.size());
            }
        }
        void stop() override { stopped = true; }
        RecordingRecognizer& owner;
        std::atomic<bool> stopped{false};
    };
};

// Polls until `condition` holds; false after a minute, so that a fault fails instead of hanging.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 6000 && !condition(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

// The real runner, except that its cancel() ends the child and then waits for the whole
// transcription to be over before it returns: whatever the service marks after stopping its
// child comes too late for the run, as it may on a busy machine.
class ChildEndsBeforeCancelReturns : public ProcessRunning {
  public:
    std::shared_future<void> transcriptionOver;

    ProcessResult run(const fs::path& executable, const std::vector<std::string>& arguments,
                      ProcessOutputHandler handler, std::stop_token stop) override {
        return real_.run(executable, arguments, std::move(handler), std::move(stop));
    }
    void cancel() override {
        real_.cancel();
        transcriptionOver.wait();
    }

  private:
    FoundationProcessRunner real_;
};

struct Fixture {
    tavtest::TempDir root;
    std::shared_ptr<RecordingRecognizer> recognizer = std::make_shared<RecordingRecognizer>();
    std::unique_ptr<LocalMediaTranscriptionService> service = make();

    std::unique_ptr<LocalMediaTranscriptionService> make(
        ToolLocations tools = {},
        std::shared_ptr<ProcessRunning> runner = std::make_shared<FoundationProcessRunner>()) {
        return std::make_unique<LocalMediaTranscriptionService>(std::move(runner), recognizer,
                                                                std::move(tools), root / "cache");
    }
    std::vector<std::string> workingFolders() const {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(root / "cache", ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

TEST(LocalMediaTranscriptionService, ExtractsTheChosenStreamAndReportsEveryPhaseInOrder) {
    using Stage = TranscriptionProgress::Stage;
    const struct {
        std::string name;
        std::optional<double> duration;
    } rows[] = {{"known duration", 3.0}, {"unknown duration", std::nullopt}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture fixture;
        std::vector<TranscriptionProgress> phases;
        // Stream 2 is the 5.1 AC-3 track of the test file.
        const auto fragments = fixture.service->transcribe(
            tavtest::TestMedia::shared().matroska, 2, "en-US", row.duration,
            [&](const TranscriptionProgress& p) { phases.push_back(p); });

        EXPECT_EQ(fragments, (std::vector<TranscriptFragment>{{"hello", 0.5, 0.9, 0.8},
                                                              {"there", 1.0, 1.4, 0.7},
                                                              {"again", 3.1, 3.6, 0.9}}));
        EXPECT_NEAR(fixture.recognizer->samplesRead / 16000.0, 3.0, 0.1);
        EXPECT_TRUE(fixture.workingFolders().empty());

        ASSERT_GE(phases.size(), 7u);
        EXPECT_EQ(phases[0], TranscriptionProgress::preparingLanguageModel());
        EXPECT_EQ(phases[1], TranscriptionProgress::preparingAudio(row.duration ? std::optional(0.0)
                                                                                : std::nullopt));
        const std::vector<TranscriptionProgress> tail(phases.end() - 5, phases.end());
        EXPECT_EQ(tail, (std::vector<TranscriptionProgress>{
                            TranscriptionProgress::preparingAudio(1.0),
                            TranscriptionProgress::transcribing(0.0),
                            TranscriptionProgress::transcribing(1.0 / 3.0),
                            TranscriptionProgress::transcribing(2.0 / 3.0),
                            TranscriptionProgress::transcribing(1.0)}));
        for (auto it = phases.begin() + 2; it != phases.end() - 5; ++it) {
            ASSERT_EQ(it->stage, Stage::preparingAudio);
            ASSERT_TRUE(row.duration && it->fraction);
            EXPECT_GE(*it->fraction, 0.0);
            EXPECT_LE(*it->fraction, 1.0);
        }
    }
}

TEST(LocalMediaTranscriptionService, FailuresAreReportedAndLeaveNoFolder) {
    std::string twelveLines;
    for (int i = 1; i <= 12; ++i) {
        twelveLines += "echo 'line " + std::to_string(i) + "' >&2\n";
    }
    const struct {
        std::string name;
        std::string ffmpegBody;  // empty: the real ffmpeg
        std::string locale;
        bool silence;
        std::string message;
    } rows[] = {
        {"ffmpeg fails with twelve lines", twelveLines + "exit 1", "en-US", false,
         "line 5\nline 6\nline 7\nline 8\nline 9\nline 10\nline 11\nline 12"},
        {"ffmpeg fails silently", "exit 1", "en-US", false,
         "FFmpeg could not decode the selected audio stream for transcription."},
        {"unsupported language", "", "fr-FR", false,
         "The selected language is not supported by the on-device transcriber."},
        {"no speech", "", "en-US", true,
         "No recognizable speech was found in the selected audio track."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture fixture;
        if (!row.ffmpegBody.empty()) {
            fixture.service =
                fixture.make(tavtest::standInTools(fixture.root / "tools", row.ffmpegBody));
        }
        if (row.silence) {
            fixture.recognizer->results = {{{}, 0, 3}};
        }
        try {
            fixture.service->transcribe(tavtest::TestMedia::shared().matroska, 1, row.locale, 3.0,
                                        {});
            ADD_FAILURE() << "no error";
        } catch (const TranscriptionError& error) {
            EXPECT_EQ(error.what(), row.message);
        }
        EXPECT_TRUE(fixture.workingFolders().empty());
    }
}

TEST(LocalMediaTranscriptionService, CancellingEndsTheRunAsACancellationWithoutLeftovers) {
    enum class Way { cancelDuringExtraction, cancelDuringDecoding, stopTokenDuringDecoding };
    for (const Way way :
         {Way::cancelDuringExtraction, Way::cancelDuringDecoding, Way::stopTokenDuringDecoding}) {
        SCOPED_TRACE(static_cast<int>(way));
        Fixture fixture;
        // Says it started, and that it was terminated (then ends by the signal, as ffmpeg does),
        // which its thirty seconds never say.
        const fs::path started = fixture.root / "started";
        const fs::path terminated = fixture.root / "terminated";
        std::promise<void> over;
        if (way == Way::cancelDuringExtraction) {
            auto runner = std::make_shared<ChildEndsBeforeCancelReturns>();
            runner->transcriptionOver = over.get_future().share();
            fixture.service = fixture.make(
                tavtest::standInTools(fixture.root / "tools",
                                      "trap 'touch \"" + terminated.string() +
                                          "\"; trap - TERM; kill -TERM $$' TERM\ntouch \"" +
                                          started.string() +
                                          "\"\nfor i in $(seq 600); do sleep 0.05; done\n"),
                runner);
        }
        fixture.recognizer->waitForStop = true;
        std::stop_source stop;
        auto run = std::async(std::launch::async, [&] {
            struct Over {
                std::promise<void>& promise;
                ~Over() { promise.set_value(); }
            } setOnReturn{over};
            return fixture.service->transcribe(tavtest::TestMedia::shared().matroska, 1, "en-US",
                                               3.0, {}, stop.get_token());
        });
        if (way == Way::cancelDuringExtraction) {
            ASSERT_TRUE(eventually([&] { return fs::exists(started); }));
        } else {
            ASSERT_TRUE(eventually([&] { return fixture.recognizer->decoding.load(); }));
        }
        if (way == Way::stopTokenDuringDecoding) {
            stop.request_stop();
        } else {
            fixture.service->cancel();
        }
        EXPECT_THROW(run.get(), CancellationError);
        // The stand-in was ended, not waited for.
        EXPECT_EQ(fs::exists(terminated), way == Way::cancelDuringExtraction);
        EXPECT_TRUE(fixture.workingFolders().empty());
        EXPECT_EQ(tavtest::childProcessCount(), 0);
    }
}

TEST(LocalMediaTranscriptionService, FirstCapabilityCheckRemovesOnlyAbandonedFolders) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);  // the names' language
    Fixture fixture;
    const fs::path cache = fixture.root / "cache";
    fs::create_directories(cache / "TavrolinTranscription-old" / "inner");
    std::ofstream(cache / "TavrolinTranscription-old" / "audio.wav") << "x";
    fs::create_directories(cache / ".TavrolinTranscription-hidden");
    fs::create_directories(cache / "TavrolinTranscriptionNoHyphen");
    std::ofstream(cache / "TavrolinTranscription-file") << "x";
    fs::create_directories(fixture.root / "elsewhere");
    std::ofstream(fixture.root / "elsewhere" / "keep.txt") << "x";
    fs::create_directory_symlink(fixture.root / "elsewhere", cache / "TavrolinTranscription-link");
    fs::create_directories(cache / "TavrolinTranscription-running");
    const int running = ::open((cache / "TavrolinTranscription-running").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);  // another instance's run

    const auto capability = fixture.service->checkCapability();
    ::close(running);
    EXPECT_TRUE(capability.isAvailable());
    ASSERT_EQ(capability.locales.size(), 2u);
    EXPECT_EQ(capability.locales[0], (TranscriptionLocale{"en-US", "English (United States)"}));
    EXPECT_EQ(capability.locales[1], (TranscriptionLocale{"de-DE", "German (Germany)"}));
    EXPECT_EQ(
        fixture.workingFolders(),
        (std::vector<std::string>{".TavrolinTranscription-hidden", "TavrolinTranscription-file",
                                  "TavrolinTranscription-link", "TavrolinTranscription-running",
                                  "TavrolinTranscriptionNoHyphen"}));
    EXPECT_TRUE(fs::exists(fixture.root / "elsewhere" / "keep.txt"));

    // Once per instance: a new leftover survives the next check, and a new instance removes it.
    fs::create_directories(cache / "TavrolinTranscription-later");
    fixture.service->checkCapability();
    EXPECT_TRUE(fs::exists(cache / "TavrolinTranscription-later"));
    fixture.make()->checkCapability();
    EXPECT_FALSE(fs::exists(cache / "TavrolinTranscription-later"));
    EXPECT_FALSE(fs::exists(cache / "TavrolinTranscription-running"));

    fixture.recognizer->identifiers.clear();
    EXPECT_EQ(fixture.make()->checkCapability().unavailableMessage,
              "The on-device transcriber has no supported languages on this computer.");
}
