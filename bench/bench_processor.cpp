// Remuxes a generated Matroska file of at least 400 MB to MP4 through FFmpegProcessor, and runs
// the same ffmpeg command directly, alternating, and prints the median ratio processor/direct.
// Everything is made in a private folder under $TMPDIR and removed at the end.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegProcessor.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

constexpr int kRounds = 7;
constexpr std::uintmax_t kMinimumBytes = 400ull * 1024 * 1024;

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations{});
    Folder folder;

    const auto made = benchsupport::largeSource(tools.ffmpeg, folder.path, kMinimumBytes);
    if (!made) {
        return 1;
    }
    const fs::path& source = *made;

    MediaStream video;
    video.index = 0;
    video.kind = MediaStreamKind::video;
    MediaStream audio;
    audio.index = 1;
    audio.kind = MediaStreamKind::audio;
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    const fs::path output = folder.path / "output.mp4";
    const RemuxRequest request{source, output, {video, audio}, {}, {}};
    const auto directArguments = FFmpegCommandBuilder().remuxArguments(request, output);

    // One unmeasured run of each warms the page cache.
    processor.process(request, {}, {});
    fs::remove(output);
    spawn(tools.ffmpeg, directArguments);
    fs::remove(output);

    const bool finished = benchsupport::compareWithDirect(
        kRounds, [&] { processor.process(request, [](double) {}, {}); },
        [&] { return spawn(tools.ffmpeg, directArguments) == 0; }, [&] { fs::remove(output); });
    return finished ? 0 : 1;
}
