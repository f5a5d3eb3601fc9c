#include "widgets/AppStyle.h"

#include <QHostInfo>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QUrl>

#include "widgets/SymbolIcons.h"

namespace tavrolin {

QFont fontFor(TextStyle style, QFont::Weight weight) {
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    switch (style) {
        case TextStyle::body:
            break;
        case TextStyle::title2:
            font.setPointSizeF(base * 1.35);
            break;
        case TextStyle::headline:
            if (weight == QFont::Normal) {
                weight = QFont::DemiBold;
            }
            break;
        case TextStyle::callout:
            font.setPointSizeF(base * 0.93);
            break;
        case TextStyle::caption:
            font.setPointSizeF(base * 0.85);
            break;
    }
    font.setWeight(weight);
    return font;
}

QColor secondaryTextColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.6f);
    return color;
}

QColor accentColor(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

void drawFocusMark(QPainter& painter, const QRectF& rect, const QPalette& palette,
                   bool overAccent) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(overAccent ? QColor(Qt::white) : accentColor(palette), 2));
    painter.drawRoundedRect(rect, 6, 6);
    painter.restore();
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label->setPalette(palette);
}

QString toQString(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

std::filesystem::path toPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QLabel* plainTextLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* secondaryLabel(const QString& text, TextStyle style) {
    auto* label = plainTextLabel(text);
    label->setFont(fontFor(style));
    setTextColor(label, secondaryTextColor(label->palette()));
    return label;
}

QFrame* dividerLine(QFrame::Shape shape) {
    auto* divider = new QFrame;
    divider->setFrameShape(shape);
    divider->setFrameShadow(QFrame::Sunken);
    return divider;
}

void addSearchIcon(QLineEdit* field) {
    QAction* icon =
        field->addAction(symbolIcon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    icon->setText(QStringLiteral("Search"));
    QObject::connect(icon, &QAction::triggered, field, [field] {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    });
}

void prepareLongList(QListView* list) {
    list->setUniformItemSizes(true);
    // Thousands of rows are laid out a hundred at a time, not in one pass on the GUI thread.
    list->setLayoutMode(QListView::Batched);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFocusPolicy(Qt::NoFocus);
    list->setFrameShape(QFrame::NoFrame);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list->viewport()->setAutoFillBackground(false);
}

QString plainToolTip(const QString& text) {
    if (text.isEmpty()) {
        return {};
    }
    return QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString withLongWordsShortened(const QString& text, int longest) {
    QStringList words = text.split(u' ');
    const int kept = std::max(1, (longest - 1) / 2);
    for (QString& word : words) {
        if (word.size() > longest) {
            word = word.left(kept) + QStringLiteral("\u2026") + word.right(kept);
        }
    }
    return words.join(u' ');
}

std::optional<std::filesystem::path> localFilePath(const QUrl& url) {
    if (url.scheme().compare(u"file", Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(u"localhost", Qt::CaseInsensitive) != 0 &&
        host.compare(QHostInfo::localHostName(), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return std::filesystem::path(bytes.toStdString());
}

}  // namespace tavrolin
