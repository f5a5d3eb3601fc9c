#pragma once

class QWidget;

namespace tavrolin {

// Puts the controls under `part` that Tab stops at into the window's Tab order right after
// `after` (or, when `after` takes no focus, the last control before it), in the order they
// were made; returns the last of them, or that control when `part` has none. A part made while
// its page is shown otherwise joins the end of the window's Tab order, wherever the layout
// shows it. GUI thread only.
QWidget* placeTabStops(QWidget* after, QWidget* part);

// The last control under `part` that Tab stops at, in the order they were made; none when
// there is none.
QWidget* lastTabStop(QWidget* part);

// Enables or disables `control`. A control that loses the focus this way (it or a control
// inside it holds its window's focus, also while a dialog just closed leaves the window
// inactive) hands it to `heir`, rather than Qt handing it on to whatever follows in the Tab
// order (often another page, or back up the page). No heir, or one that cannot take the focus,
// leaves that to Qt.
void setEnabledKeepingFocus(QWidget* control, bool enabled, QWidget* heir);

// The same for showing or hiding `control`.
void setVisibleKeepingFocus(QWidget* control, bool visible, QWidget* heir);

}  // namespace tavrolin
