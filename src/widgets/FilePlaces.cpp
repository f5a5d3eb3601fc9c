#include "widgets/FilePlaces.h"

#include <QDir>
#include <QUrl>

#include <array>
#include <fstream>
#include <sstream>

#include "widgets/AppStyle.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> result;
    while (!text.empty()) {
        const auto end = text.find('\n');
        result.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return result;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Mount points write space, tab, newline and backslash as octal escapes ("\040").
std::string unescapedMountPath(std::string_view field) {
    std::string path;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                path += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                          (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        path += field[i];
    }
    return path;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start < line.size()) {
        const auto end = line.find(' ', start);
        if (end != start) {
            result.push_back(line.substr(start, end - start));
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return result;
}

bool isUnder(const std::string& path, std::string_view folder) {
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

bool isNetworkFileSystem(std::string_view type) {
    static constexpr std::array<std::string_view, 8> types{
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "fuse.rclone", "davfs"};
    return std::find(types.begin(), types.end(), type) != types.end();
}

std::string fileText(const fs::path& file) {
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

QString lastName(const fs::path& path) {
    const fs::path name = path.filename();
    return name.empty() ? toQString(path) : toQString(name);
}

}  // namespace

std::vector<FilePlace> userFolderPlaces(std::string_view userDirs, const fs::path& home) {
    static constexpr std::array<std::string_view, 6> order{"DESKTOP", "DOCUMENTS", "DOWNLOAD",
                                                           "MUSIC",   "PICTURES",  "VIDEOS"};
    std::array<std::optional<fs::path>, order.size()> found;
    for (std::string_view line : lines(userDirs)) {
        line = trimmed(line);
        if (!line.starts_with("XDG_") || line.starts_with('#')) {
            continue;
        }
        const auto equals = line.find("_DIR=");
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(4, equals - 4);
        std::string_view value = trimmed(line.substr(equals + 5));
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
            continue;
        }
        value = value.substr(1, value.size() - 2);
        fs::path path;
        if (value.starts_with("$HOME")) {
            path = home / fs::path(std::string(value.substr(5))).relative_path();
        } else if (value.starts_with('/')) {
            path = std::string(value);
        } else {
            continue;
        }
        path = path.lexically_normal();
        if (path.has_relative_path() && path.filename().empty()) {
            path = path.parent_path();
        }
        if (path == home.lexically_normal()) {
            continue;
        }
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (order[i] == key) {
                found[i] = path;
            }
        }
    }
    std::vector<FilePlace> places;
    for (const auto& path : found) {
        if (path) {
            places.push_back({FilePlace::Kind::userFolder, lastName(*path), *path});
        }
    }
    return places;
}

std::vector<FilePlace> drivePlaces(std::string_view mountInfo) {
    std::vector<FilePlace> places;
    for (const std::string_view line : lines(mountInfo)) {
        // id parent major:minor root mount-point options [optional…] - type source options
        const auto parts = fields(line);
        const auto separator = std::find(parts.begin(), parts.end(), "-");
        if (parts.size() < 5 || separator == parts.end() || separator + 1 == parts.end()) {
            continue;
        }
        const std::string point = unescapedMountPath(parts[4]);
        const std::string_view type = *(separator + 1);
        const bool userMount =
            isUnder(point, "/media") || isUnder(point, "/run/media") || isUnder(point, "/mnt");
        const bool systemFolder = point == "/" || isUnder(point, "/proc") ||
                                  isUnder(point, "/sys") || isUnder(point, "/run") ||
                                  isUnder(point, "/dev") || isUnder(point, "/boot");
        if (!userMount && !(isNetworkFileSystem(type) && !systemFolder)) {
            continue;
        }
        const fs::path path(point);
        const bool known = std::any_of(places.begin(), places.end(),
                                       [&](const FilePlace& place) { return place.path == path; });
        if (!known) {
            places.push_back({FilePlace::Kind::drive, lastName(path), path});
        }
    }
    return places;
}

std::vector<FilePlace> bookmarkPlaces(std::string_view bookmarks) {
    std::vector<FilePlace> places;
    for (std::string_view line : lines(bookmarks)) {
        line = trimmed(line);
        const auto space = line.find(' ');
        const std::string_view address = line.substr(0, space);
        if (!address.starts_with("file://")) {
            continue;  // other locations (sftp:, smb:) need the desktop's own services
        }
        const QUrl url = QUrl::fromEncoded(QByteArray(address.data(), address.size()));
        if (!url.isValid() || !url.isLocalFile()) {
            continue;
        }
        const fs::path path = toPath(url.toLocalFile());
        const QString label = space == std::string_view::npos
                                  ? QString()
                                  : QString::fromUtf8(trimmed(line.substr(space + 1)));
        places.push_back(
            {FilePlace::Kind::bookmark, label.isEmpty() ? lastName(path) : label, path});
    }
    return places;
}

FilePlaceSources FilePlaceSources::standard() {
    FilePlaceSources sources;
    sources.home = toPath(QDir::homePath());
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is to be ignored, as XDG's base-directory rules say.
    sources.configHome =
        configHome.startsWith(u'/') ? toPath(configHome) : sources.home / ".config";
    return sources;
}

std::vector<FilePlace> readFilePlaces(const FilePlaceSources& sources) {
    std::vector<FilePlace> places{{FilePlace::Kind::home, QStringLiteral("Home"), sources.home}};
    for (auto&& place :
         userFolderPlaces(fileText(sources.configHome / "user-dirs.dirs"), sources.home)) {
        places.push_back(std::move(place));
    }
    for (auto&& place : drivePlaces(fileText(sources.mountInfo))) {
        places.push_back(std::move(place));
    }
    for (auto&& place : bookmarkPlaces(fileText(sources.configHome / "gtk-3.0" / "bookmarks"))) {
        places.push_back(std::move(place));
    }
    return places;
}

}  // namespace tavrolin
