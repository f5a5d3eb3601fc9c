#pragma once

#include <QWidget>

#include "widgets/CoalescedRefresh.h"

#include <filesystem>
#include <functional>
#include <vector>

class QComboBox;
class QPushButton;

namespace tavrolin {

class FileListEditor;
class JoinViewModel;
class StatusLine;

// The Join workspace screen: the join order, the output container, one status line and the
// command that queues the join. Renders from the view model (one refresh per event-loop turn,
// so a row's own button is never deleted while it reports a click) and forwards every action.
// GUI thread only.
class JoinView : public QWidget {
    Q_OBJECT

  public:
    // Shows the media-file panel; an empty list when cancelled.
    using MediaFileChooser = std::function<std::vector<std::filesystem::path>()>;

    explicit JoinView(JoinViewModel& viewModel, QWidget* parent = nullptr);

    void setMediaFileChooser(MediaFileChooser chooser) { mediaFileChooser_ = std::move(chooser); }
    // Renders the current state now.
    void refresh();

  private:
    JoinViewModel& viewModel_;
    MediaFileChooser mediaFileChooser_;
    CoalescedRefresh refreshLater_;

    QPushButton* addFilesButton_;
    FileListEditor* fileList_;
    QComboBox* containerPicker_;
    StatusLine* status_;
    QPushButton* queueButton_;
};

}  // namespace tavrolin
