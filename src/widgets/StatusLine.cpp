#include "widgets/StatusLine.h"

#include <QHBoxLayout>
#include <QLabel>

#include "widgets/AppStyle.h"
#include "widgets/RemuxSymbols.h"
#include "widgets/WrappingLabel.h"

namespace tavrolin {

StatusLine::StatusLine(const QString& name, QWidget* parent)
    : QWidget(parent), icon_(new QLabel), text_(new WrappingLabel) {
    setObjectName(name);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    icon_->setObjectName(QStringLiteral("icon"));
    row->addWidget(icon_, 0, Qt::AlignTop);
    text_->setObjectName(QStringLiteral("text"));
    // A long file name in the sentence is cut short in its middle, so the sentence stays whole
    // in a few lines; past six the sentence is elided. The tooltip holds it as it is.
    text_->setMaximumLineCount(6);
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
    const QString sentence = QString::fromStdString(*text);
    if (sentence_ != sentence) {
        sentence_ = sentence;
        text_->setText(withLongWordsShortened(sentence));
        text_->setToolTip(plainToolTip(sentence));
    }
    if (property("symbol").toString() != symbol || property("color").value<QColor>() != color) {
        setProperty("symbol", symbol);
        setProperty("color", color);
        icon_->setPixmap(remuxSymbolPixmap(symbol, color, 12));
        setTextColor(text_, color);
    }
}

QString StatusLine::text() const {
    return sentence_;
}

}  // namespace tavrolin
