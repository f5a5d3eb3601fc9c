#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Tavrolin");
    QApplication::setApplicationName("Tavrolin");
    QApplication::setApplicationVersion(TAVROLIN_VERSION);

    QMainWindow window;
    window.setWindowTitle("Tavrolin");
    window.setMinimumSize(920, 640);
    auto* label = new QLabel("Tavrolin");
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    window.setCentralWidget(label);
    window.show();
    return QApplication::exec();
}
