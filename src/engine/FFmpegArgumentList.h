#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace tavrolin::argumentlist {

// Pieces of the ffmpeg argument lists that the command builder's files share.

inline void append(std::vector<std::string>& arguments, std::initializer_list<std::string> more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
}

// The output's container arguments, then its path: every list ends so.
void appendOutput(std::vector<std::string>& arguments, const std::filesystem::path& output);

// A stream of the first input.
inline std::string streamMap(std::int64_t index) {
    return "0:" + std::to_string(index);
}

}  // namespace tavrolin::argumentlist
