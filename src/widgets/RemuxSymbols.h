#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace tavrolin {

// Symbol drawings for the remux widgets, rendered once per symbol, colour and size: hundreds of
// cards share them. Empty when no drawing is bundled for the symbol.
QPixmap remuxSymbolPixmap(const QString& symbol, const QColor& color, int size);
// The themed icon for a symbol (see symbolIcon), looked up once.
QIcon remuxSymbolIcon(const QString& symbol);

}  // namespace tavrolin
