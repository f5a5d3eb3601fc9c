#pragma once

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

// Answers the next save dialog as a person does: opens the folder of `file` when it names one,
// types its name and presses Return.
inline void answerSaveDialog(const std::filesystem::path& file) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, file] {
        auto* dialog = qobject_cast<tavrolin::PathDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            return;
        }
        poll->deleteLater();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (file.has_parent_path()) {
            dialog->setFolder(file.parent_path());
        }
        name->setText(QString::fromStdString(file.filename().string()));
        QTest::keyClick(name, Qt::Key_Return);
    });
    poll->start(20);
}

}  // namespace tavtest
