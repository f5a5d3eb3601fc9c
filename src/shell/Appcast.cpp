#include "shell/Appcast.h"

#include <QStringList>
#include <QXmlStreamReader>
#include <stdexcept>

namespace tavrolin {

QString AppcastItem::displayVersion() const {
    return shortVersionString.isEmpty() ? version : shortVersionString;
}

namespace {

// The page is opened with the desktop's default handler, so a feed may name only web pages: a
// file, a mail or an application link from the network is dropped.
QUrl webPage(const QString& text) {
    const QUrl url(text.trimmed());
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != u"https" && url.scheme() != u"http")) {
        return {};
    }
    return url;
}

}  // namespace

std::vector<AppcastItem> parseAppcast(const QByteArray& document) {
    std::vector<AppcastItem> items;
    QXmlStreamReader reader(document);
    std::optional<AppcastItem> item;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            const auto name = reader.name();
            if (name == u"item") {
                item.emplace();
            } else if (item && name == u"enclosure") {
                const auto attributes = reader.attributes();
                for (const auto& attribute : attributes) {
                    const auto local = attribute.name();
                    const QString value = attribute.value().toString();
                    if (local == u"url") {
                        item->enclosureURL = QUrl(value.trimmed());
                    } else if (local == u"length") {
                        item->enclosureLength = value.toLongLong();
                    } else if (local == u"version" && item->version.isEmpty()) {
                        item->version = value.trimmed();
                    } else if (local == u"shortVersionString" &&
                               item->shortVersionString.isEmpty()) {
                        item->shortVersionString = value.trimmed();
                    }
                }
            } else if (item && name == u"title") {
                item->title = reader.readElementText().trimmed();
            } else if (item && name == u"version") {
                item->version = reader.readElementText().trimmed();
            } else if (item && name == u"shortVersionString") {
                item->shortVersionString = reader.readElementText().trimmed();
            } else if (item && (name == u"releaseNotesLink" || name == u"fullReleaseNotesLink" ||
                                (name == u"link" && item->releaseNotesURL.isEmpty()))) {
                item->releaseNotesURL = webPage(reader.readElementText());
            }
        } else if (reader.isEndElement() && reader.name() == u"item" && item) {
            if (!item->displayVersion().isEmpty()) {
                items.push_back(std::move(*item));
            }
            item.reset();
        }
    }
    if (reader.hasError()) {
        throw std::runtime_error("The update feed could not be read: " +
                                 reader.errorString().toStdString());
    }
    return items;
}

namespace {

// "1.2.3b4" as the numbers {1, 2, 3} and the suffix "b4": each dotted part adds its leading
// number, and the first part that holds more ends the numbers.
struct VersionKey {
    std::vector<qulonglong> numbers;
    QString suffix;
};

VersionKey versionKey(const QString& version) {
    VersionKey key;
    const QString text = version.trimmed();
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = at;
        while (end < text.size() && text[end].isDigit() && text[end].unicode() < 128) {
            ++end;
        }
        if (end == at) {
            break;
        }
        key.numbers.push_back(text.mid(at, end - at).toULongLong());
        if (end + 1 < text.size() && text[end] == u'.' && text[end + 1].isDigit()) {
            at = end + 1;
            continue;
        }
        at = end;
        break;
    }
    key.suffix = text.mid(at);
    while (!key.numbers.empty() && key.numbers.back() == 0) {
        key.numbers.pop_back();  // "1.2" == "1.2.0"
    }
    return key;
}

}  // namespace

int compareVersions(const QString& left, const QString& right) {
    const VersionKey a = versionKey(left);
    const VersionKey b = versionKey(right);
    if (a.numbers != b.numbers) {
        return a.numbers < b.numbers ? -1 : 1;
    }
    const int order = QString::compare(a.suffix, b.suffix);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::optional<AppcastItem> newerRelease(const std::vector<AppcastItem>& items,
                                        const QString& currentVersion) {
    std::optional<AppcastItem> best;
    for (const AppcastItem& item : items) {
        if (compareVersions(item.displayVersion(), currentVersion) <= 0) {
            continue;
        }
        if (!best || compareVersions(item.displayVersion(), best->displayVersion()) > 0) {
            best = item;
        }
    }
    return best;
}

}  // namespace tavrolin
