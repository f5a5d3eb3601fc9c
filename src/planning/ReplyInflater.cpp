#include "planning/ReplyInflater.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>

namespace tavrolin {

struct ReplyInflater::Stream {
    z_stream z{};
    bool open = false;

    ~Stream() {
        if (open) {
            inflateEnd(&z);
        }
    }
};

namespace {

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

}  // namespace

ReplyInflater::ReplyInflater(std::string_view encoding, std::int64_t byteLimit)
    : byteLimit_(byteLimit) {
    const std::string name = lowered(encoding);
    if (name.empty() || name == "identity") {
        return;
    }
    if (name != "gzip" && name != "x-gzip" && name != "deflate") {
        state_ = State::unreadable;
        return;
    }
    stream_ = std::make_unique<Stream>();
    // 32 added to the window bits reads either a gzip or a zlib header.
    stream_->open = inflateInit2(&stream_->z, 15 + 32) == Z_OK;
    if (!stream_->open) {
        state_ = State::unreadable;
    }
}

ReplyInflater::~ReplyInflater() = default;

ReplyInflater::State ReplyInflater::feed(std::string_view piece, std::string& content) {
    if (state_ != State::reading) {
        return state_;
    }
    if (!stream_) {
        content.append(piece);
    } else if (!piece.empty()) {
        if (ended_) {
            state_ = State::unreadable;  // bytes after the end of the stream
            return state_;
        }
        z_stream& z = stream_->z;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
        z.avail_in = static_cast<uInt>(piece.size());
        char buffer[64 * 1024];
        // One buffer at a time, so that what a small piece inflates to is never held past the
        // limit.
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            const int result = inflate(&z, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                state_ = State::unreadable;
                return state_;
            }
            content.append(buffer, sizeof buffer - z.avail_out);
            ended_ = result == Z_STREAM_END;
            if (static_cast<std::int64_t>(content.size()) > byteLimit_) {
                break;
            }
            if (result == Z_BUF_ERROR && z.avail_out != 0) {
                break;  // no progress possible with this input
            }
            // A full buffer may leave output inside zlib even when the input is used up.
        } while ((z.avail_in > 0 || z.avail_out == 0) && !ended_);
        if (ended_ && z.avail_in > 0) {
            state_ = State::unreadable;
            return state_;
        }
    }
    if (static_cast<std::int64_t>(content.size()) > byteLimit_) {
        state_ = State::tooLarge;
    }
    return state_;
}

bool ReplyInflater::isComplete() const {
    return !stream_ || ended_;
}

}  // namespace tavrolin
