// The yardstick of bench/app_startup.sh: a Qt Widgets program that shows one empty main window.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare Qt window"));
    window.resize(1100, 720);
    window.show();
    return QApplication::exec();
}
