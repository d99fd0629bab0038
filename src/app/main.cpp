#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "quitsignals.h"
#include "startup.h"
#include "zkwindow.h"

int main(int argc, char *argv[])
{
    // Without a display Qt would abort with a note about platform plug-ins;
    // say what to do instead.
    if (!DisplayAvailable(argc, argv)) {
        std::fputs("QuadrelX8FileGen: no display found (DISPLAY is not set).\n"
                   "Start it from a desktop session, or without a screen through xvfb-run:\n"
                   "  xvfb-run ./build/bin/QuadrelX8FileGen\n",
                   stderr);
        return EXIT_FAILURE;
    }
    WidenLibraryPaths();
    QApplication app(argc, argv);
    QuitOnSignals();
    ZKWindow window(nullptr);
    window.show();
    // What a file manager passes: a bank to open, or sounds to add.
    window.OpenFiles(QCoreApplication::arguments().mid(1));
    // A signal whose quit a dialog's loop took before the main loop ran.
    if (QuitSignal() != 0)
        return 128 + QuitSignal();
    return app.exec();
}
