#pragma once

class QVBoxLayout;
class QWidget;

namespace tavrolin {

// The frame of a workspace page: a vertical scroll area filling `page`, holding one column
// padded by 28 on every side, with spacing 20, at most `maxWidth` wide and centred. Returns the
// column's layout for the page's sections. GUI thread only.
QVBoxLayout* addScrollingColumn(QWidget* page, int maxWidth);

}  // namespace tavrolin
