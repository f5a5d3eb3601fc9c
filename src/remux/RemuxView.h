#pragma once

#include <QColor>
#include <QWidget>

#include "widgets/CoalescedRefresh.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QCheckBox;
class QElapsedTimer;
class QFormLayout;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QVBoxLayout;

namespace tavrolin {

class CardColumn;
class RemuxNaturalLanguageDraftView;
class RemuxViewModel;
class StatusLine;
class StreamSourceCard;

// The Remux workspace screen: sources with their stream cards, the apply-to-all option, the
// output settings, the review messages, the two submit buttons and the confirmation for streams
// that will be dropped. Renders from the view model (coalescing its change signals into one
// refresh per event-loop turn) and forwards every action to it.
class RemuxView : public QWidget {
    Q_OBJECT

  public:
    // Shows the media-file panel; an empty list when cancelled.
    using MediaFileChooser = std::function<std::vector<std::filesystem::path>()>;

    explicit RemuxView(RemuxViewModel& viewModel, QWidget* parent = nullptr);

    void setMediaFileChooser(MediaFileChooser chooser) { mediaFileChooser_ = std::move(chooser); }
    // Renders the current state now.
    void refresh();

    StreamSourceCard* cardFor(const std::filesystem::path& url) const;
    RemuxNaturalLanguageDraftView* draftPanel() const { return draftPanel_; }
    // The "Unsupported Streams" alert while it is shown, else null.
    QMessageBox* compatibilityAlert() const { return alert_; }

  private:
    // The page's parts, top to bottom.
    void addSourceHeader(QVBoxLayout* column);
    void addApplyToAllBlock(QVBoxLayout* column);
    void addEmptyState(QVBoxLayout* column);
    void addCardColumn(QVBoxLayout* column);
    void addOutputGroup(QVBoxLayout* column);
    void addOutputPickers(QFormLayout* form);
    void addFooter(QVBoxLayout* column);

    // Makes, fills and places the cards within `turn`'s time (after at least one card).
    void refreshCards(const QElapsedTimer& turn);
    void placeCards(const std::vector<std::filesystem::path>& order);
    // Puts the card of `url` after the last placed card and shows it.
    void appendCard(const std::filesystem::path& url);
    void refreshAlert();

    RemuxViewModel& viewModel_;
    MediaFileChooser mediaFileChooser_;
    CoalescedRefresh refreshLater_;

    RemuxNaturalLanguageDraftView* draftPanel_;
    QPushButton* addFilesButton_;
    QWidget* applyToAllBlock_;
    QCheckBox* applyToAllToggle_;
    StatusLine* propagationSummary_;
    QWidget* emptyState_;
    CardColumn* cardList_;
    // Looked up for every source on every turn: by the path's text, which hashes and compares
    // faster than the path's parts.
    struct PathTextHash {
        std::size_t operator()(const std::filesystem::path& path) const noexcept {
            return std::hash<std::string>{}(path.native());
        }
    };
    struct PathTextEqual {
        bool operator()(const std::filesystem::path& a,
                        const std::filesystem::path& b) const noexcept {
            return a.native() == b.native();
        }
    };
    std::unordered_map<std::filesystem::path, StreamSourceCard*, PathTextHash, PathTextEqual>
        cards_;
    std::vector<std::filesystem::path> cardOrder_;
    // Sources whose card a spent turn left to a later one.
    std::unordered_set<std::filesystem::path, PathTextHash, PathTextEqual> waiting_;
    QLineEdit* folderField_;
    QComboBox* containerPicker_;
    QComboBox* targetPicker_;
    StatusLine* subtitleNote_;
    StatusLine* playbackStatus_;
    StatusLine* compatibilitySummary_;
    StatusLine* validationMessage_;
    QPushButton* addToQueueButton_;
    QPushButton* remuxNowButton_;
    QMessageBox* alert_ = nullptr;
};

}  // namespace tavrolin
