#pragma once

#include <QColor>
#include <QString>
#include <optional>
#include <string>

class QLabel;
class QVBoxLayout;
class QWidget;

namespace tavrolin {

// One status message of the remux page: a small tinted symbol beside caption text (plain
// text), shown only while there is a text. GUI thread only; the widgets belong to the layout's
// parent.
struct RemuxStatusLine {
    QWidget* row = nullptr;
    QLabel* icon = nullptr;
    QLabel* text = nullptr;

    // A hidden line named `name`, added to the end of `layout`.
    static RemuxStatusLine make(const QString& name, QVBoxLayout* layout);
    // Shows `text` with the symbol and colour, or hides the line without a text.
    void show(const std::optional<std::string>& shown, const QString& symbol, const QColor& color);
};

}  // namespace tavrolin
