#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tavrolin {

// Turns the body of an HTTP reply back into its content as it arrives: as it is without a
// Content-Encoding, inflated for "gzip" and "deflate" (zlib), so that a byte limit counts what
// the content really takes and a small compressed body cannot grow past it in memory. Pure; one
// reply on one thread.
class ReplyInflater {
  public:
    enum class State { reading, tooLarge, unreadable };

    // `encoding` is the reply's Content-Encoding header (empty when it has none); an encoding
    // other than identity, gzip or deflate is unreadable.
    ReplyInflater(std::string_view encoding, std::int64_t byteLimit);
    ~ReplyInflater();
    ReplyInflater(const ReplyInflater&) = delete;
    ReplyInflater& operator=(const ReplyInflater&) = delete;

    // Appends the content of the next piece of the body to `content`, which never grows more
    // than one small buffer past the limit; stops at tooLarge or unreadable, which stay.
    State feed(std::string_view piece, std::string& content);
    State state() const { return state_; }
    // Whether the content is whole: a compressed stream reached its end.
    bool isComplete() const;

  private:
    struct Stream;

    std::int64_t byteLimit_;
    State state_ = State::reading;
    std::unique_ptr<Stream> stream_;  // none for identity
    bool ended_ = false;
};

}  // namespace tavrolin
