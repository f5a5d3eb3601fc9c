#pragma once

#include <QTimer>
#include <QWidget>

namespace tavrolin {

// A small spinning indicator; it turns only while shown.
class ActivityIndicator : public QWidget {
    Q_OBJECT
  public:
    explicit ActivityIndicator(QWidget* parent = nullptr, int size = 16);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QTimer timer_;
    int angle_ = 0;
};

}  // namespace tavrolin
