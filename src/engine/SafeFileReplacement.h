#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

namespace tavrolin {

// What a source file looked like before a replacement was prepared. Besides size and
// modification time it holds the device, inode and status-change time, so that a same-size
// edit within the timestamp granularity, or a file put in the source's place, is noticed.
struct SourceFileFingerprint {
    std::uintmax_t fileSize = 0;
    std::int64_t modificationSeconds = 0;
    std::int64_t modificationNanoseconds = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t statusChangeSeconds = 0;
    std::int64_t statusChangeNanoseconds = 0;

    // Follows symbolic links. Throws MediaProcessingError::processFailed.
    static SourceFileFingerprint of(const std::filesystem::path& file);

    friend bool operator==(const SourceFileFingerprint&, const SourceFileFingerprint&) = default;
};

// What a caller learns of a replacement while it runs.
struct ReplacementSteps {
    // Before the swap, with the hidden name the old file will have beside the real file it
    // replaces: recorded, a crash between the swap and the backup's removal leaves a name a
    // later start finds.
    std::function<void(const std::filesystem::path& backup, const std::filesystem::path& original)>
        beforeSwap;
    // Once the swap is on disk, before the backup goes.
    std::function<void()> swapped;
};

// Replaces a source file by a verified replacement prepared beside it, in one file-system
// operation, keeping a hidden backup until the new file is confirmed at the source's name.
class SafeFileReplacement {
  public:
    static constexpr const char* backupMarker = ".tavrolin-backup-";

    // `source` may be a symbolic link: the real file behind it is replaced and the link kept;
    // `prepared` must then lie beside the real file. Before the swap the prepared file takes the
    // source's permission bits, group and user.* extended attributes and is flushed to disk.
    // Throws MediaProcessingError (invalidRequest or processFailed).
    void replace(const std::filesystem::path& source, const std::filesystem::path& prepared,
                 const ReplacementSteps& steps = {}) const;
};

// The file a path names once symbolic links are followed; the path itself (made absolute and
// normal) when it names no existing file.
std::filesystem::path resolvedFilePath(const std::filesystem::path& path);

}  // namespace tavrolin
