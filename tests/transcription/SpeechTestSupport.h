#pragma once

#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/TestMedia.h"

namespace tavtest {

// Speech spoken by espeak-ng's klatt voice from SSML (pauses as <break time="2s"/>), then
// written by the real ffmpeg with `ffmpegArguments` (output options) into `name` in the shared
// media folder. Made once per test process.
inline std::filesystem::path makeSpeech(const std::string& name, const std::string& ssml,
                                        const std::vector<std::string>& ffmpegArguments) {
    const auto spoken = TestMedia::shared().folder / (name + ".espeak.wav");
    if (!std::filesystem::exists(spoken) &&
        runTool({"espeak-ng", "-v", "en-us+klatt", "-m", "-w", spoken.string(),
                 "<speak>" + ssml + "</speak>"}) != 0) {
        throw std::runtime_error("espeak-ng could not speak " + name);
    }
    std::vector<std::string> arguments{"-i", spoken.string()};
    arguments.insert(arguments.end(), ffmpegArguments.begin(), ffmpegArguments.end());
    return TestMedia::generate(name, arguments);
}

// The pauses ffmpeg's silencedetect finds (at least 0.5 s below -40 dB), as (start, end).
inline std::vector<std::pair<double, double>> measuredPauses(const std::filesystem::path& file) {
    std::string output;
    runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i", file.string(), "-af",
             "silencedetect=noise=-40dB:d=0.5,ametadata=mode=print:file=-", "-f", "null", "-"},
            &output);
    std::vector<std::pair<double, double>> pauses;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const auto value = [&](const std::string& key) {
            double number = 0;
            std::from_chars(line.data() + key.size(), line.data() + line.size(), number);
            return number;
        };
        if (line.starts_with("lavfi.silence_start=")) {
            pauses.emplace_back(value("lavfi.silence_start="), -1);
        } else if (line.starts_with("lavfi.silence_end=") && !pauses.empty()) {
            pauses.back().second = value("lavfi.silence_end=");
        }
    }
    return pauses;
}

// The number of live child processes of this test process.
inline int childProcessCount() {
    int count = 0;
    const std::string parent = std::to_string(::getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...; comm may hold spaces, so read after the last ')'.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string state;
        std::string ppid;
        fields >> state >> ppid;
        count += ppid == parent && state != "Z" ? 1 : 0;
    }
    return count;
}

}  // namespace tavtest
