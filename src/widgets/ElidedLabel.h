#pragma once

#include <QString>
#include <QWidget>

namespace tavrolin {

// One line of plain text that shrinks with its column and elides instead of widening it.
class ElidedLabel : public QWidget {
    Q_OBJECT
  public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode elideMode = Qt::ElideMiddle);

    QString text() const { return text_; }
    void setText(const QString& text);
    void setTextColor(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString text_;
    Qt::TextElideMode elideMode_;
};

}  // namespace tavrolin
