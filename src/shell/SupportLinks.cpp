#include "shell/SupportLinks.h"

#include <sys/utsname.h>

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>

namespace tavrolin {

namespace {

QString fallbackIfEmpty(const std::optional<QString>& value, const char* fallback) {
    if (!value || value->isEmpty()) {
        return QString::fromLatin1(fallback);
    }
    return *value;
}

// Query values are percent-encoded like URL components do for query items, and in addition
// '&', '=', '+' and '#' so that no text can break out of its item.
QByteArray encodeQueryValue(const QString& value) {
    return QUrl::toPercentEncoding(value, "!$'()*,;:@/?");
}

// One os-release value: unquoted, or in single or double quotes with backslash escapes.
QString unquote(QString value) {
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front()) {
        const QChar quote = value.front();
        value = value.mid(1, value.size() - 2);
        if (quote == u'"') {
            QString plain;
            for (qsizetype i = 0; i < value.size(); ++i) {
                if (value[i] == u'\\' && i + 1 < value.size()) {
                    ++i;
                }
                plain.append(value[i]);
            }
            return plain;
        }
    }
    return value;
}

}  // namespace

const QUrl& supportPageURL() {
    static const QUrl url(QStringLiteral("https://tavrolin.app/support"));
    return url;
}

QString supportEmailAddress() {
    return QStringLiteral("support@tavrolin.app");
}

FeedbackFacts currentFeedbackFacts() {
    return FeedbackFacts{QStringLiteral(TAVROLIN_VERSION), QStringLiteral(TAVROLIN_BUILD),
                         operatingSystemText()};
}

QUrl makeFeedbackMailURL() {
    return makeFeedbackMailURL(currentFeedbackFacts());
}

QUrl makeFeedbackMailURL(const FeedbackFacts& facts) {
    const QString body =
        QStringLiteral("Please describe what happened and what you expected.\n\n\n---\nTavrolin ") +
        fallbackIfEmpty(facts.version, "Development") + QStringLiteral(" (") +
        fallbackIfEmpty(facts.build, "Unknown") + QStringLiteral(")\n") + facts.operatingSystem;
    const QByteArray encoded = "mailto:" + supportEmailAddress().toUtf8() +
                               "?subject=" + encodeQueryValue(QStringLiteral("Tavrolin Feedback")) +
                               "&body=" + encodeQueryValue(body);
    return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}

QString linkNotOpenedText(const QUrl& url) {
    if (url.scheme() == QStringLiteral("mailto")) {
        return QStringLiteral("No mail program opened a new message. Send your feedback to ") +
               url.path() + QStringLiteral(".");
    }
    if (url.isLocalFile()) {
        const QString path = url.toLocalFile();
        return QStringLiteral("No file manager opened the folder \u201C") +
               QFileInfo(path).fileName() + QStringLiteral("\u201D. Open it yourself at ") + path +
               QStringLiteral(".");
    }
    return QStringLiteral("No web browser opened the support page. Its address is ") +
           url.toString(QUrl::FullyEncoded) + QStringLiteral(".");
}

void openSupportLink(const QUrl& url, const std::function<bool(const QUrl&)>& open,
                     QWidget* parent) {
    if (open && !open(url)) {
        showLinkNotOpened(url, parent);
    }
}

void showLinkNotOpened(const QUrl& url, QWidget* parent) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Tavrolin"),
                                linkNotOpenedText(url), QMessageBox::Ok, parent);
    box->setObjectName(QStringLiteral("linkNotOpened"));
    box->setTextFormat(Qt::PlainText);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString operatingSystemText(const QString& osReleaseContents, const QString& kernelRelease) {
    QString name;
    for (const QString& line : osReleaseContents.split(u'\n')) {
        if (line.startsWith(QStringLiteral("PRETTY_NAME="))) {
            name = unquote(line.mid(int(sizeof("PRETTY_NAME=")) - 1));
        }
    }
    if (name.isEmpty()) {
        name = QStringLiteral("Linux");
    }
    if (kernelRelease.isEmpty()) {
        return name;
    }
    return name + u' ' + kernelRelease;
}

QString operatingSystemText() {
    QString contents;
    for (const char* candidate : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile file(QString::fromLatin1(candidate));
        if (file.open(QIODevice::ReadOnly)) {
            contents = QString::fromUtf8(file.readAll());
            break;
        }
    }
    struct utsname system {};
    QString kernel;
    if (uname(&system) == 0) {
        kernel = QString::fromUtf8(system.release);
    }
    return operatingSystemText(contents, kernel);
}

}  // namespace tavrolin
