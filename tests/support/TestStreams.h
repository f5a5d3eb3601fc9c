#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/MediaStream.h"

namespace tavtest {

// A stream as ffprobe would report it, for rule tables that need codecs no small generated
// file has. Audio streams are stereo.
inline tavrolin::MediaStream makeStream(std::int64_t index, tavrolin::MediaStreamKind kind,
                                        std::string codec,
                                        std::optional<std::string> language = std::nullopt,
                                        std::optional<std::string> title = std::nullopt) {
    tavrolin::MediaStream stream;
    stream.index = index;
    stream.kind = kind;
    stream.codecName = std::move(codec);
    stream.language = std::move(language);
    stream.title = std::move(title);
    if (kind == tavrolin::MediaStreamKind::audio) {
        stream.channelCount = 2;
    }
    return stream;
}

}  // namespace tavtest
