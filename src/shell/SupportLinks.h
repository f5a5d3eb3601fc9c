#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QWidget;

namespace tavrolin {

// The support web page, opened by the help menu and the settings window.
const QUrl& supportPageURL();
// The one address feedback mail goes to; the settings window shows it too.
QString supportEmailAddress();

// What the feedback mail's body names. Missing or empty values fall back to "Development" and
// "Unknown".
struct FeedbackFacts {
    std::optional<QString> version;
    std::optional<QString> build;
    QString operatingSystem;
};

// The running application's facts: the project version and build, and operatingSystemText().
FeedbackFacts currentFeedbackFacts();

// mailto link with subject "Tavrolin Feedback" and a body naming version, build and system.
QUrl makeFeedbackMailURL();
QUrl makeFeedbackMailURL(const FeedbackFacts& facts);

// What to say when no program on this computer opened `url` (no browser, no mail program, no
// file manager for a folder), with the address or path to use instead.
QString linkNotOpenedText(const QUrl& url);
// A box over `parent` (named "linkNotOpened", its text selectable for copying) that says so.
// Returns at once.
void showLinkNotOpened(const QUrl& url, QWidget* parent);
// Opens `url` through `open`; when that reports that nothing opened it, shows the box.
void openSupportLink(const QUrl& url, const std::function<bool(const QUrl&)>& open,
                     QWidget* parent);

// PRETTY_NAME of os-release followed by the kernel release ("Debian GNU/Linux 12 (bookworm)
// 6.1.0-18-amd64").
QString operatingSystemText();
QString operatingSystemText(const QString& osReleaseContents, const QString& kernelRelease);

}  // namespace tavrolin
