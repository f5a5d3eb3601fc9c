#include "widgets/FieldText.h"

#include <QLineEdit>

namespace tavrolin {

namespace {

// The field whose text the view is setting; its textChanged is the view's own.
const QLineEdit* fieldBeingSet = nullptr;

}  // namespace

void followFieldText(QLineEdit* field, QObject* context,
                     std::function<void(const QString&)> write) {
    QObject::connect(field, &QLineEdit::textChanged, context,
                     [field, write = std::move(write)](const QString& text) {
                         if (field != fieldBeingSet) {
                             write(text);
                         }
                     });
}

bool setFieldText(QLineEdit* field, const QString& text) {
    if (field->text() == text) {
        return false;
    }
    const QLineEdit* outer = fieldBeingSet;
    fieldBeingSet = field;
    field->setText(text);
    fieldBeingSet = outer;
    return true;
}

}  // namespace tavrolin
