#pragma once

#include <QColor>
#include <QWidget>

#include <optional>
#include <string>

class QLabel;

namespace tavrolin {

class WrappingLabel;

// One status sentence in the caption font after a tinted symbol, hidden while there is no
// sentence. The text is plain (it may name files). The row carries the shown symbol and colour
// as the properties "symbol" and "color". GUI thread only.
class StatusLine : public QWidget {
    Q_OBJECT
  public:
    explicit StatusLine(const QString& name, QWidget* parent = nullptr);

    // Shows the text with the symbol in the colour (text included); hides the row without text.
    void setStatus(const std::optional<std::string>& text, const QString& symbol,
                   const QColor& color);

    QString text() const;

  private:
    QLabel* icon_;
    WrappingLabel* text_;
};

}  // namespace tavrolin
