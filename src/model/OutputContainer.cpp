#include "model/OutputContainer.h"

#include <span>

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
        case OutputContainer::mp3:
            return "mp3";
    }
    return "mp4";
}

namespace {

std::optional<OutputContainer> containerAmong(std::span<const OutputContainer> containers,
                                              std::string_view raw) {
    for (auto container : containers) {
        if (rawValue(container) == raw) {
            return container;
        }
    }
    return std::nullopt;
}

// The extension of `file` without its dot, lower-cased; empty when it has none.
std::string extensionOf(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    return extension.empty() ? extension : lowercased(extension.substr(1));
}

}  // namespace

std::optional<OutputContainer> outputContainerFromRaw(std::string_view raw) {
    return containerAmong(allOutputContainers, raw);
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
    return containerAmong(allOutputContainers, extensionOf(file));
}

std::optional<OutputContainer> joinContainerForFile(const std::filesystem::path& file) {
    return containerAmong(joinOutputContainers, extensionOf(file));
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
