#pragma once

class QWidget;

namespace tavrolin {

// Takes `widget` out of its parent's layout and out of view (announced to assistive technology
// as hidden, its parent's children as reordered) and deletes it on a later turn of the event
// loop. A screen reader may still hold the widget or its children in the accessibility cache
// while the current event is handled; deleted later, they leave that cache through their own
// destruction, never under a reader walking the tree. The object name is cleared so that lookups
// by name no longer find it meanwhile. GUI thread only.
void retireWidget(QWidget* widget);

}  // namespace tavrolin
