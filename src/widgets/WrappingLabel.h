#pragma once

#include <QLabel>

namespace tavrolin {

// A label of plain text that wraps between words and, where one word is wider than the label
// (a long file name), inside that word, so no text ever widens its column or is cut at the
// edge. With a line limit the last line shown ends in an ellipsis. GUI thread only.
class WrappingLabel : public QLabel {
    Q_OBJECT
  public:
    explicit WrappingLabel(const QString& text = {}, QWidget* parent = nullptr);

    // At most `lines` lines, the last elided; 0 shows every line.
    void setMaximumLineCount(int lines);

    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int lineCount(int width) const;
    int maximumLines_ = 0;
};

}  // namespace tavrolin
