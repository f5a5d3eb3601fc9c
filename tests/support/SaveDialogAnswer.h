#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>

#include "widgets/PathDialog.h"

namespace tavtest {

// Runs `answer` on the next modal dialog of its kind once it is shown.
template <typename Dialog>
void whenDialogOpens(std::function<void(Dialog*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        }
    });
    timer->start();
}

// Puts `text` in the dialog's name field in place of what stands there and presses Return.
inline void typeAndReturn(tavrolin::PathDialog& dialog, const QString& text) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    name->setText(text);
    QTest::keyClick(name, Qt::Key_Return);
}

// The names the dialog lists, in order.
inline QStringList shownNames(tavrolin::PathDialog& dialog) {
    const QAbstractItemModel* model =
        dialog.findChild<QAbstractItemView*>(QStringLiteral("folderList"))->model();
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row) {
        names << model->index(row, 0).data().toString();
    }
    return names;
}

// Answers the next save dialog as a person does: opens the folder of `file` when it names one,
// types its name and presses Return.
inline void answerSaveDialog(const std::filesystem::path& file) {
    whenDialogOpens<tavrolin::PathDialog>([file](tavrolin::PathDialog* dialog) {
        if (file.has_parent_path()) {
            dialog->setFolder(file.parent_path());
        }
        typeAndReturn(*dialog, QString::fromStdString(file.filename().string()));
    });
}

}  // namespace tavtest
