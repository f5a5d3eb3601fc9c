// Adds a transcript to a generated two-hour film in place through FFmpegProcessor (the film is
// replaced by its copy with the transcript once the copy is proven to hold every packet),
// alternating with a bare `ffmpeg -map 0 -c copy` of the same film, and prints the median ratios
// of wall time and of CPU time (the children's and the bench's own, which reads the censuses);
// then against the export's own ffmpeg command run bare as the processor runs it (on ffmpeg 5.1
// with both inputs read on the main thread), which shows what the proof costs. Once for
// Matroska and once for MP4. Each round starts from a fresh copy of the film, made outside the
// timings. Everything is made in a private folder under $TMPDIR and removed at the end.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegInputThreads.h"
#include "engine/FFmpegProcessor.h"
#include "engine/SubtitleDocumentRenderer.h"
#include "process/FFmpegToolchain.h"
#include "process/FFmpegVersion.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

constexpr int kRounds = 7;

// One cue every minute, as a transcript of a film has them.
std::vector<SubtitleCue> transcriptCues() {
    std::vector<SubtitleCue> cues;
    for (int minute = 0; minute < 120; ++minute) {
        cues.push_back({minute + 1, minute * 60.0 + 1, minute * 60.0 + 4,
                        "Line " + std::to_string(minute + 1), std::nullopt});
    }
    return cues;
}

bool compare(const FFmpegToolchain& tools, const fs::path& film, const fs::path& folder) {
    const fs::path source = folder / ("movie" + film.extension().string());
    const fs::path copy = folder / ("copy" + film.extension().string());
    const auto restore = [&] {
        fs::remove(source);
        fs::remove(copy);
        fs::copy_file(film, source);
    };
    restore();
    MediaStream video;
    video.index = 0;
    video.kind = MediaStreamKind::video;
    MediaStream audio;
    audio.index = 1;
    audio.kind = MediaStreamKind::audio;
    TranscriptionMediaRequest request;
    request.input = source;
    request.output = source;
    request.selectedStreams = {video, audio};
    request.mapsEverySourceStream = true;
    request.cues = transcriptCues();
    request.replacesInput = true;
    const auto bare = benchsupport::copyArguments(film, copy);
    const fs::path transcript = folder / "transcript.srt";
    std::ofstream(transcript) << SubtitleDocumentRenderer().render(request.cues,
                                                                   SubtitleFileFormat::srt);
    auto exported = request;
    exported.input = film;
    exported.output = copy;
    exported.replacesInput = false;
    // As the processor runs it: with the film read on ffmpeg 5.1's main thread.
    const auto facts =
        InstalledFFmpeg(std::make_shared<FoundationProcessRunner>(), benchsupport::toolLocations())
            .facts();
    auto bareExport = readingInputsOnMainThread(
        FFmpegCommandBuilder().transcriptionMediaArguments(exported, transcript, {}, copy),
        facts ? facts->release() : std::nullopt);
    bareExport.insert(bareExport.begin(), {"-v", "error"});

    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(),
                              benchsupport::toolLocations());
    // One unmeasured run of each warms the page cache.
    processor.process(request, {}, {});
    spawn(tools.ffmpeg, bare);
    restore();
    std::printf("%s: transcript added in place against a bare copy of the film:\n",
                film.extension().string().c_str());
    if (!benchsupport::compareWithDirect(
            kRounds, [&] { processor.process(request, [](double) {}, {}); },
            [&] { return spawn(tools.ffmpeg, bare) == 0; }, restore, 1.5)) {
        return false;
    }
    std::printf("the same against the export's own ffmpeg command run bare:\n");
    return benchsupport::compareWithDirect(
        kRounds, [&] { processor.process(request, [](double) {}, {}); },
        [&] { return spawn(tools.ffmpeg, bareExport) == 0; }, restore, 1.5);
}

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(benchsupport::toolLocations());
    Folder folder;
    const auto films = benchsupport::twoHourFilms(tools.ffmpeg, folder.path);
    bool compared = !films.empty();
    for (const fs::path& film : films) {
        compared = compared && compare(tools, film, folder.path);
    }
    return compared ? 0 : 1;
}
