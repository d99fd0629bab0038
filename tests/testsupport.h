#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

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

// --- running zkstool, which sits beside the tests -----------------------------

struct ToolRun {
    int exitCode = -1; // -1: did not start, crashed or hung
    QString out;
    QString err;
};

// Runs `program` to its end in `environment`. One that hangs is killed after
// five minutes, so it fails its test rather than stalls the suite.
ToolRun RunCommand(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment
                   = QProcessEnvironment::systemEnvironment());
// Runs zkstool to its end, with TMPDIR set to `tempFolder` when one is given
// and the logging rules `loggingRules` (QT_LOGGING_RULES) when any are.
ToolRun RunTool(const QStringList &arguments, const QString &tempFolder = QString(),
                const QString &loggingRules = QString());
// A run's exit status and output, for a failure message.
QString Show(const ToolRun &run);

#ifdef Q_OS_LINUX
// A process's parent and state letter, read from /proc; false once it is
// gone.
bool ProcessStatus(qint64 pid, qint64 *parent, char *state);
// Waits until a signalled stop has taken hold (or the process has ended).
bool WaitUntilStopped(qint64 pid);

// A signal that the test runner ignores would be ignored by zkstool too, as
// it keeps the caller's choice; while this lives, children get the default.
class DefaultDisposition
{
public:
    explicit DefaultDisposition(int number);
    ~DefaultDisposition();
    DefaultDisposition(const DefaultDisposition &) = delete;
    DefaultDisposition &operator=(const DefaultDisposition &) = delete;

private:
    int number_;
    struct sigaction previous_ = {};
};
#endif

#endif
