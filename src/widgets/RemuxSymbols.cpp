#include "widgets/RemuxSymbols.h"

#include <QHash>

#include "widgets/SymbolIcons.h"

namespace tavrolin {

QPixmap remuxSymbolPixmap(const QString& symbol, const QColor& color, int size) {
    static QHash<QString, QPixmap> cache;
    const QString key = symbol + QLatin1Char('|') + color.name(QColor::HexArgb) + QLatin1Char('|') +
                        QString::number(size);
    if (auto found = cache.constFind(key); found != cache.constEnd()) {
        return *found;
    }
    QPixmap pixmap;
    if (hasBundledSymbol(symbol)) {
        pixmap = tintedSymbolIcon(symbol, color).pixmap(QSize(size, size));
    }
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon remuxSymbolIcon(const QString& symbol) {
    static QHash<QString, QIcon> cache;
    if (auto found = cache.constFind(symbol); found != cache.constEnd()) {
        return *found;
    }
    QIcon icon;
    if (hasBundledSymbol(symbol) || !themeIconName(symbol).isEmpty()) {
        icon = symbolIcon(symbol);
    }
    cache.insert(symbol, icon);
    return icon;
}

}  // namespace tavrolin
