#include "startup.h"

#include <QCoreApplication>
#include <QStringList>

void WidenLibraryPaths()
{
    // Relative entries: plug-ins shipped beside the program are found from
    // the working folder.
    QStringList paths = QCoreApplication::libraryPaths();
    paths << QStringLiteral(".") << QStringLiteral("imageformats") << QStringLiteral("platforms")
          << QStringLiteral("sqldrivers");
    QCoreApplication::setLibraryPaths(paths);
}

bool DisplayAvailable(int argc, char **argv)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0)
            return true;
    }
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return true;
#endif
}
