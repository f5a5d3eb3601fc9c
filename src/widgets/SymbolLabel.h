#pragma once

#include <QString>

#include "widgets/AppStyle.h"

class QLabel;
class QWidget;

namespace tavrolin {

// A symbol followed by plain text in the secondary colour, the text wrapping; `text` receives
// the text label when given.
QWidget* symbolLabel(const QString& symbol, const QString& text, QLabel** textLabel = nullptr,
                     TextStyle style = TextStyle::caption);

}  // namespace tavrolin
