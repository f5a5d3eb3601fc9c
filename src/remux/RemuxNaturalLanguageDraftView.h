#pragma once

#include <QGroupBox>
#include <optional>

#include "model/RemuxPlan.h"
#include "widgets/StatusLine.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace tavrolin {

class ActivityIndicator;
class StatusLine;
class RemuxViewModel;

// The remux page's natural-language panel: the typed instruction, "Create Draft", one status
// line, and the draft under review (interpreted plan, changes, warnings) with "Discard" and
// "Apply Draft". Renders from the view model and forwards every action to it. GUI thread only.
class RemuxNaturalLanguageDraftView : public QGroupBox {
    Q_OBJECT

  public:
    explicit RemuxNaturalLanguageDraftView(RemuxViewModel& viewModel, QWidget* parent = nullptr);

    // Renders the current state now.
    void refresh();

  private:
    void refreshDraft(const std::optional<RemuxNaturalLanguageDraft>& draft);
    void fitInstructionHeight();

    RemuxViewModel& viewModel_;
    QPlainTextEdit* instructionField_;
    QPushButton* createButton_;
    QWidget* progressRow_;
    ActivityIndicator* progress_;
    StatusLine* status_;
    QWidget* draftBlock_;
    QLabel* planHeading_;
    QVBoxLayout* planRows_;
    QVBoxLayout* changeRows_;
    QVBoxLayout* warningRows_;
    QPushButton* applyButton_;
    StatusLine* appliedSummary_;
    std::optional<RemuxNaturalLanguageDraft> shownDraft_;
};

}  // namespace tavrolin
