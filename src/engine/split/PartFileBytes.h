#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>

namespace tavrolin {

// Reads and writes at a place in a written part, for the rewrites of its headers and index
// after ffmpeg's run. Any thread; no state.

// Up to `size` bytes from `offset`: fewer at the end of the file.
std::string readPartBytes(std::fstream& stream, std::uint64_t offset, std::size_t size);

// Throws std::filesystem::filesystem_error naming `file` when the bytes cannot be written.
void writePartBytes(std::fstream& stream, std::uint64_t offset, std::string_view bytes,
                    const std::filesystem::path& file);

// Runs `rewrite` on the finished part `output`; any failure becomes the split's one sentence:
// "Tavrolin could not <what> “<output>”<where> (<cause>). Try the split again, …".
void rewriteFinishedPart(const std::filesystem::path& output, std::string_view what,
                         std::string_view where, const std::function<void()>& rewrite);

}  // namespace tavrolin
