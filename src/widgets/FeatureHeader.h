#pragma once

#include <QWidget>

class QLabel;

namespace tavrolin {

// The heading of a workspace: a tinted symbol tile, a title and a wrapping description.
class FeatureHeader : public QWidget {
    Q_OBJECT
  public:
    FeatureHeader(const QString& title, const QString& subtitle, const QString& symbol,
                  QWidget* parent = nullptr);

    QString title() const;
    QString subtitle() const;
    QString symbol() const { return symbol_; }

  private:
    QString symbol_;
    QLabel* title_;
    QLabel* subtitle_;
};

}  // namespace tavrolin
