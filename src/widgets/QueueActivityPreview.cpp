#include "widgets/QueueActivityPreview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "queue/JobQueueViewModel.h"
#include "widgets/ActivityIndicator.h"
#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PercentFormat.h"

namespace tavrolin {

QString QueueActivityPreview::waitingLine(const std::vector<ProcessingJob>& queuedJobs) {
    if (queuedJobs.empty()) {
        return {};
    }
    const QString separator = QStringLiteral(" \u00B7 ");
    QStringList titles;
    for (std::size_t i = 0; i < queuedJobs.size() && i < 2; ++i) {
        titles.append(QString::fromStdString(queuedJobs[i].request.title()));
    }
    QString line = QStringLiteral("Next: ") + titles.join(separator);
    if (queuedJobs.size() >= 3) {
        line +=
            separator + QString::number(queuedJobs.size() - 2) + QStringLiteral(" more waiting");
    }
    return line;
}

QueueActivityPreview::QueueActivityPreview(JobQueueViewModel* queue, QWidget* parent)
    : QWidget(parent), queue_(queue) {
    setObjectName(QStringLiteral("queueActivityPreview"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 10, 24, 10);
    column->setSpacing(7);

    auto* heading = new QHBoxLayout;
    heading->setSpacing(9);
    heading->addWidget(new ActivityIndicator(this, 14));
    auto* label = new QLabel(QStringLiteral("Processing in Queue"), this);
    label->setTextFormat(Qt::PlainText);
    label->setFont(fontFor(TextStyle::callout, QFont::DemiBold));
    heading->addWidget(label);
    heading->addStretch(1);
    percent_ = secondaryLabel();
    percent_->setObjectName(QStringLiteral("percent"));
    heading->addWidget(percent_);
    column->addLayout(heading);

    title_ = new ElidedLabel(this, Qt::ElideRight);
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(fontFor(TextStyle::callout));
    column->addWidget(title_);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(8);
    column->addWidget(progress_);
    waiting_ = new ElidedLabel(this, Qt::ElideRight);
    waiting_->setObjectName(QStringLiteral("waitingLine"));
    waiting_->setFont(fontFor(TextStyle::caption));
    waiting_->setTextColor(secondaryTextColor(palette()));
    column->addWidget(waiting_);

    connect(queue_, &JobQueueViewModel::changed, this, &QueueActivityPreview::render);
    render();
}

void QueueActivityPreview::render() {
    const auto running = queue_->runningJob();
    setVisible(running.has_value());
    if (!running) {
        return;
    }
    const QString title = QString::fromStdString(running->request.title());
    title_->setText(title);
    if (running->fractionCompleted) {
        percent_->setText(percentText(*running->fractionCompleted));
        progress_->setRange(0, 1000);
        progress_->setValue(
            static_cast<int>(std::clamp(*running->fractionCompleted, 0.0, 1.0) * 1000));
    } else {
        percent_->clear();
        progress_->setRange(0, 0);
    }
    percent_->setVisible(running->fractionCompleted.has_value());
    const QString waiting = waitingLine(queue_->queuedJobs());
    waiting_->setText(waiting);
    waiting_->setVisible(!waiting.isEmpty());
    // Read as one element by assistive technology.
    setAccessibleName(
        QStringList{QStringLiteral("Processing in Queue"), percent_->text(), title, waiting}
            .filter(QRegularExpression(QStringLiteral(".+")))
            .join(QStringLiteral(", ")));
}

}  // namespace tavrolin
