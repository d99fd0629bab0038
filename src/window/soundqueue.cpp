#include "soundqueue.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "explain.h"
#include "resultcodes.h"

QStringList DroppedFilePaths(const QMimeData *data)
{
    QStringList paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

QPoint DropEventPosition(const QDropEvent *event)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return event->position().toPoint();
#else
    return event->pos();
#endif
}

bool RefusalIsAboutFile(int code)
{
    return code == RESULT_OPEN_FAILED || code == RESULT_INCOMPATIBLE || code == RESULT_FILE_ERROR;
}

QString RefusalLine(const QString &file, const QString &reason)
{
    return AboutFile(QFileInfo(file).fileName(), reason);
}
