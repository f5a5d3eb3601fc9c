#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace tavrolin {

// Why a file's packets could not be read in-process; what() is the user-facing message, which
// names the file and its folder.
class PacketReadError : public std::runtime_error {
  public:
    enum class Case { cannotOpen, readFailed, damaged };

    // libavformat could not open `file`; `reason` is its own words.
    static PacketReadError cannotOpen(const std::filesystem::path& file, const std::string& reason);
    // Reading `file`'s bytes failed (`reason`: the system's words, "Input/output error").
    static PacketReadError readFailed(const std::filesystem::path& file, const std::string& reason);
    // `file`'s bytes end or break where its structure says more follows (`reason`: the
    // demuxer's words).
    static PacketReadError damaged(const std::filesystem::path& file, const std::string& reason);

    Case errorCase() const { return case_; }
    const std::filesystem::path& file() const { return file_; }
    // The library's or system's words, without the sentence around them.
    const std::string& reason() const { return reason_; }

  private:
    PacketReadError(Case errorCase, const std::filesystem::path& file, const std::string& reason);

    Case case_;
    std::filesystem::path file_;
    std::string reason_;
};

}  // namespace tavrolin
