#pragma once

#include <filesystem>
#include <string_view>

namespace tavrolin {

// The private folder of one transcription, "TavrolinTranscription-<UUID>" inside a root folder,
// locked (flock) for as long as the object lives so that the clean-up of another instance
// leaves it alone. Destroying the object removes the folder with everything in it. Any thread;
// one object belongs to one run.
class TranscriptionWorkingFolder {
  public:
    static constexpr std::string_view prefix = "TavrolinTranscription-";

    // Makes the root (mode 0700) when missing and the folder in it. Throws
    // std::filesystem::filesystem_error.
    explicit TranscriptionWorkingFolder(const std::filesystem::path& root);
    ~TranscriptionWorkingFolder();
    TranscriptionWorkingFolder(const TranscriptionWorkingFolder&) = delete;
    TranscriptionWorkingFolder& operator=(const TranscriptionWorkingFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Removes the folders of earlier runs in `root` that ended without cleaning up: entries
    // named with the prefix that are real folders (a symbolic link is never followed) and whose
    // lock can be taken, so a running transcription of another instance keeps its audio.
    // Hidden entries and files are left; every failure is ignored.
    static void removeAbandoned(const std::filesystem::path& root);

  private:
    std::filesystem::path path_;
    int lockDescriptor_ = -1;
};

}  // namespace tavrolin
