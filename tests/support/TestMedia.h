#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavtest {

// Small media files made once per test process with the real ffmpeg, in a private temporary
// folder that is removed when the process exits. Nothing here is committed to the repository.
class TestMedia {
  public:
    // Generates on first use (thread-safe); a failure to generate fails the calling test.
    static const TestMedia& shared();

    std::filesystem::path folder;

    // Matroska, about 3 s: H.264 video; AAC stereo "eng" (default); AC-3 5.1 "fre" titled
    // "Commentary"; SubRip "eng"; ASS "jpn" (forced); chapters "Opening" at 0 s and
    // "Finale" at 1.5 s.
    std::filesystem::path matroska;
    // MP4, about 2 s each, H.264 + AAC with the same layout, so they can be joined.
    std::filesystem::path mp4ClipA;
    std::filesystem::path mp4ClipB;
    // Raw H.264 elementary stream: ffprobe reports no duration.
    std::filesystem::path rawH264;
    // The first part of `matroska` only.
    std::filesystem::path truncated;
    // 64 KiB of random bytes with an .mkv extension.
    std::filesystem::path randomBytes;
    // An empty file with an .mp4 extension.
    std::filesystem::path empty;
    // Copies of mp4ClipA under odd names: spaces, quotes, backslash, "a:b", "100%d", leading
    // dash, leading space, "#", ";=", non-ASCII, emoji, a Latin-1 byte, a 214-byte name.
    std::vector<std::filesystem::path> oddNames;

    // Runs ffmpeg with `arguments` (after "-nostdin -hide_banner -loglevel error -y") to make
    // `name` in the shared folder once per process, and returns its path. For files a test
    // needs beyond the ones above.
    static std::filesystem::path generate(const std::string& name,
                                          const std::vector<std::string>& arguments);
};

// Runs a program and returns its exit status, standard output in `output`. For checks with
// the real ffprobe in tests.
int runTool(const std::vector<std::string>& command, std::string* output = nullptr);

// The first audio stream of `file` decoded by ffmpeg, as mono 16-bit samples; a failed decode
// fails the calling test.
std::vector<std::int16_t> decodedSamples(const std::filesystem::path& file);

}  // namespace tavtest
