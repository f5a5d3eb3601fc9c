#include "app/AppStyle.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

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

QVBoxLayout* makeScrollingColumn(QWidget* host, int maximumWidth) {
    auto* outer = new QVBoxLayout(host);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("scroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* page = new QWidget;
    auto* centring = new QHBoxLayout(page);
    centring->setContentsMargins(0, 0, 0, 0);
    // The page grows with its content at once: a page that lags behind squeezes every section
    // until the scroll area catches up, which relayouts them all.
    centring->setSizeConstraint(QLayout::SetMinimumSize);
    auto* columnWidget = new QWidget;
    columnWidget->setObjectName(QStringLiteral("column"));
    columnWidget->setMaximumWidth(maximumWidth);
    centring->addStretch(0);
    centring->addWidget(columnWidget, 1);
    centring->addStretch(0);
    auto* column = new QVBoxLayout(columnWidget);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(20);
    scroll->setWidget(page);
    return column;
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

std::filesystem::path localFilePath(const QUrl& url) {
    if (!url.host().isEmpty() && url.host() != u"localhost") {
        return toPath(url.toLocalFile());
    }
    const QByteArray bytes =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    return std::filesystem::path(bytes.toStdString());
}

}  // namespace tavrolin
