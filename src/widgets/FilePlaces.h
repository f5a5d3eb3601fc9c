#pragma once

#include <QString>

#include <filesystem>
#include <string_view>
#include <vector>

namespace tavrolin {

// A folder the file dialog offers beside the listing: home, the desktop's user folders, mounted
// drives and the user's bookmarks.
struct FilePlace {
    enum class Kind { home, userFolder, drive, bookmark };
    Kind kind = Kind::home;
    QString label;
    std::filesystem::path path;

    friend bool operator==(const FilePlace&, const FilePlace&) = default;
};

// The user folders named in user-dirs.dirs ("XDG_VIDEOS_DIR=\"$HOME/Videos\""), in the desktop's
// order (desktop, documents, downloads, music, pictures, videos); a folder set to home itself
// means the user has none, and is left out.
std::vector<FilePlace> userFolderPlaces(std::string_view userDirs,
                                        const std::filesystem::path& home);

// The drives a user mounted or plugged in, from /proc/self/mountinfo: mounts under /media,
// /run/media and /mnt, and network file systems anywhere but the system's own folders.
std::vector<FilePlace> drivePlaces(std::string_view mountInfo);

// The bookmarks of GTK's bookmarks file: one "file://" URL a line, a label after a space.
std::vector<FilePlace> bookmarkPlaces(std::string_view bookmarks);

// Where the places come from; `configHome` is $XDG_CONFIG_HOME or ~/.config.
struct FilePlaceSources {
    std::filesystem::path home;
    std::filesystem::path configHome;
    std::filesystem::path mountInfo = "/proc/self/mountinfo";

    // From the environment; asks the file system nothing.
    static FilePlaceSources standard();
};

// Every place, home first. Reads three small files: any thread but the GUI thread (home may lie
// on a slow mount). A file that cannot be read adds nothing.
std::vector<FilePlace> readFilePlaces(const FilePlaceSources& sources);

}  // namespace tavrolin
