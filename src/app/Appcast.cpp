#include "app/Appcast.h"

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

int compareVersions(const QString& left, const QString& right) {
    const QStringList a = left.trimmed().split(u'.');
    const QStringList b = right.trimmed().split(u'.');
    const qsizetype count = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QString x = i < a.size() ? a[i] : QStringLiteral("0");
        const QString y = i < b.size() ? b[i] : QStringLiteral("0");
        bool xNumber = false;
        bool yNumber = false;
        const qulonglong xValue = x.toULongLong(&xNumber);
        const qulonglong yValue = y.toULongLong(&yNumber);
        int order = 0;
        if (xNumber && yNumber) {
            order = xValue < yValue ? -1 : (xValue > yValue ? 1 : 0);
        } else {
            order = QString::compare(x, y);
        }
        if (order != 0) {
            return order < 0 ? -1 : 1;
        }
    }
    return 0;
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
