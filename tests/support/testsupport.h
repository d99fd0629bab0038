#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <initializer_list>
#include <memory>

#ifdef Q_OS_UNIX
#include <signal.h>
class BankDocument;
// The layer files and trimmed copies `bank` holds (an imported layer's
// among them), each after its folder, as FolderTree names them under the
// working folder.
QStringList LayerFilesInUse(const BankDocument &bank);

#endif

class QProcess;

// Samples as the 16-bit little-endian PCM a WAVE's data chunk holds; the
// int forms take a test table's column or a list written out in a test.
QByteArray Pcm(const QVector<qint16> &samples);
QByteArray Pcm(const QVector<int> &samples);
QByteArray Pcm(std::initializer_list<int> samples);

// A canonical 16-bit WAVE holding the given interleaved samples.
QByteArray Wav16(quint16 channels, quint32 rate, const QVector<qint16> &samples);

// `count` mono samples counting up from `first`, none of them silent, so
// every byte of a region can be traced back to its source.
QVector<qint16> Ramp(int count, int first = 1000);

// A 1 kHz sine at the bank's rate whose peak lies at `dbfs`: its RMS reads
// 3.01 dB lower.
QVector<qint16> Sine1k(int frames, double dbfs);

// Alternating +-amplitude: its RMS is the amplitude itself.
QVector<qint16> Square(int frames, qint16 amplitude);

// Stereo frames of a left and a right channel of the same length.
QVector<qint16> Interleaved(const QVector<qint16> &left, const QVector<qint16> &right);

// --- SoundFont 2 files written by the tests ------------------------------------

// One generator as a zone lists it: the format's number and its amount.
struct Sf2Gen {
    int oper;
    int amount;
};

// A key or velocity range generator's amount.
int Sf2Range(int lo, int hi);

struct Sf2TestSample {
    QString name;
    QVector<qint16> pcm;
    QByteArray low; // the 24-bit data's low bytes, one per frame; empty: 16-bit
    int rate = 44100;
    int pitch = 60;
    int correction = 0;
    int type = 1; // mono
    int link = 0;
    // Written in place of the true points when not -1, to make broken files.
    qint64 start = -1;
    qint64 end = -1;
    qint64 loopEnd = -1;
};

// A preset or instrument: its zones' generators, written as listed (a zone
// names its instrument or sample with the last one, as the format wants).
struct Sf2TestPart {
    QString name;
    QVector<QVector<Sf2Gen>> zones;
    int bank = 0;
    int program = 0;
};

struct Sf2TestFont {
    QString name = QStringLiteral("Test Font");
    int major = 2;
    int minor = 4;
    QVector<Sf2TestSample> samples;
    QVector<Sf2TestPart> instruments;
    QVector<Sf2TestPart> presets;
    int modulatorsPerZone = 0;
};

// The font as a SoundFont 2 file: each sample followed by 46 silent points,
// an sm24 chunk when any sample has low bytes, every list closed by its
// terminal record.
QByteArray Sf2File(const Sf2TestFont &font);

// A small SoundFont of two presets, each sample 22050 frames of a 1 kHz sine
// sounding at key 36:
// "Drums" (bank 128, program 0) plays "soft" on key 36 at velocities 1..63
// and "hard" above (attenuated by `hardAttenuation` centibels), and "tom"
// on key 38 with root key 45, a fifth above; "Melody" (0:0) plays "tom" on
// key 84, its root there.
Sf2TestFont TwoPresetFont(int hardAttenuation = 0);

// Writes interleaved 16-bit samples as a sound file in any format libsndfile
// writes (creating folders as needed).
bool WriteSound(const QString &path, int format, int channels, int rate,
                const QVector<qint16> &samples);

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

// A file's bytes; empty when it cannot be read.
QByteArray ReadAll(const QString &path);

// Every file and folder below `root`, as sorted relative paths.
QStringList FolderTree(const QString &root);

// Every entry below `root` with its content (a link: its target), to show
// that nothing changed.
QMap<QString, QByteArray> Snapshot(const QString &root);

// A bank without its random tag, so banks made at different times compare.
QByteArray WithoutTag(QByteArray bank);

// The default thresholds for `count` layers, all eight slots of them.
QVector<int> DefaultSpread(int count);

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
// What zkstool info --json says of a bank.
QJsonObject InfoJson(const QString &bank);
// The thresholds of a bank's layers, as zkstool info --json reads them.
QVector<int> StoredThresholds(const QString &bank);
// Runs zkstool as RunTool does, allowed only `descriptors` open files (by
// the shell's ulimit), to see it run out of them.
ToolRun RunToolWithDescriptors(int descriptors, const QStringList &arguments, const QString &tempFolder);
// Runs a zkstool command that makes banks into `outFolder` with so few
// file descriptors that it runs out of them, and says what is wrong with how
// it stopped: it must exit with 1 and the line saying why, skip no bank for
// a reason that is not the bank's own, leave no working folder in
// `tempFolder`, and every bank it wrote must be whole. Empty when nothing is.
QString StopForWantOfDescriptorsProblem(const QStringList &arguments, const QString &tempFolder,
                                        const QString &outFolder);
// Starts zkstool in `process` and returns at once, with TMPDIR set to
// `tempFolder`, for a test that acts on the tool while it runs.
void StartTool(QProcess &process, const QStringList &arguments, const QString &tempFolder);
// Checks `seen` every few milliseconds while `process` runs, for up to two
// minutes; true once it held.
bool SeenWhileRunning(QProcess &process, const std::function<bool()> &seen);
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
class BankDocument;
// The layer files and trimmed copies `bank` holds (an imported layer's
// among them), each after its folder, as FolderTree names them under the
// working folder.
QStringList LayerFilesInUse(const BankDocument &bank);

#endif

class BankDocument;
// The layer files and trimmed copies `bank` holds (an imported layer's
// among them), each after its folder, as FolderTree names them under the
// working folder.
QStringList LayerFilesInUse(const BankDocument &bank);

#endif
