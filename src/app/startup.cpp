#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#if defined(Q_OS_WIN)
#include <windows.h>
#endif

QString ExecutableFolder()
{
    // QCoreApplication::applicationDirPath() needs the application object,
    // and the plug-in list must be settled before it exists.
#if defined(Q_OS_WIN)
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, DWORD(sizeof buffer / sizeof *buffer));
    if (length == 0 || length >= sizeof buffer / sizeof *buffer)
        return QString();
    return QFileInfo(QString::fromWCharArray(buffer, int(length))).absolutePath();
#elif defined(Q_OS_LINUX)
    const QString target = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return target.isEmpty() ? QString() : QFileInfo(target).absolutePath();
#else
    return QString();
#endif
}

void WidenLibraryPaths()
{
    // Plug-ins shipped beside the program are found there, never in the
    // folder the program was started from: a stranger's folder could hold a
    // library that would run as the user.
    const QString folder = ExecutableFolder();
    if (folder.isEmpty())
        return;
    const QDir dir(folder);
    QStringList paths = QCoreApplication::libraryPaths();
    paths << dir.absolutePath() << dir.absoluteFilePath(QStringLiteral("imageformats"))
          << dir.absoluteFilePath(QStringLiteral("platforms"))
          << dir.absoluteFilePath(QStringLiteral("sqldrivers"));
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
