#pragma once

#include <QColor>
#include <QWidget>

#include <optional>
#include <string>

class QLabel;

namespace tavrolin {

class WrappingLabel;

// One status sentence in the caption font after a tinted symbol, hidden while there is no
// sentence. The text is plain (it may name files); a long name in it is shown cut short, the
// sentence whole in the tooltip. The row carries the shown symbol and colour
// as the properties "symbol" and "color". GUI thread only.
class StatusLine : public QWidget {
    Q_OBJECT
  public:
    explicit StatusLine(const QString& name, QWidget* parent = nullptr);

    // Shows the text with the symbol in the colour (text included); hides the row without text.
    void setStatus(const std::optional<std::string>& text, const QString& symbol,
                   const QColor& color);

    // The sentence as given, long names whole.
    QString text() const;

  private:
    QString sentence_;
    QLabel* icon_;
    WrappingLabel* text_;
};

}  // namespace tavrolin
