#include "widgets/TypedPaths.h"

#include <QRegularExpression>

#include "widgets/AppStyle.h"

namespace tavrolin {

namespace fs = std::filesystem;

TypedSavePath typedSavePath(const fs::path& folder, const QString& typed, const fs::path& home,
                            const QString& defaultSuffix) {
    const QString text = typed;
    fs::path path;
    if (text == QStringLiteral("~") || text.startsWith(QStringLiteral("~/"))) {
        path = home / toPath(text.mid(2));
    } else {
        const fs::path name = toPath(text);
        path = name.is_absolute() ? name : folder / name;
    }
    path = path.lexically_normal();
    if (text.endsWith(u'/') || text == QStringLiteral("~")) {
        return {path, true, path};
    }
    const fs::path asTyped = path;
    // Qt's own rule: a name with no point at all gets the suffix.
    if (!defaultSuffix.isEmpty() && !toQString(path.filename()).contains(u'.')) {
        path += "." + defaultSuffix.toStdString();
    }
    return {path, false, asTyped};
}

std::optional<QStringList> quotedNames(const QString& text) {
    static const QRegularExpression list(QStringLiteral(R"re(^\s*"[^"]+"(\s+"[^"]+")+\s*$)re"));
    if (!list.match(text).hasMatch()) {
        return std::nullopt;
    }
    static const QRegularExpression name(QStringLiteral(R"re("([^"]+)")re"));
    QStringList names;
    for (auto match = name.globalMatch(text); match.hasNext();) {
        names << match.next().captured(1);
    }
    return names;
}

}  // namespace tavrolin
