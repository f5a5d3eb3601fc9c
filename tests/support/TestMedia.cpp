#include "support/TestMedia.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace tavtest {
namespace fs = std::filesystem;

namespace {

// Runs `command` (looked up on PATH, no shell) and collects both outputs.
int runCapturing(const std::vector<std::string>& command, std::string* output,
                 std::string* errorOutput) {
    if (command.empty()) {
        throw std::invalid_argument("runTool: empty command");
    }
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        int saved = errno;
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        throw std::system_error(saved, std::generic_category(), "pipe");
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

    std::vector<char*> argv;
    for (const auto& argument : command) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    int spawnError = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawnError != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        throw std::system_error(spawnError, std::generic_category(), "spawn " + command[0]);
    }

    // Both pipes are drained together so a chatty child never blocks on a full pipe.
    std::string out;
    std::string err;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                (i == 0 ? out : err).append(buffer, static_cast<size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) {
        *output = std::move(out);
    }
    if (errorOutput) {
        *errorOutput = std::move(err);
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void writeFile(const fs::path& path, const std::string& contents) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << contents;
    if (!stream.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void ffmpeg(const std::vector<std::string>& arguments, const fs::path& output) {
    std::vector<std::string> command{"ffmpeg",    "-nostdin", "-hide_banner",
                                     "-loglevel", "error",    "-y"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back(output.string());
    std::string errors;
    if (runCapturing(command, nullptr, &errors) != 0) {
        throw std::runtime_error("ffmpeg could not make " + output.filename().string() + ": " +
                                 errors);
    }
}

// The private folder, made on first use and removed at exit by the process that made it
// (a forked child that exits must not take it away from its parent).
class SharedFolder {
  public:
    SharedFolder() : path(makePrivateTestFolder("tavrolin-media")), owner(::getpid()) {}
    ~SharedFolder() {
        if (::getpid() == owner) {
            removeTestFolder(path);
        }
    }
    fs::path path;
    pid_t owner = 0;
};

const fs::path& sharedFolder() {
    static SharedFolder folder;
    return folder.path;
}

const char* const kSubRip =
    "1\n00:00:00,200 --> 00:00:01,000\nHello\n\n2\n00:00:01,500 --> 00:00:02,500\nWorld\n";

const char* const kAss =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 64\nPlayResY: 36\n\n"
    "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
    "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
    "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,"
    "1,0,2,10,10,10,1\n\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:00.50,0:00:01.50,Default,,0,0,0,,\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\n";

const char* const kChapters =
    ";FFMETADATA1\n\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Opening\n\n"
    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=3000\ntitle=Finale\n";

std::vector<std::string> clipArguments(const std::string& pattern, int frequency) {
    return {
        "-f",       "lavfi",
        "-i",       pattern + "=size=64x36:rate=25:duration=2",
        "-f",       "lavfi",
        "-i",       "sine=frequency=" + std::to_string(frequency) + ":sample_rate=48000:duration=2",
        "-t",       "2",
        "-c:v",     "libx264",
        "-preset",  "ultrafast",
        "-pix_fmt", "yuv420p",
        "-c:a",     "aac",
        "-ac",      "2",
        "-b:a",     "64k"};
}

void makeAll(TestMedia& media) {
    const fs::path& folder = media.folder;
    writeFile(folder / "source-eng.srt", kSubRip);
    writeFile(folder / "source-jpn.ass", kAss);
    writeFile(folder / "source-chapters.txt", kChapters);

    media.matroska = folder / "movie.mkv";
    media.mp4ClipA = folder / "clip-a.mp4";
    media.mp4ClipB = folder / "clip-b.mp4";
    media.rawH264 = folder / "raw.h264";

    auto matroska = std::async(std::launch::async, [&] {
        ffmpeg({"-f",
                "lavfi",
                "-i",
                "testsrc2=size=64x36:rate=25:duration=3",
                "-f",
                "lavfi",
                "-i",
                "sine=frequency=440:sample_rate=48000:duration=3",
                "-f",
                "lavfi",
                "-i",
                "anullsrc=channel_layout=5.1:sample_rate=48000",
                "-i",
                (folder / "source-eng.srt").string(),
                "-i",
                (folder / "source-jpn.ass").string(),
                "-f",
                "ffmetadata",
                "-i",
                (folder / "source-chapters.txt").string(),
                "-map",
                "0:v",
                "-map",
                "1:a",
                "-map",
                "2:a",
                "-map",
                "3:s",
                "-map",
                "4:s",
                "-map_chapters",
                "5",
                "-t",
                "3",
                "-c:v",
                "libx264",
                "-preset",
                "ultrafast",
                "-pix_fmt",
                "yuv420p",
                "-c:a:0",
                "aac",
                "-ac:a:0",
                "2",
                "-b:a:0",
                "64k",
                "-c:a:1",
                "ac3",
                "-b:a:1",
                "96k",
                "-c:s:0",
                "srt",
                "-c:s:1",
                "ass",
                "-metadata:s:a:0",
                "language=eng",
                "-metadata:s:a:1",
                "language=fre",
                "-metadata:s:a:1",
                "title=Commentary",
                "-metadata:s:s:0",
                "language=eng",
                "-metadata:s:s:1",
                "language=jpn",
                "-disposition:v:0",
                "default",
                "-disposition:a:0",
                "default",
                "-disposition:a:1",
                "0",
                "-disposition:s:0",
                "0",
                "-disposition:s:1",
                "forced"},
               media.matroska);
    });
    auto clipA = std::async(std::launch::async,
                            [&] { ffmpeg(clipArguments("testsrc2", 440), media.mp4ClipA); });
    auto clipB = std::async(std::launch::async,
                            [&] { ffmpeg(clipArguments("testsrc", 660), media.mp4ClipB); });
    auto raw = std::async(std::launch::async, [&] {
        ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=2", "-c:v", "libx264",
                "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-f", "h264"},
               media.rawH264);
    });
    matroska.get();
    clipA.get();
    clipB.get();
    raw.get();

    // Only the start of the Matroska header: ffprobe gives up on it.
    media.truncated = folder / "truncated.mkv";
    {
        std::ifstream in(media.matroska, std::ios::binary);
        std::string head(100, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<size_t>(in.gcount()));
        writeFile(media.truncated, head);
    }

    media.randomBytes = folder / "random.mkv";
    {
        std::mt19937 generator(20240607);
        std::string bytes(64 * 1024, '\0');
        for (auto& byte : bytes) {
            byte = static_cast<char>(generator() & 0xFF);
        }
        writeFile(media.randomBytes, bytes);
    }

    media.empty = folder / "empty.mp4";
    writeFile(media.empty, "");

    const fs::path oddFolder = folder / "odd";
    fs::create_directory(oddFolder);
    const std::vector<std::string> oddNames{
        "with spaces in it.mp4",
        "single ' quote.mp4",
        "double \" quote.mp4",
        "back\\slash.mp4",
        "a:b.mp4",
        "100%d.mp4",
        "-leading-dash.mp4",
        " leading space.mp4",
        "hash#mark.mp4",
        "semi;equals=.mp4",
        "caf\xC3\xA9 \xE6\x98\xA0\xE7\x94\xBB.mp4",
        "emoji \xF0\x9F\x8E\xAC.mp4",
        "latin1 caf\xE9.mp4",
        std::string(210, 'n') + ".mp4",
    };
    for (const auto& name : oddNames) {
        fs::path target = oddFolder / name;
        fs::copy_file(media.mp4ClipA, target, fs::copy_options::overwrite_existing);
        media.oddNames.push_back(target);
    }
}

}  // namespace

const TestMedia& TestMedia::shared() {
    static TestMedia media;
    static std::once_flag once;
    // A throw leaves the flag unset, so the next test tries again and fails on its own.
    std::call_once(once, [] {
        TestMedia made;
        made.folder = sharedFolder();
        makeAll(made);
        media = std::move(made);
    });
    return media;
}

fs::path TestMedia::generate(const std::string& name, const std::vector<std::string>& arguments) {
    static std::mutex mutex;
    static std::map<std::string, fs::path> made;
    std::lock_guard lock(mutex);
    if (auto found = made.find(name); found != made.end()) {
        return found->second;
    }
    fs::path output = sharedFolder() / name;
    ffmpeg(arguments, output);
    made.emplace(name, output);
    return output;
}

int runTool(const std::vector<std::string>& command, std::string* output) {
    return runCapturing(command, output, nullptr);
}

std::vector<std::int16_t> decodedSamples(const fs::path& file) {
    std::string bytes;
    EXPECT_EQ(runTool({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-map", "0:a:0",
                       "-ac", "1", "-f", "s16le", "-"},
                      &bytes),
              0)
        << file;
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

}  // namespace tavtest
