#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The sound-file module narrates every step on the debug stream; millions
// of runs would drown in it.
inline void DropMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// A private folder for the files a run writes, in memory when the system
// has a RAM disk: the generator syncs every bank it writes to disk.
inline QString ScratchFolder()
{
    static const QTemporaryDir folder((QDir(QStringLiteral("/dev/shm")).exists()
                                           ? QStringLiteral("/dev/shm")
                                           : QDir::tempPath())
                                      + QStringLiteral("/zkfuzz-XXXXXX"));
    if (!folder.isValid())
        std::abort();
    return folder.path();
}

inline QByteArray Bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

inline void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

// A broken promise is a finding: libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition,      \
                         __FILE__, __LINE__);                                   \
            std::abort();                                                       \
        }                                                                       \
    } while (false)

#endif
