#include "model/OutputContainer.h"

#include "model/TextMetrics.h"

namespace tavrolin {

std::string_view rawValue(OutputContainer container) {
    switch (container) {
        case OutputContainer::mp4:
            return "mp4";
        case OutputContainer::mov:
            return "mov";
        case OutputContainer::mkv:
            return "mkv";
        case OutputContainer::m4v:
            return "m4v";
        case OutputContainer::webm:
            return "webm";
    }
    return "mp4";
}

std::optional<OutputContainer> outputContainerFromRaw(std::string_view raw) {
    for (auto container : allOutputContainers) {
        if (rawValue(container) == raw) {
            return container;
        }
    }
    return std::nullopt;
}

std::string_view muxerName(OutputContainer container) {
    switch (container) {
        case OutputContainer::mkv:
            return "matroska";
        case OutputContainer::m4v:
            return "mp4";
        default:
            return rawValue(container);
    }
}

std::string displayName(OutputContainer container) {
    return uppercased(rawValue(container));
}

std::optional<OutputContainer> containerForFile(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    if (extension.empty()) {
        return std::nullopt;
    }
    extension.erase(0, 1);
    return outputContainerFromRaw(lowercased(extension));
}

std::string_view rawValue(PlaybackTarget) {
    return "iPhone17Pro";
}

std::string displayName(PlaybackTarget) {
    return "iPhone 17 Pro";
}

std::optional<PlaybackTarget> playbackTargetFromRaw(std::string_view raw) {
    if (raw == "iPhone17Pro") {
        return PlaybackTarget::iPhone17Pro;
    }
    return std::nullopt;
}

}  // namespace tavrolin
