#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace tavrolin {

class BlockingFileWork;
class ElidedLabel;
class FolderEntriesModel;

// One folder's entries: folders first, then files, each in name order, hidden names left out,
// and files only when their extension is one of `extensions` (compared without case; every file
// when empty). `problem` says why the folder could not be read. Blocks on a slow mount: any
// thread but the GUI thread.
struct FolderEntry {
    std::string name;
    bool isFolder = false;

    friend bool operator==(const FolderEntry&, const FolderEntry&) = default;
};
struct FolderListing {
    std::vector<FolderEntry> entries;
    std::optional<std::string> problem;
};
FolderListing readFolder(const std::filesystem::path& folder,
                         const std::vector<std::string>& extensions);

// What a name typed in a save dialog chooses, worked out without asking the file system: the
// file in `folder` (or the absolute path, "~/" standing for `home`), with `defaultSuffix`
// added to a name that has no point; a name ending in "/" is a folder to open instead.
struct TypedSavePath {
    std::filesystem::path path;
    bool opensFolder = false;
};
TypedSavePath typedSavePath(const std::filesystem::path& folder, const QString& typed,
                            const std::filesystem::path& home, const QString& defaultSuffix);

// Chooses files to open, where to save a file, or which folder to use, without one file-system
// call on the GUI thread: the shown folder is read on a thread of its own (a hung mount shows
// "Reading…" and leaves the window serving), the name field completes from that reading only.
// A name typed to save is taken as it stands: whether the folder takes the file, and whether the
// name exists, the page that writes asks off the GUI thread after. A name typed to open is one
// file, '"' and all; when the reading does not list it, whether it is a file or a folder to open
// is asked on a thread of its own. GUI thread only; work still blocked when the dialog goes is
// abandoned.
class PathDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Mode { saveFile, chooseFolder, openFile, openFiles };

    explicit PathDialog(Mode mode, QWidget* parent = nullptr);
    ~PathDialog() override;

    Mode mode() const { return mode_; }
    void setAcceptLabel(const QString& label);
    QString acceptLabel() const;
    // Added to a typed file name that has no point ("clip" is saved as "clip.mkv").
    void setDefaultSuffix(const QString& suffix) { defaultSuffix_ = suffix; }
    const QString& defaultSuffix() const { return defaultSuffix_; }
    // Files listed, from the next folder shown on; folders are always listed. Empty lists every
    // file.
    void setFileExtensions(std::vector<std::string> extensions);
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

  private:
    void build();
    void showListing(std::uint64_t generation, FolderListing listing);
    void entryActivated(int row);
    void entryChosen(int row);
    void updateStatus();
    bool opens() const { return mode_ == Mode::openFile || mode_ == Mode::openFiles; }
    void showSelection();
    std::vector<std::filesystem::path> selectedFiles() const;
    void open(const std::filesystem::path& path);
    void showLookUp(std::uint64_t generation, const std::filesystem::path& path, int kind);
    void take(std::vector<std::filesystem::path> files);

    Mode mode_;
    QString defaultSuffix_;
    std::vector<std::string> extensions_;
    std::filesystem::path folder_;
    std::vector<std::filesystem::path> chosen_;
    // What the selection put in the name field, while it stands there.
    QString selectionText_;
    // The typed path being looked up, with its lookup's generation.
    std::uint64_t lookUp_ = 0;
    QString lookUpProblem_;
    bool lookingUp_ = false;
    std::uint64_t generation_ = 0;
    bool reading_ = false;
    std::optional<std::string> problem_;
    FolderEntriesModel* entries_;
    ElidedLabel* location_ = nullptr;
    QListView* list_ = nullptr;
    QLabel* status_ = nullptr;
    QLineEdit* name_ = nullptr;
    QPushButton* acceptButton_ = nullptr;
    QTimer showReading_;
    // Last, so that readings are abandoned before the rest goes.
    std::unique_ptr<BlockingFileWork> work_;
};

}  // namespace tavrolin
