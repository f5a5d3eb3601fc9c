#pragma once

#include <QFrame>

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRectF>
#include <QString>
#include <filesystem>

class QLabel;
class QLineEdit;
class QListView;
class QPainter;
class QUrl;

namespace tavrolin {

// Text styles of the interface, derived from the application font.
enum class TextStyle { body, title2, headline, callout, caption };

QFont fontFor(TextStyle style, QFont::Weight weight = QFont::Normal);
// Secondary text: the window text colour at reduced strength.
QColor secondaryTextColor(const QPalette& palette);
// The accent (tint) colour.
QColor accentColor(const QPalette& palette);
// The keyboard focus mark of a painted control: a rounded ring inside `rect`, in the accent
// colour, or white over an accent fill.
void drawFocusMark(QPainter& painter, const QRectF& rect, const QPalette& palette,
                   bool overAccent = false);
// Sets a label's text colour through its palette.
void setTextColor(QLabel* label, const QColor& color);
// A tooltip that shows `text` literally: Qt would otherwise guess rich text from a name such as
// "<b>cut</b>.mkv". Empty text gives no tooltip.
QString plainToolTip(const QString& text);

// `text` with each word longer than `longest` characters (a long file name) cut short in its
// middle with "…", so that a sentence naming it wraps in a few lines; show the whole text in a
// tooltip beside it.
QString withLongWordsShortened(const QString& text, int longest = 40);

// A label that shows `text` literally (file names, cue texts, tool messages).
QLabel* plainTextLabel(const QString& text = {});
// A plain-text label in the secondary colour: counts, notes, hints and paths.
QLabel* secondaryLabel(const QString& text = {}, TextStyle style = TextStyle::caption);
// A sunken separator line (QFrame::HLine or QFrame::VLine).
QFrame* dividerLine(QFrame::Shape shape);

// The magnifying glass at the start of a search field: a button named "Search" that puts the
// focus in the field, so a screen reader meets no nameless button.
void addSearchIcon(QLineEdit* field);

// Sets up a list view for rows painted by a delegate that may number thousands: uniform rows laid
// out in batches, no selection, no frame, transparent behind the rows.
void prepareLongList(QListView* list);

// Paths cross the Qt edge as bytes, never through a guessed encoding.
QString toQString(const std::filesystem::path& path);
std::filesystem::path toPath(const QString& text);
// The path of a local file URL with its bytes as they were sent: a name that is not UTF-8 (which
// QUrl keeps percent-encoded) still names the same file. A file URL naming this machine's host
// is local; none for another host or another scheme.
std::optional<std::filesystem::path> localFilePath(const QUrl& url);

}  // namespace tavrolin
