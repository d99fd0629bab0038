#include "fileprocessor.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <memory>

#include "resultcodes.h"
#include "soundinfo.h"
#include "zkslayout.h"

namespace {

constexpr int kMaxNameLength = 60;
constexpr quint32 kMinDataSize = 512;

std::unique_ptr<QTemporaryDir> workDir;

} // namespace

QString WorkFolder()
{
    if (!workDir || !workDir->isValid())
        workDir = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                                  + QStringLiteral("/QuadrelX8FileGen-XXXXXX"));
    if (!workDir->isValid())
        return QString();
    return workDir->path();
}

void RemoveWorkFolder()
{
    workDir.reset();
}

int OpenAndCheckFile(QString path)
{
    if (path.isEmpty()) {
        qDebug() << "No file choosen";
        return RESULT_NO_FILE;
    }
    if (QFileInfo(path).fileName().size() > kMaxNameLength)
        return RESULT_NAME_TOO_LONG;

    qDebug() << path << "File opening";
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        qDebug() << "Unable to open " << path;
        return RESULT_OPEN_FAILED;
    }
    const QByteArray header = ReadWavHeader(file);
    file.close();

    if (!HasDataTag(header)) {
        qDebug() << "format of file is apple-similar. Escaped";
        return RESULT_INCOMPATIBLE;
    }
    const quint32 size = static_cast<quint32>(WavDataSize(header));
    if (size < kMinDataSize || size > kLargestCheckedDataSize) {
        qDebug() << "File is too big";
        return RESULT_TOO_BIG;
    }
    const bool stereo = IsStereo(header);
    if (!IsBankFormat(header)) {
        qDebug() << "Incompatible format of file";
        return RESULT_FILE_ERROR;
    }
    qDebug() << "Measured waveform's length is " << size << "bytes";

    // The bank keeps one channel; every layer ends with at least one
    // 512-byte block that is partly or wholly padding.
    const quint32 audio = stereo ? size / 2 : size;
    const int layerSize = static_cast<int>((audio & ~quint32(511)) + 512);
    qDebug() << "Trimmed waveform's length is " << layerSize << "bytes";
    return layerSize;
}

namespace {

// A converter is looked for beside the program first (the build folder, or
// an unpacked copy), then where an installed program keeps its helpers
// (bin/../libexec/quadrelx8filegen), then on PATH.
QString FindConverter(const QString &name)
{
    QString program = name;
#ifdef Q_OS_WIN
    program += QStringLiteral(".exe");
#endif
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        for (const QString &candidate :
             {folder + QLatin1Char('/') + program,
              folder + QStringLiteral("/../libexec/quadrelx8filegen/") + program}) {
            const QFileInfo info(candidate);
            if (info.isFile() && info.isExecutable())
                return QDir::cleanPath(candidate);
        }
    }
    return QStandardPaths::findExecutable(program);
}

// How often a running converter is checked for cancellation.
constexpr int kConverterWaitSliceMs = 50;

// Runs a converter to its end, or kills it once `cancelled` is set; it is
// judged only by the file it leaves.
void RunConverter(const QString &name, const QStringList &arguments, bool trace,
                  const std::atomic<bool> &cancelled)
{
    if (cancelled)
        return;
    const QString program = FindConverter(name);
    if (trace)
        qDebug() << (QStringList(program.isEmpty() ? name : program) + arguments).join(QLatin1Char(' '));
    if (program.isEmpty()) {
        qDebug() << "Converter not found:" << name;
        return;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        qDebug() << "Converter did not run:" << name << process.errorString();
        return;
    }
    while (!process.waitForFinished(kConverterWaitSliceMs)) {
        if (process.state() == QProcess::NotRunning) {
            qDebug() << "Converter did not run:" << name << process.errorString();
            return;
        }
        if (cancelled) {
            process.kill();
            process.waitForFinished(-1);
            qDebug() << "Converter stopped:" << name;
            return;
        }
    }
    const QByteArray errors = process.readAllStandardError().trimmed();
    if (!errors.isEmpty())
        qDebug() << name << errors;
}

// A fresh numbered subfolder of the working folder for one conversion's
// result, so equally named files never replace each other's result.
QString NewResultFolder(const QString &work)
{
    static int next = 1;
    QDir dir(work);
    while (dir.exists(QString::number(next)))
        ++next;
    const QString name = QString::number(next++);
    dir.mkdir(name);
    return dir.filePath(name);
}

} // namespace

namespace {

// Only regular files are read: opening a named pipe or a device would wait
// for ever, with the window unable to respond.
bool IsReadableFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile probe(path);
    return probe.open(QIODevice::ReadOnly);
}

} // namespace

QString ConvertFile(QString chosen)
{
    static const std::atomic<bool> never(false);
    return ConvertFile(std::move(chosen), never);
}

QString ConvertFile(QString chosen, const std::atomic<bool> &cancelled)
{
    if (chosen.isEmpty() || !IsReadableFile(chosen))
        return chosen;
    const QString fileName = QFileInfo(chosen).fileName();
    const QString work = WorkFolder();
    if (work.isEmpty()) // no temporary location: a path that names no file
        return QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-unavailable/") + fileName;

    // The first converter reads the chosen file itself (it is started with
    // an argument list, so any name is safe); its output at the source's rate
    // and, when that is not 44100 Hz, the resampled one are the intermediates.
    const QString converted = work + QStringLiteral("/tempWav2.wav");
    const QString resampled = work + QStringLiteral("/tempWav3.wav");
    QFile::remove(converted);
    RunConverter(QStringLiteral("sndfile-convert-to-microsoft-pcm16"), {chosen, converted}, true,
                 cancelled);
    QFile::remove(resampled);

    // A cancelled first step leaves nothing to read, so no second one runs.
    QByteArray header;
    if (!cancelled) {
        QFile second(converted);
        if (second.open(QIODevice::ReadOnly))
            header = ReadWavHeader(second);
    }
    // A converter output too short to carry a rate gives no result.
    QString finished;
    if (header.size() >= 28) {
        const quint32 rate = WavSampleRate(header);
        if (rate == 44100) {
            finished = converted;
        } else {
            RunConverter(QStringLiteral("sr-convert"),
                         {converted, QString::number(rate), resampled, QStringLiteral("44100")},
                         false, cancelled);
            finished = resampled;
        }
    }

    const QString folder = NewResultFolder(work);
    const QString result = folder + QLatin1Char('/') + fileName;
    if (cancelled || finished.isEmpty() || !QFile::rename(finished, result))
        QDir(work).rmdir(QFileInfo(folder).fileName());
    QFile::remove(converted);
    QFile::remove(resampled);
    return result;
}

void DiscardConverted(const QString &path)
{
    // Only ever a result of ConvertFile, in a numbered folder of the working
    // folder: never a file of the user's.
    if (!workDir || !workDir->isValid())
        return;
    QDir folder = QFileInfo(path).dir();
    const QString number = folder.dirName();
    if (!folder.cdUp() || folder.absolutePath() != QDir(workDir->path()).absolutePath())
        return;
    QFile::remove(path);
    folder.rmdir(number);
}

