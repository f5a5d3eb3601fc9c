#pragma once

namespace tavrolin {

// Gives every scroll area (QScrollArea, and QAbstractScrollArea subclasses without an interface
// of their own) an accessibility interface that reads its children anew on each call and answers
// an index past them with no child. Qt 6.4's own interface reads past the end of its child list
// instead; a screen reader that counted the children a moment before a scroll bar hid (the
// content shrank) then gets a wild pointer, and the program crashes. Call once on the GUI
// thread after the QApplication exists; interfaces made before keep Qt's.
void installScrollAreaAccessibility();

}  // namespace tavrolin
