#include "widgets/StatusLine.h"

#include <QHBoxLayout>
#include <QLabel>

#include "widgets/AppStyle.h"
#include "widgets/RemuxSymbols.h"

namespace tavrolin {

StatusLine::StatusLine(const QString& name, QWidget* parent)
    : QWidget(parent), icon_(new QLabel), text_(new QLabel) {
    setObjectName(name);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    icon_->setObjectName(QStringLiteral("icon"));
    row->addWidget(icon_, 0, Qt::AlignTop);
    text_->setObjectName(QStringLiteral("text"));
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setFont(fontFor(TextStyle::caption));
    row->addWidget(text_, 1);
    hide();
}

void StatusLine::setStatus(const std::optional<std::string>& text, const QString& symbol,
                           const QColor& color) {
    setVisible(text.has_value());
    if (!text) {
        return;
    }
    const QString shown = QString::fromStdString(*text);
    if (text_->text() != shown) {
        text_->setText(shown);
    }
    if (property("symbol").toString() != symbol || property("color").value<QColor>() != color) {
        setProperty("symbol", symbol);
        setProperty("color", color);
        icon_->setPixmap(remuxSymbolPixmap(symbol, color, 12));
        setTextColor(text_, color);
    }
}

QString StatusLine::text() const {
    return text_->text();
}

}  // namespace tavrolin
