// The program's start-up as main() does it, up to the shown window, then
// quits from the event loop.

#include <QApplication>
#include <QTimer>

#include "startup.h"
#include "zkwindow.h"

int main(int argc, char *argv[])
{
    if (!DisplayAvailable(argc, argv))
        return 1;
    WidenLibraryPaths();
    QApplication app(argc, argv);
    ZKWindow window(nullptr);
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
