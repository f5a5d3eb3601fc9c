// Transcribes five minutes of speech generated with espeak-ng through the whole service (real
// ffmpeg extraction, PocketSphinx decoding) pinned to one core, and prints the real-time factor
// of the whole run and of the decoding alone, and the peak memory. Goal: real-time factor at
// most 0.2. Everything is made in a private folder under $TMPDIR and removed at the end.

#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "BenchSupport.h"
#include "process/FoundationProcessRunner.h"
#include "transcription/LocalMediaTranscriptionService.h"
#include "transcription/PocketSphinxRecognizer.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Clock;
using benchsupport::seconds;

namespace {

constexpr double kAudioSeconds = 300;

int run(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace

int main() {
    benchsupport::Folder folder;
    std::string text;
    for (int i = 0; i < 30; ++i) {
        text +=
            "We will go to the market tomorrow morning and buy some bread. "
            "<break time=\"500ms\"/> The weather today is sunny and warm, so the children "
            "play outside in the park. <break time=\"900ms\"/>";
    }
    const fs::path spoken = folder.path / "spoken.wav";
    const fs::path source = folder.path / "speech.m4a";
    if (run("espeak-ng -v en-us+klatt -m -w '" + spoken.string() + "' '<speak>" + text +
            "</speak>'") != 0 ||
        run("ffmpeg -nostdin -hide_banner -loglevel error -i '" + spoken.string() +
            "' -af apad -t 300 -c:a aac '" + source.string() + "'") != 0) {
        std::fprintf(stderr, "could not generate the speech\n");
        return 1;
    }

    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof one, &one);

    LocalMediaTranscriptionService service(std::make_shared<FoundationProcessRunner>(),
                                           std::make_shared<PocketSphinxRecognizer>(),
                                           ToolLocations{}, folder.path / "cache");
    std::optional<Clock::time_point> decodeStart;
    const auto start = Clock::now();
    const auto fragments = service.transcribe(
        source, 0, "en-US", kAudioSeconds, [&](const TranscriptionProgress& progress) {
            if (!decodeStart && progress.stage == TranscriptionProgress::Stage::transcribing) {
                decodeStart = Clock::now();
            }
        });
    const auto end = Clock::now();

    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("transcription of %.0f s of speech on one core: %zu words\n", kAudioSeconds,
                fragments.size());
    std::printf("  whole run     %6.2f s  real-time factor %.3f (goal <= 0.2)\n",
                seconds(end - start), seconds(end - start) / kAudioSeconds);
    std::printf("  decoding only %6.2f s  real-time factor %.3f\n", seconds(end - *decodeStart),
                seconds(end - *decodeStart) / kAudioSeconds);
    const double cpu = self.ru_utime.tv_sec + self.ru_utime.tv_usec / 1e6 + self.ru_stime.tv_sec +
                       self.ru_stime.tv_usec / 1e6;
    std::printf("  CPU time      %6.2f s  real-time factor %.3f (this process)\n", cpu,
                cpu / kAudioSeconds);
    std::printf("  peak memory   %6.1f MiB (largest child process %.1f MiB)\n",
                self.ru_maxrss / 1024.0, children.ru_maxrss / 1024.0);
    return 0;
}
