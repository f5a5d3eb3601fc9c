#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavrolin {

// The argument lists of the three inspections. The file's path is passed as its bytes and made
// absolute, so a name such as "-i.mp4" can never be read as an option.
struct FFprobeCommandBuilder {
    static const std::string streamEntries;
    // The first packets, read beside the streams: the ones an edit list hides are flagged there.
    static const std::vector<std::string> hiddenStartArguments;

    // `moreEntries`, in -show_entries syntax, are read in the same run.
    std::vector<std::string> streamArguments(const std::filesystem::path& file,
                                             const std::string& moreEntries = {}) const;
    std::vector<std::string> chapterArguments(const std::filesystem::path& file) const;
    std::vector<std::string> durationArguments(const std::filesystem::path& file) const;
};

}  // namespace tavrolin
