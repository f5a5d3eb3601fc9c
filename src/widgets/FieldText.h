#pragma once

#include <QString>

#include <functional>

class QLineEdit;
class QObject;

namespace tavrolin {

// Calls `write` with the field's text after every change, whatever made it: typed keys, paste,
// a drop, an input method or an accessibility interface's set-text, so what the field shows is
// what is used. Changes the view makes through setFieldText are not reported back. `write` runs
// while `context` lives. GUI thread only.
void followFieldText(QLineEdit* field, QObject* context, std::function<void(const QString&)> write);

// Shows `text` in the field as the view's own update (followFieldText does not report it); a
// field that already shows it is left alone, so the caret stays where the user types. Returns
// whether the text changed.
bool setFieldText(QLineEdit* field, const QString& text);

}  // namespace tavrolin
