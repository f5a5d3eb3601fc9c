#include "widgets/SymbolLabel.h"

#include <QHBoxLayout>
#include <QLabel>

#include "widgets/SymbolIcons.h"
#include "widgets/WrappingLabel.h"

namespace tavrolin {

QWidget* symbolLabel(const QString& symbol, const QString& text, QLabel** textLabel,
                     TextStyle style) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel;
    const QFont font = fontFor(style);
    const int size = QFontMetrics(font).height();
    icon->setPixmap(symbolIcon(symbol).pixmap(size, size));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* label = new WrappingLabel(text);
    label->setFont(font);
    setTextColor(label, secondaryTextColor(row->palette()));
    layout->addWidget(label, 1);
    if (textLabel) {
        *textLabel = label;
    }
    return row;
}

}  // namespace tavrolin
