#pragma once

#include <QWidget>
#include <vector>

#include "model/Uuid.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace tavrolin {

class JobQueueViewModel;
class QueueJobRow;

// The queue screen: every job with its status and progress, and the queue's three controls,
// which come after the rows on Tab. GUI thread only.
class QueueView : public QWidget {
    Q_OBJECT
  public:
    explicit QueueView(JobQueueViewModel* queue, QWidget* parent = nullptr);

    QList<QueueJobRow*> rows() const;

  private:
    void render();
    void keepFooterLastOnTab();

    JobQueueViewModel* queue_;
    QLabel* notices_;
    QStackedWidget* content_;
    QWidget* emptyState_;
    QWidget* list_;
    QVBoxLayout* listLayout_;
    std::vector<Uuid> rowIDs_;
    std::vector<QueueJobRow*> rows_;
    QPushButton* clearFinished_;
    QPushButton* startQueue_;
    QPushButton* cancelCurrent_;
};

}  // namespace tavrolin
