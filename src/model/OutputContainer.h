#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrolin {

// The raw value is the container's lower-case file-name extension.
enum class OutputContainer { mp4, mov, mkv, m4v, webm, mp3 };

// The containers every page writes, in menu order.
inline constexpr std::array<OutputContainer, 5> allOutputContainers{
    OutputContainer::mp4, OutputContainer::mov, OutputContainer::mkv, OutputContainer::m4v,
    OutputContainer::webm};

// Join's: those and MP3, which holds MP3 audio alone and keeps the first file's encoder delay
// hidden in its header as the file did.
inline constexpr std::array<OutputContainer, 6> joinOutputContainers{
    OutputContainer::mp4, OutputContainer::mov,  OutputContainer::mkv,
    OutputContainer::m4v, OutputContainer::webm, OutputContainer::mp3};

std::string_view rawValue(OutputContainer container);
// Exact, case-sensitive lookup: callers lower-case an extension first.
std::optional<OutputContainer> outputContainerFromRaw(std::string_view raw);
// The name ffmpeg's "-f" takes for the container.
std::string_view muxerName(OutputContainer container);
// The container's name in user-visible texts (MP4, MKV, WEBM).
std::string displayName(OutputContainer container);
// The container named by a file's extension, lower-cased; none for an unknown or empty one.
std::optional<OutputContainer> containerForFile(const std::filesystem::path& file);
// The same among Join's containers.
std::optional<OutputContainer> joinContainerForFile(const std::filesystem::path& file);

enum class PlaybackTarget { iPhone17Pro };

inline constexpr std::array<PlaybackTarget, 1> allPlaybackTargets{PlaybackTarget::iPhone17Pro};

std::string_view rawValue(PlaybackTarget target);
std::optional<PlaybackTarget> playbackTargetFromRaw(std::string_view raw);
// The target's name in user-visible texts ("iPhone 17 Pro").
std::string displayName(PlaybackTarget target);

}  // namespace tavrolin
