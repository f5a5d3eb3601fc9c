#pragma once

#include <QWidget>
#include <vector>

#include "model/ProcessingJob.h"

class QLabel;
class QProgressBar;

namespace tavrolin {

class ElidedLabel;
class JobQueueViewModel;

// A compact summary of the running job and of what waits behind it; shows nothing while no job
// runs.
class QueueActivityPreview : public QWidget {
    Q_OBJECT
  public:
    explicit QueueActivityPreview(JobQueueViewModel* queue, QWidget* parent = nullptr);

    // "Next: A · B · 3 more waiting"; empty when nothing is queued.
    static QString waitingLine(const std::vector<ProcessingJob>& queuedJobs);

  private:
    void render();

    JobQueueViewModel* queue_;
    QLabel* percent_;
    ElidedLabel* title_;
    QProgressBar* progress_;
    ElidedLabel* waiting_;
};

}  // namespace tavrolin
