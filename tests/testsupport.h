#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>
#include <QtGlobal>

// A canonical 16-bit WAVE holding the given interleaved samples.
QByteArray Wav16(quint16 channels, quint32 rate, const QVector<qint16> &samples);

// Writes bytes to a file (creating folders as needed); fails the test on error.
bool WriteBytes(const QString &path, const QByteArray &bytes);

// A canonical 16-bit WAVE of `frames` frames of silence. The data is made by
// extending the file, so even minutes of sound take next to no disk space.
bool WriteSilentWave(const QString &path, quint16 channels, quint32 rate, qint64 frames);

// Makes a fresh, empty folder the working directory for as long as it lives,
// as a user starting the program somewhere new, then restores the old one.
class FreshWorkingFolder
{
public:
    FreshWorkingFolder();
    ~FreshWorkingFolder();
    FreshWorkingFolder(const FreshWorkingFolder &) = delete;
    FreshWorkingFolder &operator=(const FreshWorkingFolder &) = delete;
    QString path() const { return folder.path(); }

private:
    QTemporaryDir folder;
    QString previous;
};

// Every file and folder below `root`, as sorted relative paths.
QStringList FolderTree(const QString &root);

// Columns code, title, text and warning (warning icon rather than critical)
// with a row for every result code's message, and for codes that have none.
void AddResultMessageRows();

// Points QSettings at a private folder so tests never read or write the
// user's own settings.
void UsePrivateSettings(const QString &folder);

#endif
