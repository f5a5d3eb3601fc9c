#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace tavrolin {

// The fixed tints the interface uses for status and emphasis.
namespace tint {
QColor orange();
QColor green();
QColor red();
QColor blue();
}  // namespace tint

// The freedesktop icon-theme name standing in for a symbol, or empty when the theme has none.
QString themeIconName(const QString& symbol);

// The icon for a symbol: the icon theme's when it has one, else the bundled drawing tinted with
// the palette's text colour (white when selected). Unknown symbols give a null icon.
QIcon symbolIcon(const QString& symbol);

// A status glyph in a fixed colour: always the bundled drawing, tinted.
QIcon tintedSymbolIcon(const QString& symbol, const QColor& color);

// Whether a drawing for the symbol is bundled with the application.
bool hasBundledSymbol(const QString& symbol);

}  // namespace tavrolin
