// The least a Qt Widgets program does to show a main window, then quits
// from the event loop: the floor for the program's start-up.

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
