#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stop_token>
#include <vector>

#include "preview/VideoFrameIndex.h"

namespace tavrolin {

// One decoded picture, 32-bit BGRA rows without padding (alpha 255).
struct VideoFrame {
    std::size_t index = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
};

// Decodes any frame of one opened file's frame grid exactly. One thread at a time.
class FrameDecoder {
  public:
    virtual ~FrameDecoder() = default;

    virtual const VideoFrameIndex& index() const = 0;
    // The picture of frame `index` (clamped to the grid). Throws PreviewMediaError
    // (cannotDecode) when it cannot be reached, or when the file has no video, and
    // CancellationError once `stop` is requested.
    virtual VideoFrame decode(std::size_t index, std::stop_token stop = {}) = 0;
};

// Opens `file` with the frame decoder module, loaded on first use. Reads the whole file once to
// index it. Throws ModuleUnavailableError when the module is missing, PreviewMediaError, or
// CancellationError when `stop` is requested meanwhile. Any thread.
std::shared_ptr<FrameDecoder> openFrameDecoder(const std::filesystem::path& file,
                                               std::stop_token stop = {}, int maxWidth = 1920,
                                               int maxHeight = 1080);

// The module's file name and its C entry point, which returns a new decoder (or throws).
inline constexpr const char* frameDecoderModuleFile = "libtavrolin-framedecoder.so";
inline constexpr const char* frameDecoderModuleEntry = "tavrolin_open_frame_decoder";
using FrameDecoderModuleEntry = FrameDecoder* (*)(const std::filesystem::path& file,
                                                  std::stop_token stop, int maxWidth,
                                                  int maxHeight);

}  // namespace tavrolin
