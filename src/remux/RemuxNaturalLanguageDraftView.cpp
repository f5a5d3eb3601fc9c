#include "remux/RemuxNaturalLanguageDraftView.h"

#include <QAbstractTextDocumentLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

#include "model/TextMetrics.h"
#include "remux/RemuxViewModel.h"
#include "widgets/ActivityIndicator.h"
#include "widgets/AppStyle.h"
#include "widgets/RemuxSymbols.h"
#include "widgets/StatusLine.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

QLabel* captionLabel(const QString& text, const QColor& color) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(fontFor(TextStyle::caption));
    setTextColor(label, color);
    return label;
}

// One line per entry; equal lines all show, since rows are told apart by position.
void fillRows(QVBoxLayout* rows, const std::vector<std::string>& lines, const QString& symbol,
              const QColor& color) {
    while (QLayoutItem* item = rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto& line : lines) {
        auto* row = new StatusLine(QStringLiteral("row"));
        rows->addWidget(row);
        row->setStatus(line, symbol, color);
    }
}

}  // namespace

RemuxNaturalLanguageDraftView::RemuxNaturalLanguageDraftView(RemuxViewModel& viewModel,
                                                             QWidget* parent)
    : QGroupBox(QStringLiteral("Draft with On-Device Model"), parent), viewModel_(viewModel) {
    setObjectName(QStringLiteral("naturalLanguageDraftPanel"));
    const QColor secondary = secondaryTextColor(palette());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4 + 8, 4 + 8, 4 + 8, 4 + 8);
    column->setSpacing(10);

    column->addWidget(captionLabel(
        QStringLiteral("Describe the result you want. Tavrolin will propose container and track "
                       "selections for you to review."),
        secondary));

    auto* inputRow = new QHBoxLayout;
    inputRow->setSpacing(10);
    instructionField_ = new QPlainTextEdit;
    instructionField_->setObjectName(QStringLiteral("instructionField"));
    instructionField_->setPlaceholderText(QStringLiteral(
        "Remove all audio tracks except English 5.1 and change the container to MP4"));
    instructionField_->setAccessibleName(QStringLiteral("Natural-language Remux instruction"));
    instructionField_->setTabChangesFocus(true);
    // The field grows with its text (see fitInstructionHeight): the page is the one that scrolls.
    instructionField_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(instructionField_, &QPlainTextEdit::textChanged, this, [this] {
        fitInstructionHeight();
        const std::string text = instructionField_->toPlainText().toStdString();
        if (text != viewModel_.naturalLanguageInstruction()) {
            viewModel_.setNaturalLanguageInstruction(text);
        }
    });
    // Rewrapped to a new width, the text may take more lines or fewer.
    connect(instructionField_->document()->documentLayout(),
            &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &RemuxNaturalLanguageDraftView::fitInstructionHeight);
    inputRow->addWidget(instructionField_, 1, Qt::AlignBottom);
    createButton_ = new QPushButton(remuxSymbolIcon(QStringLiteral("sparkles")),
                                    QStringLiteral("Create Draft"));
    createButton_->setObjectName(QStringLiteral("createDraftButton"));
    createButton_->setDefault(true);
    connect(createButton_, &QPushButton::clicked, this,
            [this] { viewModel_.createNaturalLanguageDraft(); });
    inputRow->addWidget(createButton_, 0, Qt::AlignBottom);
    column->addLayout(inputRow);

    progressRow_ = new QWidget;
    progressRow_->setObjectName(QStringLiteral("progressRow"));
    auto* progressLayout = new QHBoxLayout(progressRow_);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(8);
    progress_ = new ActivityIndicator(progressRow_, 12);
    progressLayout->addWidget(progress_);
    progressLayout->addWidget(
        captionLabel(QStringLiteral("Interpreting locally with the on-device language model\u2026"),
                     secondary),
        1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelDraftButton"));
    cancel->setAccessibleDescription(QStringLiteral("Stops creating the draft"));
    connect(cancel, &QPushButton::clicked, this,
            [this] { viewModel_.cancelNaturalLanguageDraft(); });
    progressLayout->addWidget(cancel);
    column->addWidget(progressRow_);
    status_ = new StatusLine(QStringLiteral("statusLine"));
    column->addWidget(status_);

    draftBlock_ = new QWidget;
    draftBlock_->setObjectName(QStringLiteral("draftBlock"));
    auto* draftColumn = new QVBoxLayout(draftBlock_);
    draftColumn->setContentsMargins(0, 0, 0, 0);
    draftColumn->setSpacing(8);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    draftColumn->addWidget(divider);
    auto* titleRow = new QHBoxLayout;
    auto* titleIcon = new QLabel;
    titleIcon->setPixmap(remuxSymbolPixmap(QStringLiteral("doc.badge.ellipsis"),
                                           palette().color(QPalette::WindowText), 16));
    titleRow->addWidget(titleIcon);
    auto* title = new QLabel(QStringLiteral("Draft \u2014 not applied"));
    title->setFont(fontFor(TextStyle::headline));
    titleRow->addWidget(title, 1);
    draftColumn->addLayout(titleRow);
    planHeading_ = captionLabel(QStringLiteral("Interpreted plan"), secondary);
    planHeading_->setObjectName(QStringLiteral("planHeading"));
    planHeading_->setFont(fontFor(TextStyle::caption, QFont::DemiBold));
    draftColumn->addWidget(planHeading_);
    for (auto** rows : {&planRows_, &changeRows_, &warningRows_}) {
        auto* holder = new QWidget;
        *rows = new QVBoxLayout(holder);
        (*rows)->setContentsMargins(0, 0, 0, 0);
        (*rows)->setSpacing(4);
        draftColumn->addWidget(holder);
    }
    planRows_->parentWidget()->setObjectName(QStringLiteral("planRows"));
    changeRows_->parentWidget()->setObjectName(QStringLiteral("changeRows"));
    warningRows_->parentWidget()->setObjectName(QStringLiteral("warningRows"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* discard = new QPushButton(QStringLiteral("Discard"));
    discard->setObjectName(QStringLiteral("discardButton"));
    connect(discard, &QPushButton::clicked, this,
            [this] { viewModel_.discardNaturalLanguageDraft(); });
    buttons->addWidget(discard);
    applyButton_ = new QPushButton(remuxSymbolIcon(QStringLiteral("checkmark")),
                                   QStringLiteral("Apply Draft"));
    applyButton_->setObjectName(QStringLiteral("applyDraftButton"));
    connect(applyButton_, &QPushButton::clicked, this,
            [this] { viewModel_.applyNaturalLanguageDraft(); });
    buttons->addWidget(applyButton_);
    draftColumn->addLayout(buttons);
    column->addWidget(draftBlock_);
    appliedSummary_ = new StatusLine(QStringLiteral("appliedSummary"));
    column->addWidget(appliedSummary_);

    fitInstructionHeight();
    refresh();
}

void RemuxNaturalLanguageDraftView::fitInstructionHeight() {
    // Two lines at least, and as many as its text takes.
    const int lines = std::max(instructionField_->document()->lineCount(), 2);
    const QFontMetrics metrics(instructionField_->font());
    const int frame = 2 * instructionField_->frameWidth() +
                      static_cast<int>(2 * instructionField_->document()->documentMargin());
    instructionField_->setFixedHeight(lines * metrics.lineSpacing() + frame);
}

void RemuxNaturalLanguageDraftView::refresh() {
    const QString instruction = QString::fromStdString(viewModel_.naturalLanguageInstruction());
    if (instructionField_->toPlainText() != instruction) {
        instructionField_->setPlainText(instruction);
    }
    const bool creating = viewModel_.isCreatingNaturalLanguageDraft();
    createButton_->setText(creating ? QStringLiteral("Creating\u2026")
                                    : QStringLiteral("Create Draft"));
    createButton_->setEnabled(viewModel_.canCreateNaturalLanguageDraft());

    progressRow_->setVisible(creating);
    const QColor secondary = secondaryTextColor(palette());
    const auto availability = viewModel_.intentParser().availability();
    if (creating) {
        status_->setStatus(std::nullopt, {}, {});
    } else if (const auto& error = viewModel_.naturalLanguageError()) {
        status_->setStatus(*error, QStringLiteral("exclamationmark.triangle.fill"), tint::orange());
    } else if (!availability.isAvailable) {
        status_->setStatus(availability.message, QStringLiteral("info.circle"), secondary);
    } else if (viewModel_.sources().empty()) {
        status_->setStatus("Add and inspect at least one source file before creating a draft.",
                           QStringLiteral("film.stack"), secondary);
    } else {
        status_->setStatus(
            "The instruction is processed on this computer. No filename or track "
            "metadata is sent to the model.",
            QStringLiteral("lock.shield"), secondary);
    }

    refreshDraft(viewModel_.naturalLanguageDraft());
    appliedSummary_->setStatus(viewModel_.naturalLanguageDraft()
                                   ? std::nullopt
                                   : viewModel_.appliedNaturalLanguageSummary(),
                               QStringLiteral("checkmark.circle.fill"), tint::green());
}

void RemuxNaturalLanguageDraftView::refreshDraft(
    const std::optional<RemuxNaturalLanguageDraft>& draft) {
    draftBlock_->setVisible(draft.has_value());
    if (!draft || draft == shownDraft_) {
        return;
    }
    shownDraft_ = draft;
    const QColor text = palette().color(QPalette::WindowText);
    planHeading_->setVisible(!draft->interpretedPlan.empty());
    fillRows(planRows_, draft->interpretedPlan, QStringLiteral("arrow.turn.down.right"), text);
    fillRows(changeRows_, draft->changes, QStringLiteral("checkmark"), text);
    fillRows(warningRows_, draft->warnings, QStringLiteral("exclamationmark.triangle"),
             tint::orange());
    applyButton_->setEnabled(!draft->changes.empty());
}

}  // namespace tavrolin
