#pragma once

#include <compare>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// The release line of an FFmpeg build ("5.1" of "5.1.9-0+deb12u1").
struct FFmpegRelease {
    int major = 0;
    int minor = 0;

    // "5.1"
    std::string text() const;

    friend auto operator<=>(const FFmpegRelease&, const FFmpegRelease&) = default;
};

// What `ffmpeg -version` says about the build: its version and the licence it was configured
// under (GPL with --enable-gpl, else LGPL; version 3 with --enable-version3).
struct FFmpegBuildFacts {
    std::string version;
    bool isGPL = false;
    bool isVersion3 = false;

    // "GPL 2", "GPL version 3", "LGPL 2.1" or "LGPL version 3".
    std::string licenceName() const;
    // None for builds without a release number (snapshots such as "N-112233-g…").
    std::optional<FFmpegRelease> release() const;

    friend bool operator==(const FFmpegBuildFacts&, const FFmpegBuildFacts&) = default;
};

// None when the output is not that of an ffmpeg program.
std::optional<FFmpegBuildFacts> parseFFmpegVersionOutput(std::string_view output);

// Runs `ffmpeg -version`; none when it cannot start, fails, is stopped or is no ffmpeg.
std::optional<FFmpegBuildFacts> askFFmpegVersion(ProcessRunning& runner,
                                                 const std::filesystem::path& ffmpeg,
                                                 std::stop_token stop);

// Why `file` cannot be the ffmpeg Tavrolin runs: it is not there or cannot be looked at, is not
// a regular file with execute permission, or does not answer `-version` as ffmpeg does; none
// when it can. The sentence names the file and says that the ffmpeg in use stays. Blocks for
// the file's checks and one short run, so never on the GUI thread; a stop ends the run and
// gives none.
std::optional<std::string> ffmpegChoiceProblem(ProcessRunning& runner,
                                               const std::filesystem::path& file,
                                               std::stop_token stop);

// The build of the ffmpeg that jobs would run now. `ffmpeg -version` runs once per executable:
// answers are kept by path and modification time, so replacing the program is noticed.
// Thread-safe; `facts` blocks for one short run on a miss and must not be called on the GUI
// thread. A stop ends the run; nothing is cached then.
class InstalledFFmpeg {
  public:
    InstalledFFmpeg(std::shared_ptr<ProcessRunning> runner, ToolLocations locations);

    // None when no ffmpeg is found or it does not answer like one.
    std::optional<FFmpegBuildFacts> facts(std::stop_token stop = {});

  private:
    using Key = std::pair<std::filesystem::path, std::filesystem::file_time_type>;

    std::shared_ptr<ProcessRunning> runner_;
    const ToolLocations locations_;
    // Held across a miss, so that one executable is asked once.
    std::mutex mutex_;
    std::map<Key, std::optional<FFmpegBuildFacts>> answers_;
};

}  // namespace tavrolin
