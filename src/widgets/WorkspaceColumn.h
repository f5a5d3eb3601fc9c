#pragma once

class QScrollArea;
class QVBoxLayout;
class QWidget;

namespace tavrolin {

// The frame of a workspace page: a vertical scroll area filling `page`, holding one column
// padded by 28 on every side, with spacing 20, at most `maxWidth` wide and centred. Returns the
// column's layout for the page's sections. GUI thread only.
QVBoxLayout* addScrollingColumn(QWidget* page, int maxWidth);

// Makes `area` a scroll area that is no Tab stop of its own (nothing would show that it has the
// focus) and scrolls to whichever of its controls takes the focus, however it came there: Tab
// from outside, Shift+Tab round to the last control, a control handing it on. A picker in any
// such area changes with the wheel only once it has the focus: without it, the wheel scrolls
// the area, so scrolling past a picker never changes a setting.
void followFocus(QScrollArea* area);

}  // namespace tavrolin
