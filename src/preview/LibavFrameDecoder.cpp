#include "preview/LibavFrameDecoder.h"

#include <algorithm>
#include <cmath>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "preview/PreviewMediaError.h"

namespace tavrolin {

namespace {

double seconds(AVRational rational) {
    return rational.num > 0 && rational.den > 0 ? av_q2d(rational) : 0;
}

// How many keyframes a seek may go back before the frame is given up as unreachable.
constexpr int maxSeekAttempts = 6;

// The clockwise turn (0, 90, 180 or 270) that shows the stream upright, read from its display
// matrix as the probe reads it; a turn between right angles is shown as stored.
int clockwiseTurn(const AVStream& stream) {
    const auto* matrix = reinterpret_cast<const std::int32_t*>(
        av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    if (matrix == nullptr) {
        return 0;
    }
    const double counterClockwise = av_display_rotation_get(matrix);
    if (!std::isfinite(counterClockwise)) {
        return 0;
    }
    const long turn = std::lround(-counterClockwise);
    return turn % 90 == 0 ? static_cast<int>(((turn % 360) + 360) % 360) : 0;
}

// `pixels` (BGRA rows of `width` x `height`) turned clockwise by `turn` degrees.
std::vector<std::uint8_t> turned(const std::vector<std::uint8_t>& pixels, int width, int height,
                                 int turn) {
    std::vector<std::uint8_t> result(pixels.size());
    const auto* from = reinterpret_cast<const std::uint32_t*>(pixels.data());
    auto* to = reinterpret_cast<std::uint32_t*>(result.data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::size_t target = 0;
            if (turn == 90) {
                target = static_cast<std::size_t>(x) * height + (height - 1 - y);
            } else if (turn == 180) {
                target = static_cast<std::size_t>(height - 1 - y) * width + (width - 1 - x);
            } else {
                target = static_cast<std::size_t>(width - 1 - x) * height + y;
            }
            to[target] = from[static_cast<std::size_t>(y) * width + x];
        }
    }
    return result;
}

}  // namespace

LibavFrameDecoder::LibavFrameDecoder(const std::filesystem::path& file, std::stop_token stop,
                                     int maxWidth, int maxHeight)
    : file_(file), maxWidth_(maxWidth), maxHeight_(maxHeight) {
    // Damaged input is answered by the preview model; libav's own messages would only reach a
    // terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    // Through the file protocol, so that no part of a name is read as a protocol or pattern.
    const std::string location = "file:" + file.string();
    // Opening a named pipe or a device would wait on it for good.
    if (specialFileKind(file) ||
        avformat_open_input(&format_, location.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0) {
        avformat_close_input(&format_);
        throw PreviewMediaError::cannotOpen(file);
    }
    try {
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        streamIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (streamIndex_ >= 0 &&
            (format_->streams[streamIndex_]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            openDecoder();
            readIndex(stop);
        } else {
            streamIndex_ = -1;
            index_.duration = format_->duration > 0 ? format_->duration / double(AV_TIME_BASE) : 0;
        }
    } catch (...) {
        release();
        throw;
    }
}

LibavFrameDecoder::~LibavFrameDecoder() {
    release();
}

void LibavFrameDecoder::release() {
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
}

void LibavFrameDecoder::openDecoder() {
    const AVStream* stream = format_->streams[streamIndex_];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    codec_ = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (codec_ == nullptr || avcodec_parameters_to_context(codec_, stream->codecpar) < 0) {
        throw PreviewMediaError::cannotDecode(file_);
    }
    codec_->thread_count = 0;
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    codec_->pkt_timebase = stream->time_base;
    if (avcodec_open2(codec_, decoder, nullptr) < 0) {
        throw PreviewMediaError::cannotDecode(file_);
    }
}

void LibavFrameDecoder::readIndex(std::stop_token stop) {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex_) {
            format_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const AVStream* stream = format_->streams[streamIndex_];
    std::vector<std::int64_t> keyPts;
    std::size_t packets = 0;
    while (av_read_frame(format_, packet_) >= 0) {
        const bool isVideo = packet_->stream_index == streamIndex_;
        const std::int64_t pts = packet_->pts;
        const int flags = packet_->flags;
        av_packet_unref(packet_);
        if (++packets % 512 == 0 && stop.stop_requested()) {
            throw CancellationError();
        }
        // Packets before an edit list's start are decoded but never shown.
        if (!isVideo || (flags & AV_PKT_FLAG_DISCARD) != 0) {
            continue;
        }
        if (pts == AV_NOPTS_VALUE) {
            throw PreviewMediaError::missingTimestamps(file_);
        }
        index_.pts.push_back(pts);
        if ((flags & AV_PKT_FLAG_KEY) != 0) {
            keyPts.push_back(pts);
        }
    }
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    auto& pts = index_.pts;
    std::sort(pts.begin(), pts.end());
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
    if (pts.empty()) {
        throw PreviewMediaError::cannotDecode(file_);
    }
    index_.keyframes.push_back(0);
    for (std::int64_t key : keyPts) {
        index_.keyframes.push_back(
            static_cast<std::size_t>(std::lower_bound(pts.begin(), pts.end(), key) - pts.begin()));
    }
    std::sort(index_.keyframes.begin(), index_.keyframes.end());
    index_.keyframes.erase(std::unique(index_.keyframes.begin(), index_.keyframes.end()),
                           index_.keyframes.end());

    index_.timeBaseNum = stream->time_base.num;
    index_.timeBaseDen = stream->time_base.den;
    index_.frameRate = seconds(stream->avg_frame_rate);
    if (index_.frameRate <= 0) {
        index_.frameRate = seconds(stream->r_frame_rate);
    }
    const double lastFrame = index_.time(pts.size() - 1);
    const double frameLength = index_.frameRate > 0 ? 1 / index_.frameRate : 0;
    const double container = format_->duration > 0 ? format_->duration / double(AV_TIME_BASE) : 0;
    index_.duration = std::max(container, lastFrame + frameLength);

    const AVRational aspect =
        av_guess_sample_aspect_ratio(format_, format_->streams[streamIndex_], nullptr);
    const double sampleAspect = aspect.num > 0 && aspect.den > 0 ? av_q2d(aspect) : 1.0;
    double width = stream->codecpar->width * sampleAspect;
    double height = stream->codecpar->height;
    index_.rotation = clockwiseTurn(*stream);
    const bool sideways = index_.rotation % 180 != 0;
    // The bounds hold for the picture as shown.
    const double scale = std::min({1.0, (sideways ? maxHeight_ : maxWidth_) / std::max(width, 1.0),
                                   (sideways ? maxWidth_ : maxHeight_) / std::max(height, 1.0)});
    storedWidth_ = std::max(2, static_cast<int>(std::lround(width * scale)));
    storedHeight_ = std::max(2, static_cast<int>(std::lround(height * scale)));
    index_.width = sideways ? storedHeight_ : storedWidth_;
    index_.height = sideways ? storedWidth_ : storedHeight_;
}

void LibavFrameDecoder::seekToKeyframe(std::size_t keyframe) {
    const std::int64_t target = index_.pts[keyframe];
    int result = avformat_seek_file(format_, streamIndex_, INT64_MIN, target, target, 0);
    if (result < 0) {
        result = av_seek_frame(format_, streamIndex_, target, AVSEEK_FLAG_BACKWARD);
    }
    if (result < 0) {
        av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BYTE);
    }
    avcodec_flush_buffers(codec_);
    draining_ = false;
    lastDecoded_.reset();
}

std::optional<VideoFrame> LibavFrameDecoder::decodeOnTo(std::size_t target,
                                                        const std::stop_token& stop) {
    while (true) {
        const int received = avcodec_receive_frame(codec_, frame_);
        if (received == 0) {
            std::int64_t ts = frame_->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE) {
                ts = frame_->pts;
            }
            const std::size_t at = index_.frameAtTicks(ts);
            lastDecoded_ = at;
            if (at == target) {
                VideoFrame picture = convert(*frame_, at);
                av_frame_unref(frame_);
                return picture;
            }
            av_frame_unref(frame_);
            if (at > target) {
                return std::nullopt;
            }
            continue;
        }
        if (received == AVERROR_EOF) {
            lastDecoded_.reset();
            return std::nullopt;
        }
        if (received != AVERROR(EAGAIN)) {
            throw PreviewMediaError::cannotDecode(file_);
        }
        if (draining_) {
            lastDecoded_.reset();
            return std::nullopt;
        }
        if (stop.stop_requested()) {
            throw CancellationError();
        }
        const int read = av_read_frame(format_, packet_);
        if (read < 0) {
            avcodec_send_packet(codec_, nullptr);
            draining_ = true;
            continue;
        }
        if (packet_->stream_index == streamIndex_) {
            // A frame that no other frame refers to is needed only when it is the one shown:
            // skipping those before the target halves the work of a seek on B-frame streams.
            const bool beforeTarget =
                packet_->pts != AV_NOPTS_VALUE && packet_->pts < index_.pts[target];
            codec_->skip_frame = beforeTarget ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            avcodec_send_packet(codec_, packet_);
        }
        av_packet_unref(packet_);
    }
}

VideoFrame LibavFrameDecoder::decode(std::size_t index, std::stop_token stop) {
    if (streamIndex_ < 0 || index_.pts.empty()) {
        throw PreviewMediaError::cannotDecode(file_);
    }
    index = std::min(index, index_.count() - 1);
    std::size_t keyframe = index_.keyframeAtOrBefore(index);
    // Decoding on is cheaper than a seek while no keyframe lies between here and the target.
    if (lastDecoded_ && *lastDecoded_ < index && keyframe <= *lastDecoded_) {
        if (auto picture = decodeOnTo(index, stop)) {
            return std::move(*picture);
        }
    }
    for (int attempt = 0; attempt < maxSeekAttempts; ++attempt) {
        seekToKeyframe(keyframe);
        if (auto picture = decodeOnTo(index, stop)) {
            return std::move(*picture);
        }
        const std::size_t earlier = index_.keyframeBefore(keyframe);
        if (earlier == keyframe) {
            break;
        }
        keyframe = attempt + 2 == maxSeekAttempts ? 0 : earlier;
    }
    throw PreviewMediaError::cannotDecode(file_);
}

VideoFrame LibavFrameDecoder::convert(const AVFrame& frame, std::size_t index) {
    VideoFrame picture;
    picture.index = index;
    picture.width = storedWidth_;
    picture.height = storedHeight_;
    scaler_ = sws_getCachedContext(
        scaler_, frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), picture.width,
        picture.height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        throw PreviewMediaError::cannotDecode(file_);
    }
    picture.bgra.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
    std::uint8_t* planes[4] = {picture.bgra.data(), nullptr, nullptr, nullptr};
    int strides[4] = {picture.width * 4, 0, 0, 0};
    sws_scale(scaler_, frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (index_.rotation != 0) {
        picture.bgra = turned(picture.bgra, picture.width, picture.height, index_.rotation);
        picture.width = index_.width;
        picture.height = index_.height;
    }
    return picture;
}

}  // namespace tavrolin
