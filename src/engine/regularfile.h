#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// Files named by downloaded content (kits, banks, their includes) are opened
// once, without blocking, and refused unless they are regular files: a FIFO
// or a device would otherwise make open() or read() wait for ever, and
// checking the name before opening it would let one be swapped in between.

// The file opened for reading; null with `error` ("no such file", "not a
// regular file", the system's reason) when it can't be.
std::shared_ptr<QFile> OpenRegularFile(const QString &path, QString *error);

// The whole file, when it is a regular file of at most `maxBytes`; false
// with `error` otherwise ("larger than N bytes" when it is too large). Reads
// no more than `maxBytes` + 1 bytes whatever the file claims.
bool ReadRegularFile(const QString &path, qint64 maxBytes, QByteArray *data, QString *error);

#endif
