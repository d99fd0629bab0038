#ifndef SOUNDQUEUE_H
#define SOUNDQUEUE_H

#include <QPoint>
#include <QString>
#include <QStringList>

class QDropEvent;
class QMimeData;

// Adding several sounds at once, dropped on the window or chosen together:
// each goes through the conversion and checks of a single one, and the
// refused ones are told together at the end.

// The local files a drop holds, in the order given.
QStringList DroppedFilePaths(const QMimeData *data);

// Where a drag or drop is, in the receiving widget's coordinates.
QPoint DropEventPosition(const QDropEvent *event);

// True when a refusal with `code` is about the file itself (it could not be
// read or converted) rather than about the bank it would go into.
bool RefusalIsAboutFile(int code);

// One line of the summary of refused sounds: "notes.txt: File Error
// (Format not recognised.)".
QString RefusalLine(const QString &file, const QString &reason);

#endif
