#pragma once

#include <QWidget>

class QLabel;

namespace tavrolin {

// The empty state of a list: a large symbol, a title and a description, centred.
class ContentUnavailableView : public QWidget {
    Q_OBJECT
  public:
    ContentUnavailableView(const QString& title, const QString& symbol, const QString& description,
                           QWidget* parent = nullptr);

    QString title() const;
    QString symbol() const { return symbol_; }
    QString description() const;

  private:
    QString symbol_;
    QLabel* title_;
    QLabel* description_;
};

}  // namespace tavrolin
