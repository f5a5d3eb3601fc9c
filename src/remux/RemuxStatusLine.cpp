#include "remux/RemuxStatusLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QVariant>

#include "app/AppStyle.h"
#include "remux/RemuxSymbols.h"

namespace tavrolin {

RemuxStatusLine RemuxStatusLine::make(const QString& name, QVBoxLayout* layout) {
    RemuxStatusLine line;
    line.row = new QWidget;
    line.row->setObjectName(name);
    auto* row = new QHBoxLayout(line.row);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    line.icon = new QLabel;
    line.icon->setObjectName(QStringLiteral("icon"));
    row->addWidget(line.icon, 0, Qt::AlignTop);
    line.text = new QLabel;
    line.text->setObjectName(QStringLiteral("text"));
    line.text->setTextFormat(Qt::PlainText);
    line.text->setWordWrap(true);
    line.text->setFont(fontFor(TextStyle::caption));
    row->addWidget(line.text, 1);
    line.row->hide();
    layout->addWidget(line.row);
    return line;
}

void RemuxStatusLine::show(const std::optional<std::string>& shown, const QString& symbol,
                           const QColor& color) {
    row->setVisible(shown.has_value());
    if (!shown) {
        return;
    }
    const QString value = QString::fromStdString(*shown);
    if (text->text() != value) {
        text->setText(value);
    }
    if (row->property("symbol").toString() != symbol ||
        row->property("color").value<QColor>() != color) {
        row->setProperty("symbol", symbol);
        row->setProperty("color", color);
        icon->setPixmap(remuxSymbolPixmap(symbol, color, 12));
        setTextColor(text, color);
    }
}

}  // namespace tavrolin
