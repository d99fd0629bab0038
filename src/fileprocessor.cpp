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

namespace {

constexpr int kHeaderSize = 44;
constexpr int kMaxNameLength = 60;
constexpr quint32 kMinDataSize = 512;
constexpr quint32 kMaxDataSize = 3141631; // 0x2FEFFF: the largest layer is 0x2FF000

std::unique_ptr<QTemporaryDir> workDir;

quint8 ByteAt(const QByteArray &header, int offset)
{
    return static_cast<quint8>(header.at(offset));
}

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

QByteArray ReadWavHeader(QFile &file)
{
    if (!file.isOpen() || !file.seek(0))
        return QByteArray();
    return file.read(kHeaderSize);
}

bool HasDataTag(const QByteArray &header)
{
    return header.size() >= 40 && header.mid(36, 4) == QByteArrayLiteral("data");
}

qint32 WavDataSize(const QByteArray &header)
{
    // Built from the bytes that are present, so a short header yields what
    // it holds and a field of 2^31 or more reads as negative.
    quint32 size = 0;
    for (int i = 0; i < 4 && 40 + i < header.size(); ++i)
        size |= quint32(ByteAt(header, 40 + i)) << (8 * i);
    return static_cast<qint32>(size);
}

bool IsStereo(const QByteArray &header)
{
    return header.size() > 22 && ByteAt(header, 22) == 2;
}

bool IsBankFormat(const QByteArray &header)
{
    // Format tag 1 (PCM), 16 bits, and the low 16 bits of 44100 Hz.
    return header.size() > 34 && ByteAt(header, 20) == 1 && ByteAt(header, 34) == 16
        && ByteAt(header, 24) == 0x44 && ByteAt(header, 25) == 0xAC;
}

quint32 WavSampleRate(const QByteArray &header)
{
    quint32 rate = 0;
    for (int i = 0; i < 4 && 24 + i < header.size(); ++i)
        rate |= quint32(ByteAt(header, 24 + i)) << (8 * i);
    return rate;
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
    if (!file.open(QIODevice::ReadOnly)) {
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
    if (size < kMinDataSize || size > kMaxDataSize) {
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

// A converter is looked for beside the program first, then on PATH.
QString FindConverter(const QString &name)
{
    QString program = name;
#ifdef Q_OS_WIN
    program += QStringLiteral(".exe");
#endif
    if (QCoreApplication::instance()) {
        const QString local = QCoreApplication::applicationDirPath() + QLatin1Char('/') + program;
        const QFileInfo info(local);
        if (info.isFile() && info.isExecutable())
            return local;
    }
    return QStandardPaths::findExecutable(program);
}

// Runs a converter to its end; it is judged only by the file it leaves.
void RunConverter(const QString &name, const QStringList &arguments, bool trace)
{
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
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1)) {
        qDebug() << "Converter did not run:" << name << process.errorString();
        return;
    }
    const QByteArray errors = process.readAllStandardError().trimmed();
    if (!errors.isEmpty())
        qDebug() << name << errors;
}

void ReplaceWithCopy(const QString &from, const QString &to)
{
    QFile::remove(to);
    QFile::copy(from, to);
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

QString ConvertFile(QString chosen)
{
    {
        QFile probe(chosen);
        if (!probe.open(QIODevice::ReadOnly))
            return chosen;
    }
    const QString fileName = QFileInfo(chosen).fileName();
    const QString work = WorkFolder();
    if (work.isEmpty()) // no temporary location: a path that names no file
        return QDir::tempPath() + QStringLiteral("/QuadrelX8FileGen-unavailable/") + fileName;

    // The first intermediate keeps the chosen file's extension, which helps
    // the reader recognise formats without a header of their own.
    const QString suffix = QFileInfo(chosen).suffix();
    const QString wav1 = work + QStringLiteral("/tempWav1.")
        + (suffix.isEmpty() ? QStringLiteral("wav") : suffix);
    const QString wav2 = work + QStringLiteral("/tempWav2.wav");
    const QString wav3 = work + QStringLiteral("/tempWav3.wav");

    ReplaceWithCopy(chosen, wav1);
    QFile::remove(wav2);
    RunConverter(QStringLiteral("sndfile-convert-to-microsoft-pcm16"), {wav1, wav2}, true);
    QFile::remove(wav3);

    QByteArray header;
    {
        QFile second(wav2);
        if (second.open(QIODevice::ReadOnly))
            header = ReadWavHeader(second);
    }
    // A second intermediate too short to carry a rate gives no third one.
    if (header.size() >= 28) {
        const quint32 rate = WavSampleRate(header);
        if (rate == 44100)
            ReplaceWithCopy(wav2, wav3);
        else
            RunConverter(QStringLiteral("sr-convert"),
                         {wav2, QString::number(rate), wav3, QStringLiteral("44100")}, false);
    }

    const QString folder = NewResultFolder(work);
    const QString result = folder + QLatin1Char('/') + fileName;
    if (QFile::exists(wav3))
        QFile::rename(wav3, result);
    else
        QDir(work).rmdir(QFileInfo(folder).fileName());

    QFile::remove(wav1);
    QFile::remove(wav2);
    QFile::remove(wav3);
    return result;
}

qint32 GenerateZKS(GeneratorArgs)
{
    return GENERATE_TARGET_FAILED;
}
