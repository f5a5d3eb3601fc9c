// Joins three 40-minute files through FFmpegProcessor and runs the bare concat command
// (`ffmpeg -f concat -safe 0 -i list -map 0 -c copy out`) directly, alternating, and prints the
// median ratio processor/bare, once for MP4 inputs and once for Matroska. The inputs are
// 320x180 H.264 at 25 frames a second and AAC at 48 kHz with keyframes every 10 s: a one-minute
// clip encoded once and copied end to end 40 times by stream copy (a few seconds to make).
// Everything is made in a private folder under $TMPDIR and removed at the end.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "engine/FFmpegProcessor.h"
#include "process/FFmpegToolchain.h"
#include "process/FoundationProcessRunner.h"

namespace fs = std::filesystem;
using namespace tavrolin;
using benchsupport::Folder;
using benchsupport::spawn;

namespace {

constexpr int kRounds = 5;
constexpr int kMinutes = 40;

void writeList(const fs::path& list, const std::vector<fs::path>& files) {
    std::ofstream file(list);
    for (const auto& input : files) {
        file << "file '" << input.string() << "'\n";
    }
}

bool measure(const FFmpegToolchain& tools, const fs::path& folder, const std::string& extension) {
    std::vector<fs::path> inputs;
    for (const char* name : {"a", "b", "c"}) {
        inputs.push_back(folder / (name + extension));
        const bool made = inputs.size() == 1
                              ? benchsupport::repeatedClipFilm(tools.ffmpeg, inputs.back(),
                                                               "320x180", "ultrafast", 60, kMinutes)
                              : fs::copy_file(inputs.front(), inputs.back());
        if (!made) {
            std::fprintf(stderr, "could not generate %s\n", inputs.back().c_str());
            return false;
        }
    }
    std::printf("%s inputs: 3 x %d minutes, %.1f MB each\n", extension.c_str(), kMinutes,
                static_cast<double>(fs::file_size(inputs.front())) / 1048576.0);

    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(),
                              benchsupport::toolLocations());
    const fs::path output = folder / ("joined" + extension);
    const JoinRequest request{inputs, output};
    const fs::path list = folder / "list.txt";
    writeList(list, inputs);
    const std::vector<std::string> bare = {"-nostdin", "-v", "error", "-f",           "concat",
                                           "-safe",    "0",  "-i",    list,           "-map",
                                           "0",        "-c", "copy",  output.string()};

    // One unmeasured run of each warms the page cache.
    processor.process(request, {}, {});
    fs::remove(output);
    spawn(tools.ffmpeg, bare);
    fs::remove(output);

    const bool finished = benchsupport::compareWithDirect(
        kRounds, [&] { processor.process(request, [](double) {}, {}); },
        [&] { return spawn(tools.ffmpeg, bare) == 0; }, [&] { fs::remove(output); }, 1.1);
    for (const auto& input : inputs) {
        fs::remove(input);
    }
    return finished;
}

}  // namespace

int main() {
    const FFmpegToolchain tools = FFmpegToolchain::resolve(benchsupport::toolLocations());
    Folder folder;
    return measure(tools, folder.path, ".mp4") && measure(tools, folder.path, ".mkv") ? 0 : 1;
}
