#pragma once

#include <QAccessible>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QListView;

namespace tavrolin {

// A control a delegate paints into a list row (a remove button, a check mark), as a screen
// reader sees it: its role, name, place in the viewport, state, and what pressing it does.
struct AccessibleRowControl {
    QAccessible::Role role = QAccessible::Button;  // Button or CheckBox
    QString name;
    QRect rect;
    bool enabled = true;
    std::optional<bool> checked;  // for a check box
    std::function<void()> press;
};

using AccessibleRowControls = std::function<std::vector<AccessibleRowControl>(int row)>;

// Gives screen readers the rows of `view` as list items, each with the controls its delegate
// paints (from `controls`, which may be empty) as its children, and an editor the delegate
// opens as a child of the view itself (not its viewport) as the list's last child, so it is in
// the tree while it is open. A row's name and description are its Qt::AccessibleTextRole (else
// its text) and Qt::AccessibleDescriptionRole. Call once the view has its model; an interface
// made for the view before is replaced. Row and control interfaces go when the rows change and
// when the view goes. GUI thread only.
void exposeListRows(QListView* view, AccessibleRowControls controls = {});

}  // namespace tavrolin
