#include "model/MediaStream.h"

#include <algorithm>

#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

// Locale-independent: the process locale (set by Qt from the environment) must not change
// codec or language texts.
std::string upper(const std::string& text) {
    return uppercased(text);
}
std::string lower(const std::string& text) {
    return lowercased(text);
}

bool hasText(const std::optional<std::string>& text) {
    return text && !text->empty();
}

std::string layoutText(const std::string& layout) {
    std::string text = layout;
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

}  // namespace

std::string_view rawValue(MediaStreamKind kind) {
    switch (kind) {
        case MediaStreamKind::video:
            return "video";
        case MediaStreamKind::audio:
            return "audio";
        case MediaStreamKind::subtitle:
            return "subtitle";
    }
    return "video";
}

std::optional<MediaStreamKind> mediaStreamKindFromRaw(std::string_view raw) {
    for (auto kind : allMediaStreamKinds) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string joinWithMiddleDot(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) {
        if (!text.empty()) {
            text += " \u00B7 ";
        }
        text += part;
    }
    return text;
}

std::string MediaStream::displayTitle() const {
    if (hasText(title)) {
        return *title;
    }
    std::string kindText{rawValue(kind)};
    kindText[0] = static_cast<char>(kindText[0] - 'a' + 'A');
    return kindText + " stream " + std::to_string(index);
}

std::string MediaStream::technicalSummary() const {
    std::vector<std::string> parts{upper(codecName)};
    switch (kind) {
        case MediaStreamKind::video:
            if (hasText(profile) && lower(*profile) != "unknown") {
                parts.push_back(*profile);
            }
            if (width && height) {
                parts.push_back(std::to_string(*width) + "\u00D7" + std::to_string(*height));
            }
            break;
        case MediaStreamKind::audio:
            if (hasText(channelLayout)) {
                parts.push_back(layoutText(*channelLayout));
            } else if (channelCount) {
                parts.push_back(std::to_string(*channelCount) + " channels");
            }
            break;
        case MediaStreamKind::subtitle:
            break;
    }
    if (hasText(language) && *language != "und") {
        parts.push_back(upper(*language));
    }
    return joinWithMiddleDot(parts);
}

std::string MediaStream::pickerLabel() const {
    const std::string number = "#" + std::to_string(index);
    if (kind != MediaStreamKind::audio) {
        return joinWithMiddleDot({number, displayTitle(), technicalSummary()});
    }
    std::vector<std::string> parts{number};
    if (hasText(title)) {
        parts.push_back(*title);
    }
    if (hasText(language) && lower(*language) != "und") {
        parts.push_back(upper(*language));
    } else {
        parts.push_back("Unknown language");
    }
    parts.push_back(upper(codecName));
    if (hasText(channelLayout)) {
        std::string channels = layoutText(*channelLayout);
        if (channelCount) {
            channels += " (" + std::to_string(*channelCount) + " ch)";
        }
        parts.push_back(channels);
    } else if (channelCount) {
        parts.push_back(std::to_string(*channelCount) + " channels");
    }
    if (isDefault) {
        parts.push_back("Default");
    }
    return joinWithMiddleDot(parts);
}

}  // namespace tavrolin

namespace {

template <typename T>
void combine(std::size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
}

template <typename T>
void combine(std::size_t& seed, const std::optional<T>& value) {
    combine(seed, value.has_value());
    if (value) {
        combine(seed, *value);
    }
}

}  // namespace

std::size_t std::hash<tavrolin::MediaStream>::operator()(
    const tavrolin::MediaStream& s) const noexcept {
    std::size_t seed = 0;
    combine(seed, s.index);
    combine(seed, s.kind);
    combine(seed, s.codecName);
    combine(seed, s.codecLongName);
    combine(seed, s.language);
    combine(seed, s.title);
    combine(seed, s.width);
    combine(seed, s.height);
    combine(seed, s.channelCount);
    combine(seed, s.channelLayout);
    combine(seed, s.sampleRate);
    combine(seed, s.profile);
    combine(seed, s.level);
    combine(seed, s.pixelFormat);
    combine(seed, s.colorTransfer);
    combine(seed, s.colorPrimaries);
    combine(seed, s.colorSpace);
    combine(seed, s.codecTag);
    combine(seed, s.rotation);
    combine(seed, s.hiddenStart);
    combine(seed, s.lacksPresentationTimes);
    combine(seed, s.reordersFrames);
    combine(seed, s.isDefault);
    combine(seed, s.isForced);
    return seed;
}
