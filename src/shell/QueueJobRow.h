#pragma once

#include <QWidget>
#include <functional>

#include "model/ProcessingJob.h"

class QLabel;
class QProgressBar;
class QStackedWidget;
class QToolButton;

namespace tavrolin {

class ActivityIndicator;
class ElidedLabel;

// One job of the queue screen: status symbol, title, output path, progress while running, the
// failure message, the status label and, once completed, the button that reveals the output.
class QueueJobRow : public QWidget {
    Q_OBJECT
  public:
    explicit QueueJobRow(std::function<void(const ProcessingJob&)> reveal,
                         QWidget* parent = nullptr);

    void setJob(const ProcessingJob& job);
    const ProcessingJob& job() const { return job_; }

  private:
    ProcessingJob job_;
    std::function<void(const ProcessingJob&)> reveal_;
    QStackedWidget* symbol_;
    QLabel* statusSymbol_;
    ActivityIndicator* spinner_;
    ElidedLabel* title_;
    ElidedLabel* output_;
    QWidget* progressRow_;
    QProgressBar* progress_;
    QLabel* percent_;
    QLabel* failure_;
    QLabel* status_;
    QToolButton* revealButton_;
};

}  // namespace tavrolin
