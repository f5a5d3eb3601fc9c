#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace tavrolin {

class FileListEditor;
class RenamePreviewListModel;
class RenameViewModel;

// The Sequence Rename screen: header, the files in episode order, the naming fields, the preview
// of the new names (or the planning error) and the rename button. Renders from the view model
// (one refresh per event-loop turn) and forwards every action to it; GUI thread only.
class RenameView : public QWidget {
    Q_OBJECT

  public:
    // Shows the media-file panel; an empty list when cancelled.
    using MediaFileChooser = std::function<std::vector<std::filesystem::path>()>;

    explicit RenameView(RenameViewModel& viewModel, QWidget* parent = nullptr);

    void setMediaFileChooser(MediaFileChooser chooser) { mediaFileChooser_ = std::move(chooser); }
    // Renders the current state now.
    void refresh();

  protected:
    // The first showing asks for renames an earlier run left unfinished.
    void showEvent(QShowEvent* event) override;

  private:
    struct NumberRow {
        QLineEdit* field = nullptr;
        QSpinBox* stepper = nullptr;
    };

    QWidget* makeNamingGroup();
    QWidget* makePreviewGroup();
    void renderRestoreOffers();
    NumberRow makeNumberRow(const QString& name, const QString& placeholder,
                            const QString& fieldLabel, const QString& stepperLabel, int maximum,
                            std::function<void(std::int64_t)> write);
    void renderNumber(const NumberRow& row, std::int64_t value);
    void scheduleRefresh();

    RenameViewModel& viewModel_;
    MediaFileChooser mediaFileChooser_;
    bool refreshScheduled_ = false;
    bool lookedForInterruptedRenames_ = false;
    std::vector<std::filesystem::path> shownRestoreOffers_;

    QWidget* restoreOffers_;
    QLabel* noticeLabel_;
    QLabel* planNoticeLabel_;
    FileListEditor* fileList_;
    QLineEdit* showNameField_;
    NumberRow season_;
    NumberRow startingEpisode_;
    QComboBox* paddingPicker_;
    QStackedWidget* preview_;
    QLabel* errorLabel_;
    QPushButton* restoreButton_;
    QListView* planList_;
    RenamePreviewListModel* planModel_;
    QPushButton* renameButton_;
    // Takes the focus when a rename disables the button that held it.
    QPushButton* addFilesButton_;
};

}  // namespace tavrolin
