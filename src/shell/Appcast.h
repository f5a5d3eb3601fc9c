#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

namespace tavrolin {

// One release in the update feed (an RSS item).
struct AppcastItem {
    QString title;
    QString version;             // build number ("45")
    QString shortVersionString;  // version shown to people ("1.2.3")
    QUrl releaseNotesURL;        // the release's page; only ever an http(s) address
    QUrl enclosureURL;           // the file to download; may be empty
    qint64 enclosureLength = 0;

    // The version releases are compared by: the short version, else the build number.
    QString displayVersion() const;
};

// Parses an RSS appcast. Items without any version are skipped. Throws std::runtime_error with
// a readable message when the document is not well-formed XML.
std::vector<AppcastItem> parseAppcast(const QByteArray& document);

// Compares dotted versions: the numbers first, part by part ("1.10" > "1.9", "1.2" == "1.2.0"),
// then whatever follows the last number ("1.1" < "1.1b" < "1.2") as text. A total order, so the
// newest release never depends on the feed's order. Negative, zero or positive like strcmp.
int compareVersions(const QString& left, const QString& right);

// The item with the highest version above `currentVersion`, if any.
std::optional<AppcastItem> newerRelease(const std::vector<AppcastItem>& items,
                                        const QString& currentVersion);

}  // namespace tavrolin
