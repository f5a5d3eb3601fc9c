#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TestMedia.h"

namespace tavtest {

// Clips whose frames show their own index as 16 black or white blocks in a row (bit k in
// block k, least significant first), so a decoded picture names the frame it is.
struct IndexedClip {
    std::string name;
    std::filesystem::path file;
};

inline std::string indexPattern() {
    return "geq=lum='255*mod(floor(N/pow(2,floor(X*16/W))),2)':cb=128:cr=128";
}

inline std::filesystem::path indexedClip(const std::string& name, const std::string& rate,
                                         int frames, const std::vector<std::string>& codec) {
    std::vector<std::string> arguments = {"-f",        "lavfi",
                                          "-i",        "color=c=black:s=320x48:r=" + rate,
                                          "-frames:v", std::to_string(frames),
                                          "-vf",       indexPattern(),
                                          "-pix_fmt",  "yuv420p"};
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    return TestMedia::generate(name, arguments);
}

// H.264 MP4 25 fps with a 50-frame group of pictures; H.264 Matroska at 30000/1001 with
// B-frames; HEVC MOV 24 fps with open groups of pictures; VP9 WebM 30 fps.
inline const std::vector<IndexedClip>& indexedClips() {
    static const std::vector<IndexedClip> clips = {
        {"h264-mp4", indexedClip("indexed-h264.mp4", "25", 150,
                                 {"-c:v", "libx264", "-g", "50", "-keyint_min", "50", "-bf", "2",
                                  "-crf", "12"})},
        {"h264-mkv", indexedClip("indexed-h264.mkv", "30000/1001", 120,
                                 {"-c:v", "libx264", "-g", "30", "-bf", "3", "-crf", "12"})},
        {"hevc-mov", indexedClip("indexed-hevc.mov", "24", 96,
                                 {"-c:v", "libx265", "-x265-params",
                                  "keyint=24:min-keyint=24:open-gop=1:bframes=4:log-level=error",
                                  "-crf", "12", "-tag:v", "hvc1"})},
        {"vp9-webm", indexedClip("indexed-vp9.webm", "30", 90,
                                 {"-c:v", "libvpx-vp9", "-g", "30", "-deadline", "realtime",
                                  "-cpu-used", "8", "-crf", "10", "-b:v", "0"})},
    };
    return clips;
}

// Reads the index back from 32-bit pixels (BGRA or Qt's RGB32, which share a byte order).
inline int indexShownIn(const std::uint8_t* pixels, int width, int height, int stride) {
    int value = 0;
    for (int bit = 0; bit < 16; ++bit) {
        const int x = (2 * bit + 1) * width / 32;
        const std::uint8_t green = pixels[(height / 2) * stride + x * 4 + 1];
        if (green > 128) {
            value |= 1 << bit;
        }
    }
    return value;
}

// The index every frame of `file` shows, in presentation order, decoded by the real ffmpeg.
inline std::vector<int> indicesShownIn(const std::filesystem::path& file) {
    std::string pixels;
    runTool({"ffmpeg", "-v", "error", "-nostdin", "-i", file.string(), "-map", "0:v:0", "-vsync",
             "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"},
            &pixels);
    constexpr int width = 320, height = 48;
    constexpr std::size_t frameSize = width * height * 4;
    std::vector<int> indices;
    for (std::size_t at = 0; at + frameSize <= pixels.size(); at += frameSize) {
        indices.push_back(indexShownIn(reinterpret_cast<const std::uint8_t*>(pixels.data() + at),
                                       width, height, width * 4));
    }
    return indices;
}

inline std::size_t ffprobeFrameCount(const std::filesystem::path& file) {
    std::string output;
    runTool({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
             "stream=nb_read_frames", "-of", "csv=p=0", file.string()},
            &output);
    return std::stoul(output);
}

}  // namespace tavtest
