#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "preview/FrameDecoder.h"
#include "preview/VideoFrameIndex.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace tavrolin {

// Opens a media file with libavformat, indexes its first video stream's packets into the frame
// grid, and decodes any frame of that grid exactly: the next frame straight on after the one
// before it, any other from the keyframe at or before it, further back when the decoder's first
// picture is already past the target (open groups of pictures). Not thread-safe: one thread
// at a time (the frame server's worker). Pictures come upright, turned as the stream's display
// matrix says; larger than `maxWidth` x `maxHeight` as shown, they are scaled down with their
// aspect kept.
class LibavFrameDecoder final : public FrameDecoder {
  public:
    // Reads the whole file once to index it. Throws PreviewMediaError, or CancellationError
    // when `stop` is requested meanwhile. A file without a video stream opens with an empty
    // grid (its duration still read).
    explicit LibavFrameDecoder(const std::filesystem::path& file, std::stop_token stop = {},
                               int maxWidth = 1920, int maxHeight = 1080);
    ~LibavFrameDecoder() override;
    LibavFrameDecoder(const LibavFrameDecoder&) = delete;
    LibavFrameDecoder& operator=(const LibavFrameDecoder&) = delete;

    const VideoFrameIndex& index() const override { return index_; }

    // The picture of frame `index` (clamped to the grid). Throws PreviewMediaError
    // (cannotDecode) when it cannot be reached, or when the file has no video, and
    // CancellationError once `stop` is requested (checked between packets).
    VideoFrame decode(std::size_t index, std::stop_token stop = {}) override;

  private:
    void release();
    void readIndex(std::stop_token stop);
    void openDecoder();
    void seekToKeyframe(std::size_t keyframe);
    // Decodes on from the current position. The frame, or nothing when a later frame (or the
    // end) came first.
    std::optional<VideoFrame> decodeOnTo(std::size_t target, const std::stop_token& stop);
    VideoFrame convert(const AVFrame& frame, std::size_t index);

    std::filesystem::path file_;
    int maxWidth_;
    int maxHeight_;
    // The picture's size as stored (scaled), before it is turned upright.
    int storedWidth_ = 0;
    int storedHeight_ = 0;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    int streamIndex_ = -1;
    bool draining_ = false;
    VideoFrameIndex index_;
    std::optional<std::size_t> lastDecoded_;  // the decoder stands right after this frame
};

}  // namespace tavrolin
