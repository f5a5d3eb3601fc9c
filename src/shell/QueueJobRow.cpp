#include "shell/QueueJobRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/ActivityIndicator.h"
#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/PercentFormat.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

QueueJobRow::QueueJobRow(std::function<void(const ProcessingJob&)> reveal, QWidget* parent)
    : QWidget(parent), reveal_(std::move(reveal)) {
    setObjectName(QStringLiteral("jobRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 6, 8, 6);
    row->setSpacing(12);

    symbol_ = new QStackedWidget(this);
    symbol_->setFixedWidth(22);
    statusSymbol_ = new QLabel(symbol_);
    statusSymbol_->setObjectName(QStringLiteral("statusSymbol"));
    statusSymbol_->setAlignment(Qt::AlignCenter);
    symbol_->addWidget(statusSymbol_);
    auto* spinnerBox = new QWidget(symbol_);
    auto* spinnerLayout = new QHBoxLayout(spinnerBox);
    spinnerLayout->setContentsMargins(0, 0, 0, 0);
    spinner_ = new ActivityIndicator(spinnerBox);
    spinner_->setObjectName(QStringLiteral("spinner"));
    spinnerLayout->addWidget(spinner_, 0, Qt::AlignCenter);
    symbol_->addWidget(spinnerBox);
    symbol_->setFixedHeight(22);
    row->addWidget(symbol_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    title_ = new ElidedLabel(this, Qt::ElideRight);
    title_->setObjectName(QStringLiteral("title"));
    texts->addWidget(title_);
    output_ = new ElidedLabel(this);
    output_->setObjectName(QStringLiteral("outputPath"));
    output_->setFont(fontFor(TextStyle::caption));
    output_->setTextColor(secondaryTextColor(palette()));
    texts->addWidget(output_);

    progressRow_ = new QWidget(this);
    auto* progressLayout = new QHBoxLayout(progressRow_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(8);
    progress_ = new QProgressBar(progressRow_);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(8);
    progressLayout->addWidget(progress_, 1);
    percent_ = new QLabel(progressRow_);
    percent_->setObjectName(QStringLiteral("percent"));
    percent_->setTextFormat(Qt::PlainText);
    percent_->setFont(fontFor(TextStyle::caption));
    percent_->setFixedWidth(38);
    percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTextColor(percent_, secondaryTextColor(palette()));
    progressLayout->addWidget(percent_);
    texts->addWidget(progressRow_);

    failure_ = new QLabel(this);
    failure_->setObjectName(QStringLiteral("failureMessage"));
    failure_->setTextFormat(Qt::PlainText);
    failure_->setWordWrap(true);
    failure_->setFont(fontFor(TextStyle::caption));
    setTextColor(failure_, tint::red());
    failure_->setMaximumHeight(QFontMetrics(failure_->font()).lineSpacing() * 3 + 2);
    texts->addWidget(failure_);
    row->addLayout(texts, 1);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLabel"));
    status_->setTextFormat(Qt::PlainText);
    status_->setFont(fontFor(TextStyle::caption, QFont::Medium));
    row->addWidget(status_);

    revealButton_ = new QToolButton(this);
    revealButton_->setObjectName(QStringLiteral("revealOutput"));
    revealButton_->setIcon(symbolIcon(QStringLiteral("folder")));
    revealButton_->setToolTip(QStringLiteral("Reveal output"));
    revealButton_->setAutoRaise(true);
    connect(revealButton_, &QToolButton::clicked, this, [this] {
        if (reveal_) {
            reveal_(job_);
        }
    });
    row->addWidget(revealButton_);
}

void QueueJobRow::setJob(const ProcessingJob& job) {
    job_ = job;
    using Kind = ProcessingJob::Status::Kind;
    const Kind kind = job.status.kind;
    const QColor secondary = secondaryTextColor(palette());

    QString symbol;
    QColor color = secondary;
    switch (kind) {
        case Kind::queued:
            symbol = QStringLiteral("clock");
            break;
        case Kind::running:
            color = accentColor(palette());
            break;
        case Kind::completed:
            symbol = QStringLiteral("checkmark.circle.fill");
            color = tint::green();
            break;
        case Kind::cancelled:
            symbol = QStringLiteral("xmark.circle.fill");
            break;
        case Kind::failed:
            symbol = QStringLiteral("exclamationmark.triangle.fill");
            color = tint::red();
            break;
    }
    if (kind == Kind::running) {
        symbol_->setCurrentIndex(1);
        statusSymbol_->setProperty("symbol", QString());
    } else {
        symbol_->setCurrentIndex(0);
        statusSymbol_->setProperty("symbol", symbol);
        statusSymbol_->setPixmap(tintedSymbolIcon(symbol, color).pixmap(16, 16));
    }

    title_->setText(QString::fromStdString(job.request.title()));
    output_->setText(toQString(job.request.output()));
    // Several bars can show at once for a reader: each says whose progress it is.
    progress_->setAccessibleName(
        QStringLiteral("Progress of %1 to \u201C%2\u201D")
            .arg(title_->text(), toQString(job.request.output().filename())));

    progressRow_->setVisible(kind == Kind::running);
    if (kind == Kind::running && job.fractionCompleted) {
        progress_->setRange(0, 1000);
        progress_->setValue(static_cast<int>(std::clamp(*job.fractionCompleted, 0.0, 1.0) * 1000));
        percent_->setText(percentText(*job.fractionCompleted));
        percent_->setVisible(true);
    } else {
        progress_->setRange(0, 0);  // indeterminate
        percent_->clear();
        percent_->setVisible(false);
    }

    failure_->setVisible(kind == Kind::failed);
    failure_->setText(kind == Kind::failed ? QString::fromStdString(job.status.message)
                                           : QString());

    status_->setText(QString::fromStdString(job.status.label()));
    setTextColor(status_, color);
    revealButton_->setVisible(kind == Kind::completed);
    // Every finished row has one: the name says which output it shows.
    revealButton_->setAccessibleName(QStringLiteral("Reveal output \u201C%1\u201D")
                                         .arg(toQString(job.request.output().filename())));
}

}  // namespace tavrolin
