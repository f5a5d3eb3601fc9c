#include "shell/QueueView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <array>
#include <utility>

#include "queue/JobQueueViewModel.h"
#include "shell/QueueJobRow.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FeatureHeader.h"
#include "widgets/RetiredWidget.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"
#include "widgets/WorkspaceColumn.h"

namespace tavrolin {

QueueView::QueueView(JobQueueViewModel* queue, QWidget* parent) : QWidget(parent), queue_(queue) {
    setObjectName(QStringLiteral("queueView"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(28, 28, 28, 28);
    page->setSpacing(20);
    page->addWidget(new FeatureHeader(
        QStringLiteral("Processing Queue"),
        QStringLiteral("Jobs run one at a time to keep your computer responsive."),
        QStringLiteral("list.bullet.rectangle"), this));

    // What the start's clean-up removed: a line per unfinished copy of an earlier run.
    notices_ = new QLabel(this);
    notices_->setObjectName(QStringLiteral("queueNotices"));
    notices_->setTextFormat(Qt::PlainText);
    notices_->setWordWrap(true);
    notices_->setVisible(false);
    page->addWidget(notices_);

    content_ = new QStackedWidget(this);
    emptyState_ = new ContentUnavailableView(
        QStringLiteral("Queue is empty"), QStringLiteral("checkmark.circle"),
        QStringLiteral("Configure an operation and add it to the queue."), content_);
    // Where the focus stays once Clear Finished empties the page, rather than in the sidebar.
    emptyState_->setFocusPolicy(Qt::ClickFocus);
    emptyState_->setAccessibleName(QStringLiteral("Queue is empty"));
    content_->addWidget(emptyState_);
    auto* scroll = new QScrollArea(content_);
    scroll->setAccessibleName(QStringLiteral("Jobs"));
    scroll->setWidgetResizable(true);
    // Its rows' buttons are the stops; the area itself would show no mark.
    followFocus(scroll);
    scroll->setFrameShape(QFrame::StyledPanel);
    list_ = new QWidget(scroll);
    list_->setBackgroundRole(QPalette::Base);
    list_->setAutoFillBackground(true);
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(6, 6, 6, 6);
    listLayout_->setSpacing(0);
    listLayout_->addStretch(1);
    scroll->setWidget(list_);
    content_->addWidget(scroll);
    page->addWidget(content_, 1);

    auto* controls = new QHBoxLayout;
    clearFinished_ = new QPushButton(QStringLiteral("Clear Finished"), this);
    clearFinished_->setObjectName(QStringLiteral("clearFinished"));
    connect(clearFinished_, &QPushButton::clicked, queue_, &JobQueueViewModel::clearFinishedJobs);
    controls->addWidget(clearFinished_);
    controls->addStretch(1);
    startQueue_ = new QPushButton(symbolIcon(QStringLiteral("play.fill")),
                                  QStringLiteral("Start Queue"), this);
    startQueue_->setObjectName(QStringLiteral("startQueue"));
    connect(startQueue_, &QPushButton::clicked, queue_, &JobQueueViewModel::startWorkerIfNeeded);
    controls->addWidget(startQueue_);
    cancelCurrent_ = new QPushButton(QStringLiteral("Cancel Current"), this);
    cancelCurrent_->setObjectName(QStringLiteral("cancelCurrent"));
    QPalette destructive = cancelCurrent_->palette();
    // Red only while it can be pressed; disabled it looks like every other disabled button.
    destructive.setColor(QPalette::Active, QPalette::ButtonText, tint::red());
    destructive.setColor(QPalette::Inactive, QPalette::ButtonText, tint::red());
    cancelCurrent_->setPalette(destructive);
    connect(cancelCurrent_, &QPushButton::clicked, queue_, &JobQueueViewModel::cancelRunningJob);
    controls->addWidget(cancelCurrent_);
    page->addLayout(controls);

    connect(queue_, &JobQueueViewModel::changed, this, &QueueView::render);
    render();
}

QList<QueueJobRow*> QueueView::rows() const {
    return QList<QueueJobRow*>(rows_.begin(), rows_.end());
}

void QueueView::render() {
    const auto& jobs = queue_->jobs();
    std::vector<Uuid> ids;
    ids.reserve(jobs.size());
    for (const auto& job : jobs) {
        ids.push_back(job.id);
    }
    // Progress updates arrive often; rows are rebuilt only when the list itself changes.
    if (ids != rowIDs_) {
        for (QueueJobRow* row : rows_) {
            retireWidget(row);
        }
        rows_.clear();
        for (QWidget* divider :
             list_->findChildren<QFrame*>(QStringLiteral("divider"), Qt::FindDirectChildrenOnly)) {
            retireWidget(divider);
        }
        int position = 0;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (i > 0) {
                auto* divider = new QFrame(list_);
                divider->setObjectName(QStringLiteral("divider"));
                divider->setFrameShape(QFrame::HLine);
                divider->setFrameShadow(QFrame::Plain);
                divider->setEnabled(false);
                listLayout_->insertWidget(position++, divider);
            }
            auto* row = new QueueJobRow(
                [queue = queue_](const ProcessingJob& job) { queue->revealOutput(job); }, list_);
            listLayout_->insertWidget(position++, row);
            rows_.push_back(row);
        }
        rowIDs_ = std::move(ids);
        keepFooterLastOnTab();
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        rows_[i]->setJob(jobs[i]);
    }
    content_->setCurrentIndex(jobs.empty() ? 0 : 1);
    QStringList notices;
    for (const auto& notice : queue_->notices()) {
        notices.append(QString::fromStdString(notice));
    }
    notices_->setText(notices.join(QLatin1Char('\n')));
    notices_->setVisible(!notices.isEmpty());

    // A button that its own press disables (Start Queue once the job runs, Cancel Current once
    // it ends) hands the focus to one that can be pressed next, on this page. Those that turn
    // on go first, so each heir can take the focus.
    const std::array<std::pair<QPushButton*, bool>, 3> buttons{
        {{cancelCurrent_, queue_->hasRunningJob()},
         {startQueue_, queue_->hasQueuedJobs() && !queue_->hasRunningJob()},
         {clearFinished_, queue_->hasFinishedJobs()}}};
    for (const auto& [button, enabled] : buttons) {
        if (enabled) {
            button->setEnabled(true);
        }
    }
    for (const auto& [button, enabled] : buttons) {
        QWidget* heir = nullptr;
        for (const auto& [other, otherEnabled] : buttons) {
            if (heir == nullptr && other != button && otherEnabled) {
                heir = other;
            }
        }
        if (heir == nullptr && jobs.empty()) {
            heir = emptyState_;
        }
        setEnabledKeepingFocus(button, enabled, heir);
    }
}

void QueueView::keepFooterLastOnTab() {
    // Rows made later join the end of the window's Tab order, after the footer.
    QWidget* last = nullptr;
    for (QueueJobRow* row : rows_) {
        if (QWidget* stop = lastTabStop(row)) {
            last = stop;
        }
    }
    if (last == nullptr) {
        return;
    }
    QWidget::setTabOrder(last, clearFinished_);
    QWidget::setTabOrder(clearFinished_, startQueue_);
    QWidget::setTabOrder(startQueue_, cancelCurrent_);
}

}  // namespace tavrolin
