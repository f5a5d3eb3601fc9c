#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <map>
#include <optional>

#include "shell/WorkspaceSection.h"

class QPushButton;

namespace tavrolin {

// One sidebar entry: symbol, title and, from 1 upward, a count badge. Painted as a rounded
// accent-filled rectangle with white content while selected.
class SidebarRow : public QAbstractButton {
    Q_OBJECT
  public:
    SidebarRow(WorkspaceSection section, QWidget* parent = nullptr);

    WorkspaceSection section() const { return section_; }
    void setSelected(bool selected);
    bool isSelected() const { return selected_; }
    void setBadgeCount(int count);
    int badgeCount() const { return badgeCount_; }
    // The badge as shown; empty while hidden.
    QString badgeText() const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    WorkspaceSection section_;
    bool selected_ = false;
    int badgeCount_ = 0;
};

// The workspace sidebar: groups "Video", "Files" and "Processing" with their rows, and the
// settings link at the bottom.
class MainNavigationSidebar : public QWidget {
    Q_OBJECT
  public:
    explicit MainNavigationSidebar(QWidget* parent = nullptr);

    void setSelection(std::optional<WorkspaceSection> selection);
    // The number of waiting and running jobs, shown on the Queue row.
    void setQueueCount(int count);
    SidebarRow* row(WorkspaceSection section) const { return rows_.at(section); }
    QPushButton* settingsLink() const { return settings_; }

  signals:
    void sectionClicked(tavrolin::WorkspaceSection section);
    void settingsRequested();

  private:
    std::map<WorkspaceSection, SidebarRow*> rows_;
    QPushButton* settings_;
};

}  // namespace tavrolin
