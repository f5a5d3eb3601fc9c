#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "process/FFmpegToolchain.h"

extern char** environ;

namespace benchsupport {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Where the tools are looked for: a folder named by $TAVROLIN_BENCH_TOOLS first (wrappers that
// time each child, say), then the usual ones.
inline tavrolin::ToolLocations toolLocations() {
    tavrolin::ToolLocations locations;
    if (const char* folder = std::getenv("TAVROLIN_BENCH_TOOLS"); folder && *folder) {
        locations.bundledFFmpegCandidates.push_back(std::filesystem::path(folder) / "ffmpeg");
    }
    return locations;
}

// How many rounds to run: $TAVROLIN_BENCH_ROUNDS when set (one, for a traced run), else `usual`.
inline int rounds(int usual) {
    const char* text = std::getenv("TAVROLIN_BENCH_ROUNDS");
    const int asked = text ? std::atoi(text) : 0;
    return asked > 0 ? asked : usual;
}

// A private folder under $TMPDIR for the benchmark's files, removed at the end.
struct Folder {
    Folder() {
        const char* root = std::getenv("TMPDIR");
        std::string pattern = std::string(root && *root ? root : "/tmp") + "/tavrolin-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::filesystem::path path;
};

// Runs a program with standard input and output on /dev/null; returns its exit status.
inline int spawn(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ffmpeg's arguments for a bare stream copy of every stream of `input` into `output`.
inline std::vector<std::string> copyArguments(const std::filesystem::path& input,
                                              const std::filesystem::path& output) {
    return {"-nostdin", "-hide_banner", "-v",   "error",        "-i", input.string(), "-map",
            "0",        "-c",           "copy", output.string()};
}

// Makes a Matroska file of at least `minimumBytes` in `output`: one 20 s high-bitrate 1080p
// segment (MPEG-4 video, AAC audio) written into `folder`, then copies of it concatenated by
// stream copy. False when ffmpeg fails.
inline bool generateLargeMedia(const std::filesystem::path& ffmpeg,
                               const std::filesystem::path& folder, std::uintmax_t minimumBytes,
                               const std::filesystem::path& output) {
    const std::filesystem::path segment = folder / "segment.mkv";
    if (spawn(ffmpeg,
              {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=20",
               "-f", "lavfi", "-i", "sine=frequency=440:duration=20", "-c:v", "mpeg4", "-q:v", "1",
               "-c:a", "aac", segment.string()}) != 0) {
        return false;
    }
    const std::uintmax_t copies = minimumBytes / std::filesystem::file_size(segment) + 1;
    const std::filesystem::path list = folder / "segments.txt";
    {
        std::ofstream file(list);
        for (std::uintmax_t i = 0; i < copies; ++i) {
            file << "file '" << segment.string() << "'\n";
        }
    }
    const bool made = spawn(ffmpeg, {"-v", "error", "-f", "concat", "-safe", "0", "-i",
                                     list.string(), "-c", "copy", output.string()}) == 0;
    std::error_code ignored;
    std::filesystem::remove(segment, ignored);
    std::filesystem::remove(list, ignored);
    return made;
}

// `folder`/source.mkv made by generateLargeMedia, its size printed; none (and a message) when
// ffmpeg fails.
inline std::optional<std::filesystem::path> largeSource(const std::filesystem::path& ffmpeg,
                                                        const std::filesystem::path& folder,
                                                        std::uintmax_t minimumBytes) {
    const std::filesystem::path source = folder / "source.mkv";
    if (!generateLargeMedia(ffmpeg, folder, minimumBytes, source)) {
        std::fprintf(stderr, "could not generate the source\n");
        return std::nullopt;
    }
    std::printf("source: %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(source)) / 1048576.0);
    return source;
}

// `film`: one clip of `clipSeconds` of `size` H.264 (keyframes every 10 s) and AAC at 48 kHz,
// encoded beside it with `preset` and copied end to end `copies` times by stream copy; the clip
// and its list are removed. False when ffmpeg fails.
inline bool repeatedClipFilm(const std::filesystem::path& ffmpeg, const std::filesystem::path& film,
                             const std::string& size, const std::string& preset, int clipSeconds,
                             int copies) {
    const std::filesystem::path clip = film.parent_path() / ("clip-" + film.filename().string());
    const std::filesystem::path list = film.parent_path() / "clips.txt";
    {
        std::ofstream file(list);
        for (int i = 0; i < copies; ++i) {
            file << "file '" << clip.string() << "'\n";
        }
    }
    const std::string seconds = std::to_string(clipSeconds);
    const bool made =
        spawn(ffmpeg, {"-v",         "error",
                       "-f",         "lavfi",
                       "-i",         "testsrc2=size=" + size + ":rate=25:duration=" + seconds,
                       "-f",         "lavfi",
                       "-i",         "sine=frequency=440:sample_rate=48000:duration=" + seconds,
                       "-c:v",       "libx264",
                       "-preset",    preset,
                       "-b:v",       "150k",
                       "-g",         "250",
                       "-c:a",       "aac",
                       "-b:a",       "64k",
                       clip.string()}) == 0 &&
        spawn(ffmpeg, {"-v", "error", "-f", "concat", "-safe", "0", "-i", list.string(), "-c",
                       "copy", film.string()}) == 0;
    std::error_code ignored;
    std::filesystem::remove(clip, ignored);
    std::filesystem::remove(list, ignored);
    return made;
}

// A two-hour film as a long low-bitrate download comes: 640x360 H.264 at 25 frames a second
// and AAC at 48 kHz, about 200 MB, with keyframes every 10 s: a two-minute clip copied end to
// end 60 times into `folder`/film.mkv (about 15 s). None (and a message) when ffmpeg fails.
inline std::optional<std::filesystem::path> twoHourFilm(const std::filesystem::path& ffmpeg,
                                                        const std::filesystem::path& folder) {
    const std::filesystem::path film = folder / "film.mkv";
    const bool made = repeatedClipFilm(ffmpeg, film, "640x360", "veryfast", 120, 60);
    if (!made) {
        std::fprintf(stderr, "could not generate the two-hour film\n");
        return std::nullopt;
    }
    std::printf("source: two hours of 640x360 H.264 and AAC, %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(film)) / 1048576.0);
    return film;
}

// twoHourFilm and the same film copied into `folder`/film.mp4, in that order; none (and a
// message) when ffmpeg fails.
inline std::vector<std::filesystem::path> twoHourFilms(const std::filesystem::path& ffmpeg,
                                                       const std::filesystem::path& folder) {
    const auto film = twoHourFilm(ffmpeg, folder);
    if (!film) {
        return {};
    }
    const std::filesystem::path mp4 = folder / "film.mp4";
    if (spawn(ffmpeg, copyArguments(*film, mp4)) != 0) {
        std::fprintf(stderr, "could not remux the film to MP4\n");
        return {};
    }
    return {*film, mp4};
}

// The one-minute load average, printed beside the figures.
inline void printLoad() {
    std::ifstream loadavg("/proc/loadavg");
    double load = 0;
    loadavg >> load;
    std::printf("load average: %.1f\n", load);
}

// User and system time of this process and its waited-for children so far, in seconds: what
// the tools and the processor's own reading (a census, a part's index) cost whatever else the
// machine is doing.
inline double cpuSeconds() {
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& time : {usage.ru_utime, usage.ru_stime}) {
            total += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        }
    }
    return total;
}

// Times `viaProcessor` against `direct` for `rounds` rounds, alternating which one goes first
// and calling `between` after every run, and prints each round and the medians with the
// ratio processor/direct against `goal`, wall time and CPU time (cpuSeconds), and the load
// average before and after. False when a direct run fails.
inline bool compareWithDirect(int rounds, const std::function<void()>& viaProcessor,
                              const std::function<bool()>& direct,
                              const std::function<void()>& between, double goal = 1.03) {
    std::vector<double> ratios;
    std::vector<double> processorTimes;
    std::vector<double> directTimes;
    std::vector<double> processorCpu;
    std::vector<double> directCpu;
    printLoad();
    for (int round = 0; round < rounds; ++round) {
        double processorTime = 0;
        double directTime = 0;
        for (int order = 0; order < 2; ++order) {
            const bool processorTurn = (order == 0) == (round % 2 == 0);
            const double cpu = cpuSeconds();
            const auto start = Clock::now();
            if (processorTurn) {
                viaProcessor();
                processorTime = seconds(Clock::now() - start);
                processorCpu.push_back(cpuSeconds() - cpu);
            } else {
                if (!direct()) {
                    std::fprintf(stderr, "direct ffmpeg failed\n");
                    return false;
                }
                directTime = seconds(Clock::now() - start);
                directCpu.push_back(cpuSeconds() - cpu);
            }
            between();
        }
        processorTimes.push_back(processorTime);
        directTimes.push_back(directTime);
        ratios.push_back(processorTime / directTime);
        std::printf("round %d: processor %.3f s, direct %.3f s, ratio %.3f\n", round + 1,
                    processorTime, directTime, processorTime / directTime);
    }
    std::printf("median: processor %.3f s, direct %.3f s, ratio %.3f (goal <= %.2f)\n",
                median(processorTimes), median(directTimes), median(ratios), goal);
    std::printf(
        "median CPU time with the children: processor %.3f s, direct %.3f s, ratio %.3f "
        "(goal <= %.2f)\n",
        median(processorCpu), median(directCpu),
        median(processorCpu) / std::max(median(directCpu), 1e-9), goal);
    printLoad();
    return true;
}

}  // namespace benchsupport
