#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>

namespace tavrolin {

// What a name typed in a save dialog chooses, worked out without asking the file system: the
// file in `folder` (or the absolute path, "~/" standing for `home`), with `defaultSuffix`
// added to a name that has no point (`asTyped` is the path without it); a name ending in "/" is
// a folder to open instead.
struct TypedSavePath {
    std::filesystem::path path;
    bool opensFolder = false;
    std::filesystem::path asTyped;
};
TypedSavePath typedSavePath(const std::filesystem::path& folder, const QString& typed,
                            const std::filesystem::path& home, const QString& defaultSuffix);

// The names of the multiple-choice text a dialog writes for several files (`"a.mp4" "b.mp4"`);
// none when the text is not such a list of two or more.
std::optional<QStringList> quotedNames(const QString& text);

}  // namespace tavrolin
