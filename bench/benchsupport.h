// Shared by the benchmark drivers.
#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

#include <QtGlobal>

#include <cstdio>

// The sound-file module narrates every step on the debug stream; printing
// that would be measured too. Warnings and errors still show.
inline void DropDebugMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
}

#endif
