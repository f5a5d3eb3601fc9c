#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "widgets/FolderEntries.h"
#include "widgets/TypedPaths.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace tavrolin {

class BlockingFileWork;
class LocationEdit;
class PlacesList;

// Chooses files to open, where to save a file, or which folder to use, without one file-system
// call on the GUI thread: the shown folder, the places beside it and the folders its location
// completes from are read on threads of their own (a hung mount shows "Reading…", then says the
// folder does not answer, and leaves the window serving); the name field completes from that
// reading only. A typed name the reading lists is known at once; any other is looked up on a
// thread of its own: a folder opens (in a save dialog too, "clip" naming a folder), a file is
// taken, and a look-up that gets no answer says so. A name typed to open is one file, '"' and
// all, unless the folder lists no such file and it reads as several quoted names. In folder
// mode files show dimmed and cannot be chosen, typed or clicked. GUI thread only; work still
// blocked when the dialog goes is abandoned.
class PathDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Mode { saveFile, chooseFolder, openFile, openFiles };

    // How long a reading or look-up may get no answer before the dialog says the folder does
    // not answer.
    static constexpr std::chrono::seconds notAnsweringAfter{5};

    explicit PathDialog(Mode mode, QWidget* parent = nullptr);
    ~PathDialog() override;

    Mode mode() const { return mode_; }
    void setAcceptLabel(const QString& label);
    QString acceptLabel() const;
    // Added to a typed file name that has no point ("clip" is saved as "clip.mkv").
    void setDefaultSuffix(const QString& suffix) { defaultSuffix_ = suffix; }
    const QString& defaultSuffix() const { return defaultSuffix_; }
    // The filter offered first, named `label`, listing files with these extensions; "All files"
    // is offered after it. Folders are always listed.
    void setFileFilter(const QString& label, std::vector<std::string> extensions);
    // Shows `folder` at once and its entries once read. Without one, the dialog opens at home.
    void setFolder(const std::filesystem::path& folder);
    const std::filesystem::path& folder() const { return folder_; }
    // Puts `name` in the name field with its stem selected.
    void selectName(const QString& name);
    bool isReading() const { return reading_; }
    // Whether a typed name is being looked up.
    bool isLookingUp() const { return lookingUp_; }
    // The file or folder chosen, once accepted (the first, when several files were).
    std::optional<std::filesystem::path> chosen() const;
    // Every file chosen to open, in the order shown, once accepted.
    std::vector<std::filesystem::path> chosenFiles() const;

    // Takes the typed name (in save mode a name is needed; in folder mode an empty field
    // chooses the folder shown). A name ending in "/" opens that folder instead.
    void accept() override;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // When a thread last got an answer from the file system.
    struct Progress {
        std::atomic<std::int64_t> lastAnswer;
        Progress();
        void answered();
        bool isSilent() const;
    };
    void build();
    QWidget* buildBar();
    void buildShortcuts();
    void goUp();
    void showListing(std::uint64_t generation, FolderListing listing);
    void entryActivated(int row);
    void entryChosen(int row);
    void updateStatus();
    void watch();
    bool opens() const { return mode_ == Mode::openFile || mode_ == Mode::openFiles; }
    void showSelection();
    std::vector<std::filesystem::path> selectedFiles() const;
    void resolve(std::vector<std::filesystem::path> paths, std::filesystem::path saveAs = {});
    void resolved(const std::vector<std::filesystem::path>& paths,
                  const std::filesystem::path& saveAs, const std::vector<int>& kinds);
    void openTypedFolder(const std::filesystem::path& folder);
    void take(std::vector<std::filesystem::path> files);

    Mode mode_;
    QString defaultSuffix_;
    std::vector<std::string> extensions_;
    std::filesystem::path folder_;
    std::vector<std::filesystem::path> chosen_;
    // What the selection put in the name field, while it stands there.
    QString selectionText_;
    // The typed paths being looked up, with their look-up's generation.
    std::uint64_t lookUp_ = 0;
    std::vector<std::filesystem::path> lookingFor_;
    std::shared_ptr<Progress> lookUpProgress_;
    QString lookUpProblem_;
    bool lookingUp_ = false;
    std::uint64_t generation_ = 0;
    bool reading_ = false;
    std::shared_ptr<Progress> readingProgress_;
    std::optional<std::string> problem_;
    FolderEntriesModel* entries_;
    LocationEdit* location_ = nullptr;
    PlacesList* places_ = nullptr;
    QTreeView* list_ = nullptr;
    QLabel* status_ = nullptr;
    QLineEdit* name_ = nullptr;
    QComboBox* filter_ = nullptr;
    QPushButton* acceptButton_ = nullptr;
    QTimer showReading_;
    // Looks whether a reading or look-up still gets answers.
    QTimer watch_;
    // Last, so that readings are abandoned before the rest goes.
    std::unique_ptr<BlockingFileWork> work_;
};

}  // namespace tavrolin
