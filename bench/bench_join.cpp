// Joins three generated Matroska files of at least 150 MB each through FFmpegProcessor, and runs
// the same ffmpeg concat command directly, alternating, and prints the median ratio
// processor/direct, once against ffmpeg alone and once against ffmpeg with the processor's
// duration probes beside it. Everything is made in a private folder under $TMPDIR and removed at
// the end.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
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

constexpr int kRounds = 5;
constexpr std::uintmax_t kMinimumBytes = 150ull * 1024 * 1024;

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(ToolLocations{});
    Folder folder;

    std::vector<fs::path> inputs;
    for (const char* name : {"a.mkv", "b.mkv", "c.mkv"}) {
        inputs.push_back(folder.path / name);
        const bool made = inputs.size() == 1
                              ? benchsupport::generateLargeMedia(tools.ffmpeg, folder.path,
                                                                 kMinimumBytes, inputs.back())
                              : fs::copy_file(inputs.front(), inputs.back());
        if (!made) {
            std::fprintf(stderr, "could not generate %s\n", name);
            return 1;
        }
    }
    std::printf("inputs: 3 x %.1f MB\n",
                static_cast<double>(fs::file_size(inputs.front())) / 1048576.0);

    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    const fs::path output = folder.path / "joined.mkv";
    const JoinRequest request{inputs, output};
    // The direct run gets the list the processor writes for itself.
    const fs::path list = folder.path / "list.txt";
    {
        std::ofstream file(list);
        for (const auto& input : inputs) {
            file << "file '" << input.string() << "'\n";
        }
    }
    const auto directArguments = FFmpegCommandBuilder().joinArguments(list, output);

    // One unmeasured run of each warms the page cache.
    processor.process(request, {}, {});
    fs::remove(output);
    spawn(tools.ffmpeg, directArguments);
    fs::remove(output);

    const auto viaProcessor = [&] { processor.process(request, [](double) {}, {}); };
    const auto between = [&] { fs::remove(output); };
    std::printf("against ffmpeg alone:\n");
    if (!benchsupport::compareWithDirect(
            kRounds, viaProcessor, [&] { return spawn(tools.ffmpeg, directArguments) == 0; },
            between)) {
        return 1;
    }
    // The processor measures the inputs' durations (for progress) while ffmpeg runs; this run
    // does the same with plain ffprobe, which isolates the processor's own cost.
    std::printf("against ffmpeg with the three duration probes beside it:\n");
    const bool finished = benchsupport::compareWithDirect(
        kRounds, viaProcessor,
        [&] {
            std::thread probes([&] {
                for (const auto& input : inputs) {
                    spawn(tools.ffprobe, {"-v", "error", "-show_entries", "format=duration", "-of",
                                          "default=noprint_wrappers=1:nokey=1", input.string()});
                }
            });
            const bool succeeded = spawn(tools.ffmpeg, directArguments) == 0;
            probes.join();
            return succeeded;
        },
        between);
    return finished ? 0 : 1;
}
